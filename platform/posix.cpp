/* posix.cpp: memory, file steps and catalogue strings for POSIX systems. */
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
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

/* Every block begins with a header that says how it was obtained and how
   large it is; the caller's bytes follow it, aligned as the C library
   aligns. */
enum { kHeader = 16, kFromHeap = 0x48454150, kMapped = 0x4D415044 };
typedef struct {
  size_t kind;
  size_t size; /* kFromHeap: the caller's bytes; kMapped: the whole mapping */
} BlockHeader;

/* Blocks of kMappedFrom bytes and more have pages of their own: a fresh
   mapping reads as zeros, so such a block costs what its caller touches,
   not its size. A released one is kept for a later request it can hold,
   cleared where it was written: only pages present in memory (mincore) can
   hold anything but zeros, and of those only the ones that do are cleared.
   The per-call buffers of a small call touch a few pages of large blocks;
   clearing the whole blocks on every call, or handing pages back and
   faulting fresh ones in (which on a virtual machine costs fifty times a
   page's clearing), would cost more than the call itself. Pages that a
   past call touched and this one did not are handed back once they far
   outnumber those it wrote, so that a large call leaves no cost to the
   small ones after it; and a block keeps at most kResidentPages pages
   present, so that the kept blocks hold at most 32 MiB of the host's
   memory, about what the C library itself may keep. Under AddressSanitizer every block comes from the C
   library, whose blocks the sanitizer watches. */
#if defined(__SANITIZE_ADDRESS__)
#define MORAVEL_ALL_FROM_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MORAVEL_ALL_FROM_HEAP 1
#endif
#endif
enum {
  kMappedFrom = 64 * 1024,
  kKeptBlocks = 8,
  kKeptAtMost = 16 << 20,
  kSparePages = 64,
  kResidentPages = 1024
};

/* The pages of a very large block are made present in one request rather
   than one fault at a time, since the caller writes them all: a new block
   is filled or cleared next, and the part a resize adds is cleared. */
enum { kPopulateFrom = 32 << 20 };

static void Populate(uint8_t *block, size_t from, size_t to)
{
#ifdef MADV_POPULATE_WRITE
  uintptr_t page = (uintptr_t)sysconf(_SC_PAGESIZE);
  uintptr_t start = ((uintptr_t)(block + from) + page - 1) & ~(page - 1);
  uintptr_t end = (uintptr_t)(block + to) & ~(page - 1);
  if (to >= kPopulateFrom && end > start) madvise((void *)start, end - start, MADV_POPULATE_WRITE);
#else
  (void)block, (void)from, (void)to;
#endif
}

static BlockHeader *HeaderOf(void *block) { return (BlockHeader *)((uint8_t *)block - kHeader); }

static size_t PageRound(size_t n)
{
  size_t page = (size_t)sysconf(_SC_PAGESIZE);
  return (n + page - 1) & ~(page - 1);
}

static qbool WantsMapping(size_t bytes)
{
#ifdef MORAVEL_ALL_FROM_HEAP
  (void)bytes;
  return 0;
#else
  return bytes >= kMappedFrom;
#endif
}

/* Mappings kept for reuse, their pages handed back. */
static BlockHeader *sKept[kKeptBlocks];
static int sKeptCount = 0;

/* The smallest kept mapping that holds `mapped` bytes, taken from the kept
   ones; null when none does. */
static BlockHeader *TakeKept(size_t mapped)
{
  int best = -1;
  for (int i = 0; i < sKeptCount; i++)
    if (sKept[i]->size >= mapped && (best < 0 || sKept[i]->size < sKept[best]->size)) best = i;
  if (best < 0) return 0;
  BlockHeader *h = sKept[best];
  sKept[best] = sKept[--sKeptCount];
  return h;
}

