/* callback_mac.cpp: host requests through the host's parameter block of entry points. */
#include "callback.h"
#include "callback_numbers.h"
#include "kxpqutil.h"

#include "../platform/mac_api.h"
#include "omstring.h"

/* The signatures of the entries: the request's arguments, then the block. */
typedef qshort (*tEntryName)(_str255 *name, tCallback callback);
typedef qshort (*tEntryNumber)(qshort fldref, extended80 *val, tCallback callback);
typedef qshort (*tEntrySetVal)(qshort fldref, qshort fmt, void *val, tCallback callback);
typedef qshort (*tEntryGetVal)(qshort fldref, qshort fmt, qlong maxlen, void *val, tCallback callback);
typedef qshort (*tEntryGetLstVal)(qshort listno, qlong lineno, qshort fldref, qshort fmt, qlong maxlen, void *val,
                                  tCallback callback);
typedef qshort (*tEntrySetLstVal)(qshort listno, qlong lineno, qshort fldref, qshort fmt, void *val,
                                  tCallback callback);
typedef qshort (*tEntryListOp)(qshort lop, qshort listno, qlong lineno, tCallback callback);
typedef qshort (*tEntryNameRef)(_str255 *name, qshort fldref, tCallback callback);
typedef qshort (*tEntryRecord)(omnispbrec *pb_rec, tCallback callback);
typedef qlong (*tEntryPackageId)(tCallback callback);
typedef void *(*tEntryDesignPtr)(tCallback callback);
typedef qshort (*tEntryListDef)(qshort fldref, qshort len, qchar *def, tCallback callback);
typedef qshort (*tEntryRef)(qshort fldref, tCallback callback);
typedef qshort (*tEntryNamedVal)(qshort fldref, _str255 *name, qshort fmt, qlong maxlen, void *val,
                                 tCallback callback);
typedef qshort (*tEntryFldInfo2)(_FldInfoRec *fi, tCallback callback);

/* The entry at a byte offset of the host interface; null when the block has
   none there. */
#define ENTRY(callback, offset, type) \
  ((callback) ? (type)(callback)->entries[(offset) / 4] : (type)0)

qshort GetFldRef(qchar *name, tCallback callback)
{
  tEntryName entry = ENTRY(callback, kMacGetFldRef, tEntryName);
  if (!entry) return 0;
  _str255 str;
  sthandle(name, &str);
  return entry(&str, callback);
}

/* The system converts 80-bit values through a double: Mac OS X has no
   long-double forms (x80told and ldtox80 exist only in the classic PowerPC
   runtime, and its headers define them over these two). */
static long double FromX80(const extended80 *x) { return (long double)x80tod(x); }

static void ToX80(long double value, extended80 *x)
{
  double d = (double)value;
  dtox80(&d, x);
}

static void ZeroX80(extended80 *x)
{
  x->exp = 0;
  for (int i = 0; i < 4; i++) x->man[i] = 0;
}

qshort GetFldInt(qshort fldref, tCallback callback)
{
  tEntryNumber entry = ENTRY(callback, kMacGetFldInt, tEntryNumber);
  if (!entry) return 0;
  extended80 num;
  ZeroX80(&num);
  entry(fldref, &num, callback);
  return NumToShort(FromX80(&num));
}

void SetFldInt(qshort fldref, qlong val, tCallback callback)
{
  tEntryNumber entry = ENTRY(callback, kMacSetFldInt, tEntryNumber);
  if (!entry) return;
  extended80 num;
  ToX80((long double)val, &num);
  entry(fldref, &num, callback);
}

void GetFldVal(qshort fldref, qshort fmt, qlong maxlen, void *val, tCallback callback)
{
  tEntryGetVal entry = ENTRY(callback, kMacGetFldVal, tEntryGetVal);
  if (!entry) return;
  if (fmt == fmtNumber) {
    extended80 num;
    ZeroX80(&num);
    entry(fldref, fmt, maxlen, &num, callback);
    *(long double *)val = FromX80(&num);
  } else {
    entry(fldref, fmt, maxlen, val, callback);
  }
}

void SetFldVal(qshort fldref, qshort fmt, void *val, tCallback callback)
{
  tEntrySetVal entry = ENTRY(callback, kMacSetFldVal, tEntrySetVal);
  if (!entry) return;
  if (fmt == fmtNumber) {
    extended80 num;
    ToX80(*(const long double *)val, &num);
    entry(fldref, fmt, &num, callback);
  } else {
    entry(fldref, fmt, val, callback);
  }
}

