/* testhooks.h: allocation failures and block counting, compiled into test builds only. */
#ifndef MORAVEL_TESTHOOKS_H
#define MORAVEL_TESTHOOKS_H

#include "../platform/qtypes.h"

#ifdef MORAVEL_TEST_HOOKS
/* Whether the allocation being attempted must fail; counts it either way. */
qbool TestAllocShouldFail(void);
/* Counts a block obtained, a block released, a bell sounded: the tests
   compare the first two to find a block that was not released. */
void TestNoteAlloc(void);
void TestNoteFree(void);
void TestNoteBeep(void);
#else
#define TestAllocShouldFail() 0
#define TestNoteAlloc() ((void)0)
#define TestNoteFree() ((void)0)
#define TestNoteBeep() ((void)0)
#endif

#endif
