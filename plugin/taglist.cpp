/* taglist.cpp: lists the tag texts of a template, one row per tag, in text order. */
#include "../glue/omstring.h"
#include "moravel.h"

enum { kListOpAddLine = 1 };

qshort ParseTaggedData(globals *myGlobsP, tCallback callback)
{
  qlong line = 0;
  qlong pos = 0;
  for (;;) {
    pos = NextOpenTag(myGlobsP, pos);
    if (myGlobsP->bufferP[pos] == 0) return kErrNone;
    qlong closeAt;
    qshort err = CollectTagText(myGlobsP, pos, &closeAt);
    if (err || closeAt < 0) return err;
    line++;
    DoListOp(kListOpAddLine, ParamField(kParamResult), line, callback);
    SetLstVal(ParamField(kParamResult), line, ParamField(kParamTagListColumn), fmtChar, myGlobsP->tagBufP, callback);
    pos = closeAt + myGlobsP->closeTagSize;
  }
}
