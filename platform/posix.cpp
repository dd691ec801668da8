/* posix.cpp: memory, file steps and catalogue strings for POSIX systems. */
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <malloc.h>
#include <stdint.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../glue/testhooks.h"
#include "catalogue_strings.h"
#include "platform.h"

static const char kDelimOrder[3] = {'/', '\\', ':'};

qchar PlatDelim(void) { return (qchar)kDelimOrder[0]; }
const char *PlatDelimOrder(void) { return kDelimOrder; }

/* The pages of a very large block (one the C library maps afresh for each
   request) are made present in one request rather than one fault at a time,
   since the caller writes them all: a new block is filled or cleared next,
   and the part a resize adds is cleared. */
enum { kPopulateFrom = 32 << 20 };

#ifdef MADV_POPULATE_WRITE
static size_t UsableSize(void *block) { return malloc_usable_size(block); }

static void Populate(uint8_t *block, size_t from, size_t to)
{
  uintptr_t page = (uintptr_t)sysconf(_SC_PAGESIZE);
  uintptr_t start = ((uintptr_t)(block + from) + page - 1) & ~(page - 1);
  uintptr_t end = (uintptr_t)(block + to) & ~(page - 1);
  if (to >= kPopulateFrom && end > start) madvise((void *)start, end - start, MADV_POPULATE_WRITE);
}
#else
static size_t UsableSize(void *) { return 0; }
static void Populate(uint8_t *, size_t, size_t) {}
#endif

void *PlatAlloc(qlong size)
{
  uint8_t *block = (uint8_t *)calloc(1, (size_t)size);
  if (block) Populate(block, 0, (size_t)size);
  return block;
}

void PlatFree(void *block) { free(block); }

void *PlatResize(void *block, qlong size)
{
  size_t old = UsableSize(block);
  uint8_t *resized = (uint8_t *)realloc(block, (size_t)size);
  if (resized && (size_t)size > old) Populate(resized, old, (size_t)size);
  return resized;
}

/* There is no console bell worth sounding inside someone else's process. */
void PlatBeep(void) { TestNoteBeep(); }

/* Opened without waiting, so that a named pipe without a writer cannot
   stall the host in the open; read as a shell tool reads, waiting for data. */
qshort PlatOpenFile(const void *name, PlatFile *file)
{
  int fd = open((const char *)name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  file->ref = fd;
  if (fd < 0) return kErrOpen;
  int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return kErrNone;
}

/* Only a regular file with a size knows its length: a pipe, a device or a
   file of the kernel's (whose size reads 0) is read to its end. */
qshort PlatFileSize(const PlatFile *file, int64_t *size)
{
  struct stat st;
  if (fstat((int)file->ref, &st) != 0 || st.st_size < 0) return kErrRead;
  *size = S_ISREG(st.st_mode) && st.st_size > 0 ? (int64_t)st.st_size : (int64_t)kPlatSizeUnknown;
  return kErrNone;
}

qshort PlatSeekFileStart(const PlatFile *file)
{
  return lseek((int)file->ref, 0, SEEK_SET) == 0 ? (qshort)kErrNone : (qshort)kErrRead;
}

qshort PlatReadFile(const PlatFile *file, uint8_t *buffer, qlong count, qlong *got)
{
  *got = 0;
  while (*got < count) {
    ssize_t n = read((int)file->ref, buffer + *got, (size_t)(count - *got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return kErrRead;
    }
    if (n == 0) break;
    *got += (qlong)n;
  }
  return kErrNone;
}

qshort PlatCloseFile(const PlatFile *file) { return close((int)file->ref) == 0 ? (qshort)kErrNone : (qshort)kErrRead; }

/* Catalogue strings, answered from the texts the build compiled in. */
#if MORAVEL_UNICODE
void GetResourceOstr(oschar *buf, qlong maxlen, qlong strid, qlong index, qbool isPstring)
#else
void GetResourceOstr(char *buf, qlong maxlen, qlong strid, qlong index, qbool isPstring)
#endif
{
  (void)isPstring;
  if (maxlen <= 0) return;
  buf[0] = 0;
  qlong id = strid + index - kCatalogueFirstId;
  if (id < 0 || id >= kCatalogueCount) return;
  const char *text = kCatalogue[id];
  qlong n = 0;
  while (text[n] && n < maxlen - 1) {
    buf[n] = (uint8_t)text[n];
    n++;
  }
  buf[n] = 0;
}
