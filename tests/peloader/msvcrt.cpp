// msvcrt.cpp: the C runtime functions the DLLs import, over this system's C
// library; the callers remove the arguments, as in every C runtime.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "module.h"
#include "standins.h"
#include "thread.h"

namespace peloader {

namespace {

// msvcrt's FILE records of stdin, stdout and stderr, 32 bytes each: a data
// import that the DLL addresses as &_iob[n].
constexpr std::size_t kFileRecord = 32;
alignas(8) unsigned char gIob[3 * kFileRecord];

FILE* streamOf(void* f)
{
  auto* p = static_cast<unsigned char*>(f);
  if (p < gIob || p >= gIob + sizeof gIob) refuse("a FILE that is not stdin, stdout or stderr");
  auto at = static_cast<std::size_t>(p - gIob);
  if (at % kFileRecord) refuse("a FILE that is not stdin, stdout or stderr");
  FILE* const streams[] = {stdin, stdout, stderr};
  return streams[at / kFileRecord];
}

using Initialiser = void(__attribute__((cdecl)) *)();

void PE_CDECL crtInitterm(Initialiser* begin, Initialiser* end)
{
  for (Initialiser* f = begin; f < end; ++f) {
    if (!*f) continue;
    if (!moduleContaining(reinterpret_cast<void*>(*f))) refuse("_initterm: an initialiser outside the DLL");
    (*f)();
  }
}

void PE_CDECL crtAmsgExit(int code) { refuse("the C runtime stopped with runtime error R60" + std::to_string(code)); }
void PE_CDECL crtAbort() { refuse("the DLL called abort"); }
void PE_CDECL crtLock(int) {}
void PE_CDECL crtUnlock(int) {}
void* PE_CDECL crtMalloc(std::size_t n) { return std::malloc(n); }
void* PE_CDECL crtCalloc(std::size_t n, std::size_t size) { return std::calloc(n, size); }
void* PE_CDECL crtRealloc(void* p, std::size_t n) { return std::realloc(p, n); }
void PE_CDECL crtFree(void* p) { std::free(p); }
const void* PE_CDECL crtMemchr(const void* p, int c, std::size_t n) { return std::memchr(p, c, n); }
void* PE_CDECL crtMemcpy(void* to, const void* from, std::size_t n) { return std::memcpy(to, from, n); }
void* PE_CDECL crtMemmove(void* to, const void* from, std::size_t n) { return std::memmove(to, from, n); }
void* PE_CDECL crtMemset(void* p, int c, std::size_t n) { return std::memset(p, c, n); }
const char* PE_CDECL crtStrchr(const char* s, int c) { return std::strchr(s, c); }
std::size_t PE_CDECL crtStrlen(const char* s) { return std::strlen(s); }
int PE_CDECL crtStrncmp(const char* a, const char* b, std::size_t n) { return std::strncmp(a, b, n); }
std::size_t PE_CDECL crtFwrite(const void* p, std::size_t size, std::size_t n, void* f)
{
  return std::fwrite(p, size, n, streamOf(f));
}
// On i386 a va_list is a pointer to the arguments in both runtimes.
int PE_CDECL crtVfprintf(void* f, const char* format, va_list args) { return std::vfprintf(streamOf(f), format, args); }

}  // namespace

const std::vector<StandIn>& msvcrtStandIns()
{
  static const std::vector<StandIn> functions{
      {"_iob", gIob},
      {"_initterm", reinterpret_cast<void*>(&crtInitterm)},
      {"_amsg_exit", reinterpret_cast<void*>(&crtAmsgExit)},
      {"abort", reinterpret_cast<void*>(&crtAbort)},
      {"_lock", reinterpret_cast<void*>(&crtLock)},
      {"_unlock", reinterpret_cast<void*>(&crtUnlock)},
      {"malloc", reinterpret_cast<void*>(&crtMalloc)},
      {"calloc", reinterpret_cast<void*>(&crtCalloc)},
      {"realloc", reinterpret_cast<void*>(&crtRealloc)},
      {"free", reinterpret_cast<void*>(&crtFree)},
      {"memchr", reinterpret_cast<void*>(&crtMemchr)},
      {"memcpy", reinterpret_cast<void*>(&crtMemcpy)},
      {"memmove", reinterpret_cast<void*>(&crtMemmove)},
      {"memset", reinterpret_cast<void*>(&crtMemset)},
      {"strchr", reinterpret_cast<void*>(&crtStrchr)},
      {"strlen", reinterpret_cast<void*>(&crtStrlen)},
      {"strncmp", reinterpret_cast<void*>(&crtStrncmp)},
      {"fwrite", reinterpret_cast<void*>(&crtFwrite)},
      {"vfprintf", reinterpret_cast<void*>(&crtVfprintf)},
  };
  return functions;
}

}  // namespace peloader