static void *MappedAlloc(size_t size)
{
  size_t need = PageRound(size + kHeader);
  BlockHeader *h = TakeKept(need);
  if (h) {
    need = h->size;
  } else {
    void *p = mmap(0, need, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return 0;
#ifdef MADV_NOHUGEPAGE
    madvise(p, need, MADV_NOHUGEPAGE); /* touched pages stay small, and so does their clearing */
#endif
    h = (BlockHeader *)p;
  }
  h->kind = kMapped;
  h->size = need;
  Populate((uint8_t *)h, kHeader, size + kHeader);
  return (uint8_t *)h + kHeader;
}

static qbool IsZeroPage(const uint8_t *p, size_t page)
{
  const uint64_t *w = (const uint64_t *)p;
  uint64_t any = 0;
  for (size_t i = 0; i < page / sizeof *w; i++) any |= w[i];
  return any == 0;
}

/* Clears the pages of a mapping that were written; false when that cannot
   be done. */
static qbool ClearWritten(BlockHeader *h, size_t mapped)
{
  size_t page = (size_t)sysconf(_SC_PAGESIZE), pages = mapped / page;
  unsigned char present[kKeptAtMost / 4096 + 1];
  if (pages > sizeof present || mincore(h, mapped, present) != 0) return madvise(h, mapped, MADV_DONTNEED) == 0;
  size_t written = 0, idle = 0;
  for (size_t i = 0; i < pages; i++) {
    uint8_t *p = (uint8_t *)h + i * page;
    if (!(present[i] & 1)) continue;
    if (IsZeroPage(p, page)) {
      idle++;
    } else {
      memset(p, 0, page);
      written++;
    }
  }
  if ((idle > kSparePages && idle > 4 * written) || idle + written > kResidentPages)
    return madvise(h, mapped, MADV_DONTNEED) == 0;
  return 1;
}

static void MappedFree(BlockHeader *h)
{
  size_t mapped = h->size;
  if (sKeptCount < kKeptBlocks && mapped <= kKeptAtMost && ClearWritten(h, mapped)) {
    h->size = mapped; /* the header reads as zeros again: its size is written back */
    sKept[sKeptCount++] = h;
    return;
  }
  munmap(h, mapped);
}

void *PlatAlloc(qlong size)
{
  if (WantsMapping((size_t)size + kHeader)) return MappedAlloc((size_t)size);
  BlockHeader *h = (BlockHeader *)calloc(1, (size_t)size + kHeader);
  if (!h) return 0;
  h->kind = kFromHeap;
  h->size = (size_t)size;
  return (uint8_t *)h + kHeader;
}

void PlatFree(void *block)
{
  if (!block) return;
  BlockHeader *h = HeaderOf(block);
  if (h->kind == kMapped)
    MappedFree(h);
  else
    free(h);
}

/* A mapped block grows in place where the system can extend its mapping,
   else moves; the pages it gains read as zeros. */
static void *MappedResize(BlockHeader *h, size_t size)
{
  size_t need = PageRound(size + kHeader);
  if (need <= h->size) return (uint8_t *)h + kHeader;
  size_t old = h->size;
  void *p = mremap(h, old, need, MREMAP_MAYMOVE);
  if (p == MAP_FAILED) return 0;
  h = (BlockHeader *)p;
  h->size = need;
  Populate((uint8_t *)h, old, size + kHeader);
  return (uint8_t *)h + kHeader;
}

void *PlatResize(void *block, qlong size)
{
  BlockHeader *h = HeaderOf(block);
  if (h->kind == kMapped) return MappedResize(h, (size_t)size);
  if (WantsMapping((size_t)size + kHeader)) {
    uint8_t *moved = (uint8_t *)MappedAlloc((size_t)size);
    if (!moved) return 0;
    memcpy(moved, block, h->size < (size_t)size ? h->size : (size_t)size);
    free(h);
    return moved;
  }
  h = (BlockHeader *)realloc(h, (size_t)size + kHeader);
  if (!h) return 0;
  h->size = (size_t)size;
  return (uint8_t *)h + kHeader;
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
