/* posix_files.cpp: path delimiters, the steps of reading a file, and catalogue strings for POSIX systems. */
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <sys/stat.h>
#include <unistd.h>

#include "catalogue_strings.h"
#include "filesteps.h"

static const char kDelimOrder[3] = {'/', '\\', ':'};

qchar PlatDelim(void) { return (qchar)kDelimOrder[0]; }
const char *PlatDelimOrder(void) { return kDelimOrder; }

/* Opened without waiting, so that a named pipe without a writer cannot
   stall the host in the open; read as a shell tool reads, waiting for data. */
qshort SysOpenFile(const void *name, PlatFile *file)
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
qshort SysFileSize(const PlatFile *file, int64_t *size)
{
  struct stat st;
  if (fstat((int)file->ref, &st) != 0 || st.st_size < 0) return kErrRead;
  *size = S_ISREG(st.st_mode) && st.st_size > 0 ? (int64_t)st.st_size : (int64_t)kPlatSizeUnknown;
  return kErrNone;
}

qshort SysSeekFileStart(const PlatFile *file)
{
  return lseek((int)file->ref, 0, SEEK_SET) == 0 ? (qshort)kErrNone : (qshort)kErrRead;
}

qshort SysReadFile(const PlatFile *file, uint8_t *buffer, qlong count, qlong *got)
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

qshort SysCloseFile(const PlatFile *file) { return close((int)file->ref) == 0 ? (qshort)kErrNone : (qshort)kErrRead; }

/* Catalogue strings, answered from the texts the build compiled in. */
void GetResourceOstr(tResourceChar *buf, qlong maxlen, qlong strid, qlong index, qbool isPstring)
{
  (void)isPstring;
  if (maxlen <= 0) return;
  buf[0] = 0;
  qlong id = strid + index - kCatalogueFirstId;
  if (id < 0 || id >= kCatalogueCount) return;
  const char *text = kCatalogue[id];
  qlong n = 0;
  while (text[n] && n < maxlen - 1) {
    buf[n] = (tResourceChar)(uint8_t)text[n]; /* Latin-1 bytes widen as they are */
    n++;
  }
  buf[n] = 0;
}
