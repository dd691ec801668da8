/* platform.h: what each platform file provides to the rest of the library. */
#ifndef MORAVEL_PLATFORM_H
#define MORAVEL_PLATFORM_H

#include "qtypes.h"

/* A zero-filled block of size bytes, or null. */
void *PlatAlloc(qlong size);
/* Releases a block of PlatAlloc or PlatResize; null is ignored. */
void PlatFree(void *block);
/* Releases a block of which at most the first `written` bytes may be
   non-zero (negative: not known), which saves a platform that keeps blocks
   for reuse from finding out. */
void PlatFreeWritten(void *block, qlong written);
/* The block enlarged or shrunk to size bytes, its first `keep` bytes kept
   (keep <= size) and every byte after them zero. Null when it cannot be
   had; the old block is then untouched. */
void *PlatResize(void *block, qlong keep, qlong size);
/* The caller will not read the block's first `bytes` bytes again, though it
   may still write them. A platform may give the whole pages among them back
   to the system, after which they read as zeros; blocks too small for that
   to pay are left as they are. */
void PlatDiscardHead(void *block, qlong bytes);

/* Gives back what the platform keeps between calls (released blocks kept
   for reuse); at unload, so that nothing stays behind in the host once the
   library is closed. */
void PlatReleaseKept(void);

/* The short tone of a load that could not obtain memory. */
void PlatBeep(void);

/* A file open for reading: the platform's handle of it. */
typedef struct {
  intptr_t ref;
} PlatFile;

/* The steps of reading a whole file. Each answers kErrNone or the result code
   of its failure: kErrOpen when the file cannot be opened, kErrRead when it
   was found but cannot be read. The name is in the platform's own form: its
   bytes (8-bit builds), UTF-8 (Unicode POSIX build), UTF-16 (Unicode Windows
   build), or a length byte and the bytes (Mac). */
qshort PlatOpenFile(const void *name, PlatFile *file);
/* The size in bytes, or kPlatSizeUnknown for what must be read to its end
   to be known (a pipe, a device, a file whose size reads 0). A platform may
   instead refuse such files with kErrRead. */
enum { kPlatSizeUnknown = -1 };
qshort PlatFileSize(const PlatFile *file, int64_t *size);
/* Moves to the file's first byte. */
qshort PlatSeekFileStart(const PlatFile *file);
/* Reads count bytes, or fewer when the file ends first; *got how many. */
qshort PlatReadFile(const PlatFile *file, uint8_t *buffer, qlong count, qlong *got);
/* Closes what PlatOpenFile opened; called once for each successful open,
   whatever the steps between answered. */
qshort PlatCloseFile(const PlatFile *file);

/* The platform's path delimiter and the order in which delimiter kinds are
   classified, platform first. */
/* Offered as functions rather than as constants: on i386 Mac OS X another
   unit would reach a constant through a pointer slot for the loader to
   fill, and a call needs none. */
qchar PlatDelim(void);
/* The three delimiter kinds, platform first: three characters in static
   storage, with no terminator. */
const char *PlatDelimOrder(void);

/* Catalogue string strid + index (Windows form) or entry index of list strid
   (Mac form) into the caller's buf: at most maxlen units (bytes in the 8-bit
   build, UTF-16 units in the Unicode builds) with a zero unit; empty when
   missing. Obtains no memory. */
#if MORAVEL_UNICODE
typedef oschar tResourceChar;
#else
typedef char tResourceChar;
#endif
void GetResourceOstr(tResourceChar *buf, qlong maxlen, qlong strid, qlong index, qbool isPstring);

#endif
