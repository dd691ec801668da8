/* posix_memory.cpp: memory blocks and the bell for POSIX systems. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <stdint.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform.h"

/* Every block begins with a header that says how it was obtained and how
   large it is; the caller's bytes follow it, aligned as the C library
   aligns. */
enum { kHeader = 32, kFromHeap = 0x48454150, kMapped = 0x4D415044 };
typedef struct {
  size_t kind;
  size_t size;    /* kFromHeap: the caller's bytes; kMapped: the whole mapping */
  size_t touched; /* kMapped: the bytes from its start that may be present in memory */
  size_t discarded; /* what its caller gave back: kMapped, the bytes from the mapping's start whose
                       pages went back; kFromHeap (test builds), the caller's bytes cleared */
} BlockHeader;
static_assert(sizeof(BlockHeader) <= kHeader, "the header fits before the caller's bytes");

/* Blocks from kMappedFrom bytes (the per-call buffers, whose sizes only
   grow) have pages of their own: a fresh mapping reads as zeros, so
   such a block costs what its caller touches, not its size. A released one
   is kept for a later request it can hold, cleared where it was written:
   only pages present in memory (mincore) can hold anything but zeros, and
   of those only the ones that do are cleared. A small call touches a few
   pages of its large buffers, and clearing whole blocks on every call would
   cost more than the call itself; pages stay present between calls, since
   faulting a fresh page in costs far more than clearing one (fifty times
   on a virtual machine). Pages that a past call wrote and this one did not
   are handed back once they far outnumber those it wrote, so that a large
   call leaves no cost to the small ones after it, and the kept blocks
   keep at most kResidentPages present in all. Blocks above kMappedTo
   take large pages, and those above kKeptTo are unmapped when released. A
   caller that knows how far it wrote says so when it releases the block
   (PlatFreeWritten): then only that extent is cleared, without asking the
   system which pages are present. Under AddressSanitizer every block
   comes from the C library, so that the sanitizer watches them. */
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
  kMappedTo = 16 << 20, /* the largest block on small pages */
  kKeptTo = 128 << 20,  /* the largest block kept; larger ones are unmapped when released */
  kResidentPages = 65536, /* 256 MiB of 4 KiB pages, two of the largest kept blocks; a smaller
                             call after large ones hands theirs back */
  kSparePages = 64,
  /* The smallest block whose caller's read head is given back during a
     call: blocks too large to be kept, whose pages go back at release
     anyway, so that a call holds its input and its output whole only where
     they overlap. A test build does it for every mapped block, so that the
     test suite's texts reach it. */
#ifdef MORAVEL_TEST_HOOKS
  kDiscardFrom = kMappedFrom
#else
  kDiscardFrom = kKeptTo + 1
#endif
};

/* The part a resize adds to a very large block is made present in one
   request rather than one fault at a time, since its caller asked for it to
   write it (the engine's output growing, a text read whole). A new block is
   not: a call obtains its buffers at the sizes the largest call before it
   raised, and may write a few pages of them. */
enum { kPopulateFrom = 32 << 20, kLargePage = 2 << 20 };

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

/* A mapping above kMappedTo takes large pages where the system offers
   them: making present and clearing one large page costs a small fraction
   of doing so for the small pages it covers, one fault at a time. Smaller
   mappings keep small pages, so that a small call dirties and clears
   little. */
