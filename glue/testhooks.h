/* testhooks.h: fault injection and block counting, compiled into test builds only. */
#ifndef MORAVEL_TESTHOOKS_H
#define MORAVEL_TESTHOOKS_H

#include "qtypes.h"
#include "../plugin/include/moravel_testexports.h"

#ifdef MORAVEL_TEST_HOOKS
/* Whether the allocation being attempted must fail; counts it either way. */
qbool TestAllocShouldFail(void);
void TestNoteAlloc(void);
void TestNoteFree(void);
void TestNoteBeep(void);
/* Whether this step of reading a file must fail. */
qbool TestFileStepShouldFail(enum MoravelFileStep step);
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
