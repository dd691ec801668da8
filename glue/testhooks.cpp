/* testhooks.cpp: the allocation switch and counters a test drives through the test build's extra exports. */
#include "testhooks.h"

#ifdef MORAVEL_TEST_HOOKS

static long sAllocAttempts;
static long sFailAt;        /* attempt number that fails; 0: none */
static int sFailPersistent; /* every attempt from sFailAt on fails */
static long sLiveBlocks;
static long sBeeps;

qbool TestAllocShouldFail(void)
{
  sAllocAttempts++;
  if (sFailAt == 0 || sAllocAttempts < sFailAt) return 0;
  if (sAllocAttempts == sFailAt || sFailPersistent) return 1;
  return 0;
}

void TestNoteAlloc(void) { sLiveBlocks++; }
void TestNoteFree(void) { sLiveBlocks--; }
void TestNoteBeep(void) { sBeeps++; }

extern "C" {
MORAVEL_EXPORT void MoravelTestSetAllocFailure(long nth, int persistent)
{
  sFailAt = nth > 0 ? sAllocAttempts + nth : 0;
  sFailPersistent = persistent;
}
MORAVEL_EXPORT long MoravelTestLiveBlocks(void) { return sLiveBlocks; }
MORAVEL_EXPORT long MoravelTestAllocations(void) { return sAllocAttempts; }
MORAVEL_EXPORT long MoravelTestBeeps(void) { return sBeeps; }
}

#endif
