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
  all.kwdBufSize = myGlobsP->kwdBufSize;
  all.openTagSize = myGlobsP->openTagSize;
  all.closeTagSize = myGlobsP->closeTagSize;
  all.mappingCount = myGlobsP->mappingCount;
  all.hashLnRef = myGlobsP->hashLnRef;
  all.hashS1Ref = myGlobsP->hashS1Ref;
  /* The per-call fields: each size and option as it stands, and how many of
     the buffers and handles are set. */
  all.callBuffers = 0;
#define VIEW_BUFFER(pointer, size, reach) \
  all.size = myGlobsP->size;       \
  all.callBuffers += myGlobsP->pointer != 0;
#define VIEW_OPTION(flag) all.flag = myGlobsP->flag;
#define VIEW_HANDLE(handle) all.hasCallback = myGlobsP->handle != 0;
  MORAVEL_CALL_FIELDS(VIEW_BUFFER, VIEW_OPTION, VIEW_HANDLE)
#undef VIEW_BUFFER
#undef VIEW_OPTION
#undef VIEW_HANDLE
  long n = info->structSize < all.structSize ? info->structSize : all.structSize;
  if (n <= 0) return 0;
  memcpy(info, &all, (size_t)n);
  info->structSize = n;
  return n;
}

#endif
