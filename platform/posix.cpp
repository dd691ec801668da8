/* posix.cpp: memory, file reading and catalogue strings for POSIX systems. */
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../glue/kxpqutil.h"
#include "../glue/testhooks.h"
#include "catalogue_strings.h"
#include "platform.h"

const qchar kPlatDelim = '/';
const char kPlatDelimOrder[3] = {'/', '\\', ':'};

void *PlatAlloc(qlong size) { return calloc(1, (size_t)size); }
void PlatFree(void *block) { free(block); }
void *PlatResize(void *block, qlong size) { return realloc(block, (size_t)size); }

/* There is no console bell worth sounding inside someone else's process. */
void PlatBeep(void) { TestNoteBeep(); }

/* File names go to the system as UTF-8 in the Unicode build, as the bytes
   they are in the 8-bit build. The path buffer is rewritten in place; a
   qchar takes at least as many bytes as its UTF-8 form needs here except for
   the widest code points, so the UTF-8 name is built in a block of its own. */
static char *PathToNative(const qchar *path)
{
  size_t len = 0;
  while (path[len]) len++;
  char *name = (char *)malloc(len * 4 + 1);
  if (!name) return 0;
  char *out = name;
  for (size_t i = 0; i < len; i++) {
    qulong c = path[i];
#if MORAVEL_UNICODE
    if (c < 0x80) {
      *out++ = (char)c;
    } else if (c < 0x800) {
      *out++ = (char)(0xC0 | (c >> 6));
      *out++ = (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *out++ = (char)(0xE0 | (c >> 12));
      *out++ = (char)(0x80 | ((c >> 6) & 0x3F));
      *out++ = (char)(0x80 | (c & 0x3F));
    } else {
      *out++ = (char)(0xF0 | ((c >> 18) & 0x07));
      *out++ = (char)(0x80 | ((c >> 12) & 0x3F));
      *out++ = (char)(0x80 | ((c >> 6) & 0x3F));
      *out++ = (char)(0x80 | (c & 0x3F));
    }
#else
    *out++ = (char)c;
#endif
  }
  *out = 0;
  return name;
}

/* Reads until count bytes arrived or the file ends; -1 on a read error. */
static ssize_t ReadAll(int fd, uint8_t *buf, size_t count)
{
  size_t got = 0;
  while (got < count) {
    ssize_t n = read(fd, buf + got, count - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    got += (size_t)n;
  }
  return (ssize_t)got;
}

uint8_t *PlatFetchFileBytes(qchar *path, qshort *status, qlong *nbytes)
{
  uint8_t *block = 0;
  qlong size = 0, got = 0;
  *status = 0;
  *nbytes = 0;

  char *name = PathToNative(path);
  if (!name) {
    *status = 2;
    return 0;
  }
  /* Non-blocking, so that naming a pipe or a device cannot stall the host in
     the open; only regular files are read (below). */
  int fd = TestFileStepShouldFail(1) ? -1 : open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  free(name);
  if (fd < 0) {
    *status = 4;
    return 0;
  }
  TestNoteFileOpen();

  struct stat st;
  if (TestFileStepShouldFail(2) || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size > (off_t)(INT32_MAX - 2))
    *status = 5;
  else
    size = (qlong)st.st_size;

  if (*status == 0) {
    block = (uint8_t *)NewXPPointer(size + 2);
    if (!block) *status = 2;
  }
  if (*status == 0 && (TestFileStepShouldFail(3) || lseek(fd, 0, SEEK_SET) != 0)) *status = 5;
  if (*status == 0) {
    ssize_t n = TestFileStepShouldFail(4) ? -1 : ReadAll(fd, block, (size_t)size);
    if (n < 0)
      *status = 5;
    else
      got = (qlong)n;
  }
  int closed = close(fd);
  TestNoteFileClose();
  if ((TestFileStepShouldFail(5) || closed != 0) && *status == 0) *status = 5;

  return FinishFileBytes(block, got, *status, nbytes);
}

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
