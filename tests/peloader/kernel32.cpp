// kernel32.cpp: KERNEL32's memory, module, synchronisation and other
// functions the DLLs import (the file functions are in files.cpp), and the
// lookup of every stand-in by DLL and name.
#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "files.h"
#include "module.h"
#include "standins.h"
#include "thread.h"
#include "win32.h"

namespace peloader {

namespace {

// GlobalAlloc's fixed blocks: their address is their handle. Every block
// moves when it is resized and its new bytes are not zero, so that the DLL
// relies on neither.
std::map<void*, std::size_t> gBlocks;
constexpr unsigned char kFreshByte = 0xA5;

void* PE_WINAPI GlobalAlloc(UINT flags, std::size_t size)
{
  if (flags & ~kGmemZeroInit) refuse("GlobalAlloc: only fixed blocks are provided");
  void* p = std::malloc(size ? size : 1);
  if (!p) {
    setLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
  std::memset(p, (flags & kGmemZeroInit) ? 0 : kFreshByte, size);
  gBlocks[p] = size;
  return p;
}

void* PE_WINAPI GlobalReAlloc(void* block, std::size_t size, UINT flags)
{
  if (flags & ~(kGmemMoveable | kGmemZeroInit)) refuse("GlobalReAlloc: GMEM_MODIFY is not provided");
  auto it = gBlocks.find(block);
  if (it == gBlocks.end()) refuse("GlobalReAlloc of a block GlobalAlloc did not give");
  std::size_t old = it->second;
  if (!(flags & kGmemMoveable) && size > old) {
    setLastError(kErrorNotEnoughMemory);  // a fixed block may not move
    return nullptr;
  }
  void* p = std::malloc(size ? size : 1);
  if (!p) {
    setLastError(kErrorNotEnoughMemory);
    return nullptr;
  }
  std::memcpy(p, block, old < size ? old : size);
  if (size > old) std::memset(static_cast<char*>(p) + old, (flags & kGmemZeroInit) ? 0 : kFreshByte, size - old);
  std::free(block);
  gBlocks.erase(it);
  gBlocks[p] = size;
  return p;
}

void* PE_WINAPI GlobalFree(void* block)
{
  if (!block) return nullptr;
  auto it = gBlocks.find(block);
  if (it == gBlocks.end()) refuse("GlobalFree of a block GlobalAlloc did not give, or gave back already");
  std::free(block);
  gBlocks.erase(it);
  return nullptr;
}

// A critical section: a mark that it was initialised, and its depth. One
// thread runs the DLL, so entering never waits.
constexpr std::uint32_t kSectionMark = 0x43524954;
struct Section {
  std::uint32_t mark, depth;
};

Section* section(void* cs, const char* what)
{
  auto* s = static_cast<Section*>(cs);
  if (s->mark != kSectionMark) refuse(std::string(what) + " on a critical section never initialised");
  return s;
}

void PE_WINAPI InitializeCriticalSection(void* cs)
{
  std::memset(cs, 0, 24);
  static_cast<Section*>(cs)->mark = kSectionMark;
}
void PE_WINAPI EnterCriticalSection(void* cs) { ++section(cs, "EnterCriticalSection")->depth; }
void PE_WINAPI LeaveCriticalSection(void* cs)
{
  Section* s = section(cs, "LeaveCriticalSection");
  if (s->depth == 0) refuse("LeaveCriticalSection on a section not entered");
  --s->depth;
}
void PE_WINAPI DeleteCriticalSection(void* cs)
{
  section(cs, "DeleteCriticalSection");
  std::memset(cs, 0, 24);
}

// No library but the mapped DLLs is here: the C runtime start-up asks for
// the compiler's runtime DLL and takes its own copy when there is none.
void* PE_WINAPI GetModuleHandleA(const char* name)
{
  if (!name) refuse("GetModuleHandleA(NULL): no program module is provided");
  Module* m = moduleNamed(name);
  if (!m) setLastError(kErrorModNotFound);
  return m ? m->base : nullptr;
}

void* PE_WINAPI LoadLibraryA(const char* name)
{
  if (!name) refuse("LoadLibraryA: no name");
  setLastError(kErrorModNotFound);
  return nullptr;
}

BOOL PE_WINAPI FreeLibrary(void*)
{
  setLastError(kErrorInvalidHandle);
  return 0;
}

void* PE_WINAPI GetProcAddress(void* module, const char* name)
{
  Module* m = moduleOfHandle(module);
  if (!m) {
    setLastError(kErrorInvalidHandle);
    return nullptr;
  }
  if (reinterpret_cast<std::uintptr_t>(name) < 0x10000) refuse("GetProcAddress by ordinal is not provided");
  auto it = m->exports.find(name);
  if (it == m->exports.end()) {
    setLastError(kErrorProcNotFound);
    return nullptr;
  }
  return it->second;
}

struct MemoryInfo {
  void* base;
  void* allocationBase;
  DWORD allocationProtect;
  std::size_t regionSize;
  DWORD state, protect, type;
};

std::size_t pageSize() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

Module* imageAt(const void* address, const char* what)
{
  Module* m = moduleContaining(address);
  if (!m) refuse(std::string(what) + ": only the DLLs' own images are provided");
  return m;
}

std::size_t PE_WINAPI VirtualQuery(const void* address, MemoryInfo* info, std::size_t length)
{
  if (length < sizeof(MemoryInfo)) refuse("VirtualQuery: a record too short");
  Module* m = imageAt(address, "VirtualQuery");
  std::size_t page = static_cast<std::size_t>(static_cast<const std::uint8_t*>(address) - m->base) / pageSize();
  std::size_t end = page;
  while (end < m->pageProtect.size() && m->pageProtect[end] == m->pageProtect[page]) ++end;
  *info = {m->base + page * pageSize(), m->base, kPageExecuteWriteCopy, (end - page) * pageSize(),
           kMemCommit, m->pageProtect[page], kMemImage};
  return sizeof(MemoryInfo);
}

int protectionOf(DWORD windows)
{
  switch (windows) {
    case kPageNoAccess: return PROT_NONE;
    case kPageReadOnly: return PROT_READ;
    case kPageReadWrite:
    case kPageWriteCopy: return PROT_READ | PROT_WRITE;
    case kPageExecute:
    case kPageExecuteRead: return PROT_READ | PROT_EXEC;
    case kPageExecuteReadWrite:
    case kPageExecuteWriteCopy: return PROT_READ | PROT_WRITE | PROT_EXEC;
    default: return -1;
  }
}

BOOL PE_WINAPI VirtualProtect(void* address, std::size_t size, DWORD protect, DWORD* old)
{
  if (!old) refuse("VirtualProtect: no place for the old protection, which Windows refuses");
  int prot = protectionOf(protect);
  if (prot < 0) {
    setLastError(kErrorInvalidParameter);
    return 0;
  }
  Module* m = imageAt(address, "VirtualProtect");
  auto* a = static_cast<std::uint8_t*>(address);
  std::size_t first = static_cast<std::size_t>(a - m->base) / pageSize();
  std::size_t last = (static_cast<std::size_t>(a - m->base) + (size ? size : 1) - 1) / pageSize();
  if (last >= m->pageProtect.size()) refuse("VirtualProtect: a range beyond the DLL's image");
  *old = m->pageProtect[first];
  if (mprotect(m->base + first * pageSize(), (last - first + 1) * pageSize(), prot) != 0) {
    setLastError(kErrorAccessDenied);
    return 0;
  }
  for (std::size_t p = first; p <= last; ++p) m->pageProtect[p] = protect;
  return 1;
}

DWORD PE_WINAPI GetLastError() { return lastError(); }

void* PE_WINAPI TlsGetValue(DWORD index)
{
  if (index >= 64) {
    setLastError(kErrorInvalidParameter);
    return nullptr;
  }
  setLastError(kErrorSuccess);
  return tlsSlots()[index];
}

void PE_WINAPI Sleep(DWORD ms) { usleep(ms < 1000 ? ms * 1000 : 1000000); }

// The tone is not sounded; its arguments are checked as Windows does.
BOOL PE_WINAPI Beep(DWORD frequency, DWORD)
{
  if (frequency < 37 || frequency > 32767) {
    setLastError(kErrorInvalidParameter);
    return 0;
  }
  return 1;
}

}  // namespace

const std::vector<StandIn>& kernel32StandIns()
{
  static const std::vector<StandIn> functions = [] {
    std::vector<StandIn> f{
        {"GlobalAlloc", reinterpret_cast<void*>(&GlobalAlloc)},
        {"GlobalReAlloc", reinterpret_cast<void*>(&GlobalReAlloc)},
        {"GlobalFree", reinterpret_cast<void*>(&GlobalFree)},
        {"InitializeCriticalSection", reinterpret_cast<void*>(&InitializeCriticalSection)},
        {"EnterCriticalSection", reinterpret_cast<void*>(&EnterCriticalSection)},
        {"LeaveCriticalSection", reinterpret_cast<void*>(&LeaveCriticalSection)},
        {"DeleteCriticalSection", reinterpret_cast<void*>(&DeleteCriticalSection)},
        {"GetModuleHandleA", reinterpret_cast<void*>(&GetModuleHandleA)},
        {"LoadLibraryA", reinterpret_cast<void*>(&LoadLibraryA)},
        {"FreeLibrary", reinterpret_cast<void*>(&FreeLibrary)},
        {"GetProcAddress", reinterpret_cast<void*>(&GetProcAddress)},
        {"VirtualQuery", reinterpret_cast<void*>(&VirtualQuery)},
        {"VirtualProtect", reinterpret_cast<void*>(&VirtualProtect)},
        {"GetLastError", reinterpret_cast<void*>(&GetLastError)},
        {"TlsGetValue", reinterpret_cast<void*>(&TlsGetValue)},
        {"Sleep", reinterpret_cast<void*>(&Sleep)},
        {"Beep", reinterpret_cast<void*>(&Beep)},
    };
    f.insert(f.end(), fileStandIns().begin(), fileStandIns().end());
    return f;
  }();
  return functions;
}

namespace {

const std::vector<StandIn>* tableOf(std::string_view dll)
{
  std::string d(dll);
  if (strcasecmp(d.c_str(), "KERNEL32.dll") == 0) return &kernel32StandIns();
  if (strcasecmp(d.c_str(), "USER32.dll") == 0) return &user32StandIns();
  if (strcasecmp(d.c_str(), "msvcrt.dll") == 0) return &msvcrtStandIns();
  return nullptr;
}

}  // namespace

bool providesDll(std::string_view dll) { return tableOf(dll) != nullptr; }

void* findStandIn(std::string_view dll, std::string_view name)
{
  const std::vector<StandIn>* table = tableOf(dll);
  if (!table) return nullptr;
  for (const StandIn& s : *table)
    if (name == s.name) return s.address;
  return nullptr;
}

}  // namespace peloader
