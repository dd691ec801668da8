/* testhooks.h: fault injection and block counting, compiled into test builds only. */
#ifndef MORAVEL_TESTHOOKS_H
#define MORAVEL_TESTHOOKS_H

#include "qtypes.h"

#ifdef MORAVEL_TEST_HOOKS
/* Whether the allocation being attempted must fail; counts it either way. */
qbool TestAllocShouldFail(void);
void TestNoteAlloc(void);
void TestNoteFree(void);
void TestNoteBeep(void);
/* File faults: step 1 open, 2 size, 3 seek, 4 read, 5 close. */
qbool TestFileStepShouldFail(int step);
void TestNoteFileOpen(void);
void TestNoteFileClose(void);
#else
#define TestAllocShouldFail() 0
#define TestNoteAlloc() ((void)0)
#define TestNoteFree() ((void)0)
#define TestNoteBeep() ((void)0)
#define TestFileStepShouldFail(step) 0
#define TestNoteFileOpen() ((void)0)
#define TestNoteFileClose() ((void)0)
#endif

#endif
