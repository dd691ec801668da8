/* callback.cpp: host requests through the host's request function. */
#include "callback.h"
#include "callback_numbers.h"
#include "kxpqutil.h"

#include "omstring.h"

qshort GetFldRef(qchar *name, tCallback callback)
{
  _str255 str;
  sthandle(name, &str);
  return callback(kReqGetFldRef, &str);
}

qshort GetFldInt(qshort fldref, tCallback callback)
{
  double val = 0;
  callback(kReqGetFldInt, (int)fldref, &val);
  return NumToShort(val);
}

void SetFldInt(qshort fldref, qlong val, tCallback callback)
{
  double num = (double)val;
  callback(kReqSetFldInt, (int)fldref, &num);
}

void GetFldVal(qshort fldref, qshort fmt, qlong maxlen, void *val, tCallback callback)
{
  callback(kReqGetFldVal, (int)fldref, (int)fmt, (int)maxlen, val);
}

void SetFldVal(qshort fldref, qshort fmt, void *val, tCallback callback)
{
  callback(kReqSetFldVal, (int)fldref, (int)fmt, val);
}

void GetLstVal(qshort listno, qlong lineno, qshort fldref, qshort fmt, qlong maxlen, void *val,
               tCallback callback)
{
  q_ lm;
  lm.lineno = lineno;
  lm.maxlen = maxlen;
  callback(kReqGetLstVal, (int)listno, (int)fldref, (int)fmt, val, &lm);
}

qshort GetLstInt(qshort listno, qlong lineno, qshort fldref, tCallback callback)
{
  double val = 0;
  callback(kReqGetLstInt, (int)listno, (int)lineno, (int)fldref, &val);
  return NumToCount(val);
}

void SetLstVal(qshort listno, qlong lineno, qshort fldref, qshort fmt, void *val, tCallback callback)
{
  callback(kReqSetLstVal, (int)listno, (int)lineno, (int)fldref, (int)fmt, val);
}

qbyte DoListOp(qshort lop, qshort listno, qlong lineno, tCallback callback)
{
  return (qbyte)callback(kReqDoListOp, (int)lop, (int)listno, (int)lineno);
}

void GetListDef(qshort fldref, qshort len, qchar *def, tCallback callback)
{
  callback(kReqGetListDef, (int)fldref, (int)len, def);
}

void PurgeFldRef(qshort fldref, tCallback callback)
{
  callback(kReqPurgeFldRef, (int)fldref);
}

void GetNamedVal(qshort fldref, qchar *name, qshort fmt, qlong maxlen, void *val, tCallback callback)
{
  _str255 str;
  _xfldvalue xv;
  sthandle(name, &str);
  xv.name = &str;
  xv.val = val;
  callback(kReqGetNamedVal, (int)fldref, (int)fmt, (int)maxlen, &xv);
}

void EvalCalcString(qchar *procstr, qshort returnfldref, tCallback callback)
{
  _str255 str;
  sthandle(procstr, &str);
  callback(kReqEvalCalcString, &str, (int)returnfldref);
}

void CallProcedure(qchar *name, qshort retfldref, tCallback callback)
{
  _str255 str;
  sthandle(name, &str);
  callback(kReqCallProcedure, &str, (int)retfldref);
}

qshort ExtensionInfo(omnispbrec *pb_rec, tCallback callback)
{
  callback(kReqExtensionInfo, pb_rec);
  return pb_rec->returncode;
}

#if MORAVEL_UNICODE
qshort GetFldInfo(omnispbrec *pb_rec, tCallback callback)
{
  callback(kReqGetFldInfo, pb_rec);
  TerminateStr255(&pb_rec->name);
  return pb_rec->returncode;
}
#endif

qshort GetFldInfo2(_FldInfoRec *fi, tCallback callback)
{
  if (fi->ver != -1) fi->ver = 1;
  return callback(kReqGetFldInfo2, fi);
}

qshort GetPackageId(tCallback callback)
{
  qlong id = 0;
  callback(kReqGetPackageId, &id);
  return (qshort)id;
}

void *GetDesignPtr(tCallback callback)
{
  void *ptr = 0;
  callback(kReqGetDesignPtr, &ptr);
  return ptr;
}
