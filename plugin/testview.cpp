/* testview.cpp: a test build's view of the state record, for checking its invariants. */
#include <string.h>

#include "../include/moravel_testexports.h"
#include "moravel.h"

#ifdef MORAVEL_TEST_HOOKS

/* Fills as much of info as the caller's structSize and this build both
   know; returns how many bytes that is. */
extern "C" MORAVEL_EXPORT long MoravelTestRecordInfo(const void *record, MoravelRecordInfo *info)
{
  const globals *myGlobsP = (const globals *)record;
  MoravelRecordInfo all;
  all.structSize = (long)sizeof all;
  all.sig = myGlobsP->sig;
  all.bufferSize = myGlobsP->bufferSize;
  all.bufOutSize = myGlobsP->bufOutSize;
  all.tagBufSize = myGlobsP->tagBufSize;
  all.subBufSize = myGlobsP->subBufSize;
  all.kwdBufSize = myGlobsP->kwdBufSize;
  all.openTagSize = myGlobsP->openTagSize;
  all.closeTagSize = myGlobsP->closeTagSize;
  all.mappingCount = myGlobsP->mappingCount;
  all.forceEval = myGlobsP->forceEval;
  all.internStrip = myGlobsP->internStrip;
  all.senseBrackets = myGlobsP->senseBrackets;
  all.hashLnRef = myGlobsP->hashLnRef;
  all.hashS1Ref = myGlobsP->hashS1Ref;
  all.callBuffers = (myGlobsP->bufferP != 0) + (myGlobsP->bufOutP != 0) + (myGlobsP->tagBufP != 0) +
                    (myGlobsP->subBufP != 0);
  all.hasCallback = myGlobsP->callback != 0;
  long n = info->structSize < all.structSize ? info->structSize : all.structSize;
  if (n <= 0) return 0;
  memcpy(info, &all, (size_t)n);
  info->structSize = n;
  return n;
}

#endif