void GetLstVal(qshort listno, qlong lineno, qshort fldref, qshort fmt, qlong maxlen, void *val,
               tCallback callback)
{
  tEntryGetLstVal entry = ENTRY(callback, kMacGetLstVal, tEntryGetLstVal);
  if (!entry) return;
  if (fmt == fmtNumber) {
    extended80 num;
    ZeroX80(&num);
    entry(listno, lineno, fldref, fmt, maxlen, &num, callback);
    *(long double *)val = FromX80(&num);
  } else {
    entry(listno, lineno, fldref, fmt, maxlen, val, callback);
  }
}

qshort GetLstInt(qshort listno, qlong lineno, qshort fldref, tCallback callback)
{
  tEntryGetLstVal entry = ENTRY(callback, kMacGetLstVal, tEntryGetLstVal);
  if (!entry) return 0;
  extended80 num;
  ZeroX80(&num);
  entry(listno, lineno, fldref, fmtNumber, 10, &num, callback);
  return NumToCount(FromX80(&num));
}

void SetLstVal(qshort listno, qlong lineno, qshort fldref, qshort fmt, void *val, tCallback callback)
{
  tEntrySetLstVal entry = ENTRY(callback, kMacSetLstVal, tEntrySetLstVal);
  if (!entry) return;
  if (fmt == fmtNumber) {
    extended80 num;
    ToX80(*(const long double *)val, &num);
    entry(listno, lineno, fldref, fmt, &num, callback);
  } else {
    entry(listno, lineno, fldref, fmt, val, callback);
  }
}

qbyte DoListOp(qshort lop, qshort listno, qlong lineno, tCallback callback)
{
  tEntryListOp entry = ENTRY(callback, kMacDoListOp, tEntryListOp);
  if (!entry) return 0;
  return (qbyte)entry(lop, listno, lineno, callback);
}

void GetListDef(qshort fldref, qshort len, qchar *def, tCallback callback)
{
  tEntryListDef entry = ENTRY(callback, kMacGetListDef, tEntryListDef);
  if (entry) entry(fldref, len, def, callback);
}

void PurgeFldRef(qshort fldref, tCallback callback)
{
  tEntryRef entry = ENTRY(callback, kMacPurgeFldRef, tEntryRef);
  if (entry) entry(fldref, callback);
}

void GetNamedVal(qshort fldref, qchar *name, qshort fmt, qlong maxlen, void *val, tCallback callback)
{
  tEntryNamedVal entry = ENTRY(callback, kMacGetNamedVal, tEntryNamedVal);
  if (!entry) return;
  _str255 str;
  sthandle(name, &str);
  if (fmt == fmtNumber) {
    extended80 num;
    ZeroX80(&num);
    entry(fldref, &str, fmt, maxlen, &num, callback);
    *(long double *)val = FromX80(&num);
  } else {
    entry(fldref, &str, fmt, maxlen, val, callback);
  }
}

/* A request that sends a text (a calculation, a method's name) and the field
   that receives its result. */
static void SendTextForField(qlong offset, qchar *text, qshort fldref, tCallback callback)
{
  tEntryNameRef entry = ENTRY(callback, offset, tEntryNameRef);
  if (!entry) return;
  _str255 str;
  sthandle(text, &str);
  entry(&str, fldref, callback);
}

void EvalCalcString(qchar *procstr, qshort returnfldref, tCallback callback)
{
  SendTextForField(kMacEvalCalcString, procstr, returnfldref, callback);
}

void CallProcedure(qchar *name, qshort retfldref, tCallback callback)
{
  SendTextForField(kMacCallProcedure, name, retfldref, callback);
}

qshort ExtensionInfo(omnispbrec *pb_rec, tCallback callback)
{
  tEntryRecord entry = ENTRY(callback, kMacExtensionInfo, tEntryRecord);
  if (entry) entry(pb_rec, callback);
  return pb_rec->returncode;
}

qshort GetFldInfo(omnispbrec *pb_rec, tCallback callback)
{
  tEntryRecord entry = ENTRY(callback, kMacGetFldInfo, tEntryRecord);
  if (entry) entry(pb_rec, callback);
  TerminateStr255(&pb_rec->name);
  return pb_rec->returncode;
}

qshort GetFldInfo2(_FldInfoRec *fi, tCallback callback)
{
  tEntryFldInfo2 entry = ENTRY(callback, kMacGetFldInfo2, tEntryFldInfo2);
  if (fi->ver != -1) fi->ver = 1;
  if (!entry) return 1;
  return entry(fi, callback);
}

qshort GetPackageId(tCallback callback)
{
  tEntryPackageId entry = ENTRY(callback, kMacGetPackageId, tEntryPackageId);
  if (!entry) return 0;
  return (qshort)entry(callback);
}

void *GetDesignPtr(tCallback callback)
{
  tEntryDesignPtr entry = ENTRY(callback, kMacGetDesignPtr, tEntryDesignPtr);
  if (!entry) return 0;
  return entry(callback);
}
