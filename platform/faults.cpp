/* faults.cpp: the test build's file steps: each can be told to fail; open files and failed steps are counted. */
#include "../include/moravel_testexports.h"
#include "filesteps.h"

#ifdef MORAVEL_TEST_HOOKS

static int sFailStep = kFileStepNone;
static long sOpenFiles;
static long sFaults; /* steps failed on demand */

static qbool Fails(enum MoravelFileStep step)
{
  if (sFailStep != (int)step) return 0;
  sFaults++;
  return 1;
}

qshort PlatOpenFile(const void *name, PlatFile *file)
{
  if (Fails(kFileStepOpen)) return kErrOpen;
  qshort status = SysOpenFile(name, file);
  if (status == kErrNone) sOpenFiles++;
  return status;
}

qshort PlatFileSize(const PlatFile *file, int64_t *size)
{
  return Fails(kFileStepSize) ? (qshort)kErrRead : SysFileSize(file, size);
}

qshort PlatSeekFileStart(const PlatFile *file)
{
  return Fails(kFileStepSeek) ? (qshort)kErrRead : SysSeekFileStart(file);
}

qshort PlatReadFile(const PlatFile *file, uint8_t *buffer, qlong count, qlong *got)
{
  *got = 0;
  return Fails(kFileStepRead) ? (qshort)kErrRead : SysReadFile(file, buffer, count, got);
}

/* A close told to fail still closes: what a test counts is the answer. */
qshort PlatCloseFile(const PlatFile *file)
{
  qshort status = SysCloseFile(file);
  sOpenFiles--;
  return Fails(kFileStepClose) ? (qshort)kErrRead : status;
}

extern "C" {
MORAVEL_EXPORT void MoravelTestSetFileFailure(int step) { sFailStep = step; }
MORAVEL_EXPORT long MoravelTestOpenFiles(void) { return sOpenFiles; }
MORAVEL_EXPORT long MoravelTestFileFaults(void) { return sFaults; }
}

#endif
