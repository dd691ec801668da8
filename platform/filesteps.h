/* filesteps.h: the names under which a platform file defines the system's file steps. */
#ifndef MORAVEL_FILESTEPS_H
#define MORAVEL_FILESTEPS_H

#include "platform.h"

/* A shipped build hands the system's steps out as they are. A test build
   puts its failure switch in front of them (faults.cpp), which then answers
   to the names of platform.h and reaches the system's steps by these. */
#ifdef MORAVEL_TEST_HOOKS
/* The system's steps, each as its Plat name in platform.h says. */
qshort SysOpenFile(const void *name, PlatFile *file);
qshort SysFileSize(const PlatFile *file, int64_t *size);
qshort SysSeekFileStart(const PlatFile *file);
qshort SysReadFile(const PlatFile *file, uint8_t *buffer, qlong count, qlong *got);
qshort SysCloseFile(const PlatFile *file);
#else
#define SysOpenFile PlatOpenFile
#define SysFileSize PlatFileSize
#define SysSeekFileStart PlatSeekFileStart
#define SysReadFile PlatReadFile
#define SysCloseFile PlatCloseFile
#endif

#endif