static void ChoosePageSize(void *mapping, size_t bytes)
{
#if defined(MADV_HUGEPAGE) && defined(MADV_NOHUGEPAGE)
  madvise(mapping, bytes, bytes > kMappedTo ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
#else
  (void)mapping, (void)bytes;
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

/* Mappings kept for reuse, all zeros, the longest kept first, and how many
   pages each keeps present. */
static BlockHeader *sKept[kKeptBlocks];
static size_t sKeptResident[kKeptBlocks];
static size_t sResident = 0;
static int sKeptCount = 0;

static void Unkeep(int i)
{
  sResident -= sKeptResident[i];
  memmove(sKept + i, sKept + i + 1, (size_t)(sKeptCount - i - 1) * sizeof *sKept);
  memmove(sKeptResident + i, sKeptResident + i + 1, (size_t)(sKeptCount - i - 1) * sizeof *sKeptResident);
  sKeptCount--;
}

/* The smallest kept mapping that holds `mapped` bytes, taken from the kept
   ones; null when none does. */
static BlockHeader *TakeKept(size_t mapped)
{
  int best = -1;
  for (int i = 0; i < sKeptCount; i++)
    if (sKept[i]->size >= mapped && (best < 0 || sKept[i]->size < sKept[best]->size)) best = i;
  if (best < 0) return 0;
  BlockHeader *h = sKept[best];
  Unkeep(best);
  return h;
}

/* In builds with assertions: the `size` bytes at p from `from` on must be
   zeros, or the process stops with `what`. A byte missed by the clearing
   would reach a later caller as data. */
static void CheckZeros(const uint8_t *p, size_t from, size_t size, const char *what)
{
#ifndef NDEBUG
  size_t i = from;
  while (i < size && i % 8 && !p[i]) i++;
  if (i % 8 == 0) /* whole words, then the byte in the word found */
    for (; i + 8 <= size; i += 8) {
      uint64_t w;
      memcpy(&w, p + i, 8);
      if (w) break;
    }
  for (; i < size; i++)
    if (p[i]) {
      fprintf(stderr, "moravel: %s: a non-zero byte at %zu of %zu\n", what, i, size);
      abort();
    }
#else
  (void)p, (void)from, (void)size, (void)what;
#endif
}

/* A kept mapping reads as zeros when it is handed out again. */
static void CheckCleared(const BlockHeader *h)
{
  CheckZeros((const uint8_t *)h + kHeader, 0, h->size - kHeader, "a reused block is not cleared");
}

static void *MappedAlloc(size_t size)
{
  size_t need = PageRound(size + kHeader);
  /* A length of whole large pages is placed by the system at a large page's
     boundary; any other length may start in the middle of one, and the
     pages before the first boundary are then made present one small page
     at a time. */
  if (need > kMappedTo) need = (need + kLargePage - 1) & ~(size_t)(kLargePage - 1);
  BlockHeader *h = TakeKept(need);
  if (!h) {
    void *p = mmap(0, need, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return 0;
    ChoosePageSize(p, need);
    h = (BlockHeader *)p;
    h->size = need;
  } else {
    CheckCleared(h);
  }
  h->kind = kMapped;
  return (uint8_t *)h + kHeader;
}

static qbool IsZeroPage(const uint8_t *p, size_t page)
{
  const uint64_t *w = (const uint64_t *)p;
  uint64_t any = 0;
  for (size_t i = 0; i < page / sizeof *w; i++) any |= w[i];
  return any == 0;
}

static qbool TooIdle(size_t idle, size_t written)
{
  return (idle > kSparePages && idle > 4 * written) || idle + written > kResidentPages;
}

/* Gives a mapping's pages back to the system; they read as zeros again. */
static qbool HandBack(BlockHeader *h, size_t mapped)
{
  if (madvise(h, mapped, MADV_DONTNEED) != 0) return 0;
  h->touched = 0;
  return 1;
}

/* Clears the pages of a mapping that were written, and says how many pages
   it keeps present in *resident; false when that cannot be done. */
static qbool ClearWritten(BlockHeader *h, size_t *resident)
{
  size_t mapped = h->size, page = (size_t)sysconf(_SC_PAGESIZE), pages = mapped / page;
  unsigned char present[kMappedTo / 4096 + 1];
  h->kind = 0; /* the header too reads as zeros when kept */
  h->size = 0;
  h->touched = 0;
  h->discarded = 0;
  *resident = 0;
  if (pages > sizeof present || mincore(h, mapped, present) != 0) return HandBack(h, mapped);
  size_t written = 0, idle = 0, touched = 0;
  for (size_t i = 0; i < pages; i++) {
    uint8_t *p = (uint8_t *)h + i * page;
    if (!(present[i] & 1)) continue;
    touched = (i + 1) * page;
    if (IsZeroPage(p, page)) {
      idle++;
    } else {
      memset(p, 0, page);
      written++;
    }
  }
  if (TooIdle(idle, written)) return HandBack(h, mapped);
  h->touched = touched;
  *resident = idle + written;
  return 1;
}

/* Clears the first `written` bytes of a mapping's caller's bytes, which hold
   all it was given that is not zero; false when the pages it keeps present
   would then far outnumber those written, for ClearWritten to hand back. */
static qbool ClearExtent(BlockHeader *h, size_t written, size_t *resident)
{
  size_t page = (size_t)sysconf(_SC_PAGESIZE), end = kHeader + written;
  size_t touched = h->touched > end ? h->touched : end;
  size_t pages = (touched + page - 1) / page, used = (end + page - 1) / page;
  if (TooIdle(pages - used, used)) return 0;
  memset((uint8_t *)h + kHeader, 0, written);
  h->kind = 0;
  h->touched = touched;
  h->discarded = 0;
  *resident = pages;
  return 1;
}

/* Hands back the pages of the blocks kept longest until `more` pages fit
   in the budget; the mappings stay kept. */
static void MakeRoom(size_t more)
{
  for (int i = 0; i < sKeptCount && sResident + more > kResidentPages; i++) {
    size_t mapped = sKept[i]->size;
    if (!sKeptResident[i] || !HandBack(sKept[i], mapped)) continue;
    sKept[i]->size = mapped; /* the header reads as zeros now: its size is written back */
    sResident -= sKeptResident[i];
    sKeptResident[i] = 0;
  }
}

void PlatReleaseKept(void)
{
  while (sKeptCount > 0) {
    munmap(sKept[0], sKept[0]->size);
    Unkeep(0);
  }
}

/* A released mapping is kept in place of the one kept longest, which the
   calls since have not needed. `written` is how many of the caller's bytes
   from the start may be non-zero, or more than it has when that is not
   known. */
static void MappedFree(BlockHeader *h, size_t written)
{
  size_t mapped = h->size, resident;
  if (mapped > kKeptTo) {
    munmap(h, mapped);
    return;
  }
  if (sKeptCount == kKeptBlocks) {
    munmap(sKept[0], sKept[0]->size);
    Unkeep(0);
  }
  qbool cleared = written <= mapped - kHeader && ClearExtent(h, written, &resident);
  if (!cleared && !ClearWritten(h, &resident)) {
    munmap(h, mapped);
    return;
  }
  h->size = mapped;
  MakeRoom(resident);
  sKept[sKeptCount] = h;
  sKeptResident[sKeptCount++] = resident;
  sResident += resident;
}

static void *HeapAlloc(size_t size)
{
  BlockHeader *h = (BlockHeader *)calloc(1, size + kHeader);
  if (!h) return 0;
  h->kind = kFromHeap;
  h->size = size;
  h->discarded = 0;
  return (uint8_t *)h + kHeader;
}

void *PlatAlloc(qlong size)
{
  return WantsMapping((size_t)size + kHeader) ? MappedAlloc((size_t)size) : HeapAlloc((size_t)size);
}

void PlatFreeWritten(void *block, qlong written)
{
  if (!block) return;
  BlockHeader *h = HeaderOf(block);
  if (written >= 0) {
    size_t size = h->kind == kMapped ? h->size - kHeader : h->size;
    CheckZeros((const uint8_t *)block, (size_t)written, size, "a block was written past the extent given at its release");
  }
  if (h->kind == kMapped)
    MappedFree(h, written < 0 ? SIZE_MAX : (size_t)written);
  else
    free(h);
}

void PlatFree(void *block) { PlatFreeWritten(block, -1); }

void PlatDiscardHead(void *block, qlong bytes)
{
  BlockHeader *h = HeaderOf(block);
#ifdef MORAVEL_TEST_HOOKS
  /* A test build's blocks from the C library (all of them under the
     sanitizers) read as zeros where given back too, so that a read of them
     shows in the results there as well. */
  if (h->kind == kFromHeap && (size_t)bytes > h->discarded && (size_t)bytes <= h->size) {
    memset((uint8_t *)block + h->discarded, 0, (size_t)bytes - h->discarded);
    h->discarded = (size_t)bytes;
  }
#endif
  if (h->kind != kMapped || h->size < kDiscardFrom) return;
  /* Whole pages of the mapping's own size past the header; the first
     bytes of a moved mapping are where they were in it. */
  uintptr_t unit = h->size > kMappedTo ? (uintptr_t)kLargePage : (uintptr_t)sysconf(_SC_PAGESIZE);
  uintptr_t base = (uintptr_t)h;
  size_t done = h->discarded > (size_t)kHeader ? h->discarded : (size_t)kHeader;
  size_t upto = kHeader + (size_t)bytes < h->size ? kHeader + (size_t)bytes : h->size;
  uintptr_t start = (base + done + unit - 1) & ~(unit - 1), end = (base + upto) & ~(unit - 1);
  if (end > start && madvise((void *)start, end - start, MADV_DONTNEED) == 0) h->discarded = end - base;
}

/* A mapped block grows in place where the system can extend its mapping,
   else moves; the pages it gains read as zeros, and of the pages it had,
   the bytes past the kept ones are cleared. */
static void *MappedResize(BlockHeader *h, size_t keep, size_t bytes)
{
  size_t need = PageRound(bytes), old = h->size, roomy = need;
  if (need > kMappedTo && need > old) {
    /* A large block that grows by small steps (an output built up by
       appends) is given room for many of them at once, in whole large
       pages: the unused room costs nothing until it is written, and each
       large page is made present whole rather than in small pieces. */
    size_t more = old + old / 2;
    if (roomy < more) roomy = more;
    roomy = (roomy + kLargePage - 1) & ~(size_t)(kLargePage - 1);
  }
  if (need > old) {
    /* Where the room cannot be had (an address space of 32 bits), the
       size asked for may still be. */
    void *p = mremap(h, old, roomy, MREMAP_MAYMOVE);
    if (p == MAP_FAILED && roomy > need) p = mremap(h, old, roomy = need, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) return 0;
    need = roomy;
    h = (BlockHeader *)p;
    h->size = need;
    h->touched = PageRound(bytes); /* the caller's bytes; the room beyond is not present */
    if (old <= kMappedTo && need > kMappedTo) ChoosePageSize(h, need);
    Populate((uint8_t *)h, old, bytes);
  }
  size_t had = (old < need ? old : need) - kHeader;
  if (keep < had) memset((uint8_t *)h + kHeader + keep, 0, had - keep);
  return (uint8_t *)h + kHeader;
}

/* A block that changes kind: a new one, the kept bytes copied. */
static void *MoveBlock(void *block, size_t keep, size_t size)
{
  uint8_t *moved = (uint8_t *)PlatAlloc((qlong)size);
  if (!moved) return 0;
  memcpy(moved, block, keep < size ? keep : size);
  PlatFree(block);
  return moved;
}

void *PlatResize(void *block, qlong keep, qlong size)
{
  BlockHeader *h = HeaderOf(block);
  size_t bytes = (size_t)size + kHeader;
  if (h->kind == kMapped)
    return WantsMapping(bytes) ? MappedResize(h, (size_t)keep, bytes) : MoveBlock(block, (size_t)keep, (size_t)size);
  if (WantsMapping(bytes)) return MoveBlock(block, (size_t)keep, (size_t)size);
  h = (BlockHeader *)realloc(h, bytes);
  if (!h) return 0;
  h->size = (size_t)size;
  Populate((uint8_t *)h, kHeader + (size_t)keep, bytes);
  memset((uint8_t *)h + kHeader + keep, 0, (size_t)(size - keep));
  return (uint8_t *)h + kHeader;
}

/* There is no console bell worth sounding inside someone else's process. */
void PlatBeep(void) {}

