/* testview.cpp: a test build's view of the state record, for checking its invariants. */
#include "moravel.h"

#ifdef MORAVEL_TEST_HOOKS

/* Fills info with: sig, the five sizes, the two tag sizes, mappingCount, the
   three flags, the two host references, how many per-call buffers are set,
   whether a host handle is kept. Returns how many values were written. */
extern "C" MORAVEL_EXPORT int MoravelTestRecordInfo(const void *record, long *info, int count)
{
  const globals *g = (const globals *)record;
  long all[] = {(long)g->sig,
                g->bufferSize,
                g->bufOutSize,
                g->tagBufSize,
                g->subBufSize,
                g->kwdBufSize,
                g->openTagSize,
                g->closeTagSize,
                g->mappingCount,
                g->forceEval,
                g->internStrip,
                g->senseBrackets,
                g->hashLnRef,
                g->hashS1Ref,
                (g->bufferP != 0) + (g->bufOutP != 0) + (g->tagBufP != 0) + (g->subBufP != 0),
                g->callback != 0};
  int n = 0;
  for (; n < count && n < (int)(sizeof all / sizeof all[0]); n++) info[n] = all[n];
  return n;
}

#endif
