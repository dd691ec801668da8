/* moravel_testexports.h: what a test build of the plug-in exports beside its entry, for hosts that check it. */
#ifndef MORAVEL_TESTEXPORTS_H
#define MORAVEL_TESTEXPORTS_H

/* Readiness codes of the state record. */
#define MORAVEL_SIG_INIT 0x494E4954u
#define MORAVEL_SIG_COOL 0x434F4F4Cu
#define MORAVEL_SIG_ERRR 0x45525252u

/* The steps of reading a file that a test build can be told to fail. */
enum MoravelFileStep {
  kFileStepNone = 0,
  kFileStepOpen = 1,
  kFileStepSize = 2,
  kFileStepSeek = 3,
  kFileStepRead = 4,
  kFileStepClose = 5
};

/* The state record as a test sees it. The caller sets structSize to the
   size it knows; the plug-in fills what both know and says how much. */
typedef struct MoravelRecordInfo {
  long structSize;
  unsigned long sig;
  long bufferSize, bufOutSize, tagBufSize, subBufSize, kwdBufSize;
  long openTagSize, closeTagSize, mappingCount;
  long forceEval, internStrip, senseBrackets;
  long hashLnRef, hashS1Ref;
  long callBuffers; /* how many per-call buffers are set */
  long hasCallback; /* whether a host handle is kept */
} MoravelRecordInfo;

/* The exports, by name and type. */
#define MORAVEL_TEST_RECORD_INFO "MoravelTestRecordInfo"
typedef long (*MoravelTestRecordInfoFn)(const void *record, MoravelRecordInfo *info);
#define MORAVEL_TEST_SET_ALLOC_FAILURE "MoravelTestSetAllocFailure"
typedef void (*MoravelTestSetAllocFailureFn)(long nth, int persistent);
#define MORAVEL_TEST_SET_FILE_FAILURE "MoravelTestSetFileFailure"
typedef void (*MoravelTestSetFileFailureFn)(int step);
#define MORAVEL_TEST_LIVE_BLOCKS "MoravelTestLiveBlocks"
#define MORAVEL_TEST_ALLOCATIONS "MoravelTestAllocations"
#define MORAVEL_TEST_BEEPS "MoravelTestBeeps"
#define MORAVEL_TEST_OPEN_FILES "MoravelTestOpenFiles"
#define MORAVEL_TEST_FILE_FAULTS "MoravelTestFileFaults"
typedef long (*MoravelTestCounterFn)(void);

#endif
