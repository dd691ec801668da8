/* setup.cpp: Version, SetTags, SetFilesDirectory and MapKeywordsToFields. */
#include <string.h>

#include "../glue/kxpqutil.h"
#include "../glue/omstring.h"
#include "moravel.h"

enum { kKeywordRowPad = 10 };

/* The build gives the version, from the project's one statement of it. */
#ifndef MORAVEL_VERSION
#error "MORAVEL_VERSION must name the version"
#endif

static void UpperCaseAZ(qchar *text)
{
  for (; *text; text++) *text = FoldAZ(*text);
}

void DoVersion(tCallback callback)
{
  qchar version[sizeof MORAVEL_VERSION];
  CHRcopyAsciiStringToQchar(MORAVEL_VERSION, version, 1);
  SetFldVal(kFldReturn, fmtChar, version, callback);
}

qshort DoSetTags(globals *myGlobsP, qshort paramCount, tCallback callback)
{
  if (paramCount < 2) return kErrParams;
  myGlobsP->openTag[0] = myGlobsP->closeTag[0] = 0;
  GetFldVal(kFldParam1, fmtChar, kMaxTagLen, myGlobsP->openTag, callback);
  GetFldVal(kFldParam1 + 1, fmtChar, kMaxTagLen, myGlobsP->closeTag, callback);
  myGlobsP->openTag[kMaxTagLen] = myGlobsP->closeTag[kMaxTagLen] = 0;
  myGlobsP->openTagSize = (qshort)OMstrlen(myGlobsP->openTag);
  myGlobsP->closeTagSize = (qshort)OMstrlen(myGlobsP->closeTag);
  if (!myGlobsP->openTagSize || !myGlobsP->closeTagSize) return kErrParams;
  UpperCaseAZ(myGlobsP->openTag);
  UpperCaseAZ(myGlobsP->closeTag);
  return kErrNone;
}

qshort DoSetFilesDirectory(globals *myGlobsP, qshort paramCount, tCallback callback)
{
  if (paramCount < 1) return kErrParams;
  myGlobsP->basePathP[0] = 0;
  GetFldVal(kFldParam1, fmtChar, kMaxBasePath, myGlobsP->basePathP, callback);
  myGlobsP->basePathP[kMaxBasePath] = 0;
  return kErrNone;
}

static void ReleaseColumnRefs(const OmListSpec *spec, tCallback callback)
{
  for (qshort i = 0; i < spec->colCount; i++)
    if (spec->fldRef[i]) PurgeFldRef(spec->fldRef[i], callback);
  if (spec->listRefObtained) PurgeFldRef(spec->listRef, callback);
}

/* Reads one cell of at most kMaxTagLen characters; false when it is empty. */
static qbool ReadCell(const OmListSpec *spec, qlong line, qshort column, qchar *cell, tCallback callback)
{
  cell[0] = 0;
  GetLstVal(spec->listRef, line, spec->fldRef[column], fmtChar, kMaxTagLen, cell, callback);
  cell[kMaxTagLen] = 0;
  return cell[0] != 0;
}

static qshort ReadMapping(globals *myGlobsP, const OmListSpec *spec, tCallback callback)
{
  qshort lines = GetLstInt(spec->listRef, 0, myGlobsP->hashLnRef, callback);
  if (lines <= 0) return kErrParams;

  qlong needed;
  if (!QBytes((int64_t)lines * (int64_t)(sizeof(keywordMap) / sizeof(qchar)), &needed))
    return kErrMemory;
  qchar *table = (qchar *)myGlobsP->keywordArray;
  if (!GrowBufferIfNeeded(&table, &myGlobsP->kwdBufSize, needed + kKeywordRowPad, kKwdChunkBytes, 0))
    return kErrMemory;
  myGlobsP->keywordArray = (keywordMap *)table;

  for (qlong line = 1; line <= lines; line++) {
    keywordMap *kwMapP = &myGlobsP->keywordArray[line - 1];
    if (!ReadCell(spec, line, 0, kwMapP->keyword, callback) ||
        !ReadCell(spec, line, 1, kwMapP->fieldName, callback))
      return kErrParams;
    UpperCaseAZ(kwMapP->keyword);
  }
  myGlobsP->mappingCount = lines;
  return kErrNone;
}

qshort DoMapKeywordsToFields(globals *myGlobsP, qshort paramCount, tCallback callback)
{
  if (paramCount < 1) return kErrParams;
  myGlobsP->mappingCount = 0;
  OmListSpec spec;
  memset(&spec, 0, sizeof spec);
  GetListRefs2(&spec, kFldParam1, callback);
  qshort err = spec.colCount < 2 ? (qshort)kErrParams : ReadMapping(myGlobsP, &spec, callback);
  ReleaseColumnRefs(&spec, callback);
  return err;
}
