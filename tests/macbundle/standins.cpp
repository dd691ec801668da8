// standins.cpp: the stand-in sets of Carbon and libSystem that the bundle loader binds imports from.
#include "standins.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "../../platform/mac_api.h"

// The lazy binder the stub helper jumps to (loader.cpp).
extern "C" void macbundle_stub_binder();

namespace macbundle {

namespace {

template <typename F>
void* address(F* f) {
  return reinterpret_cast<void*>(f);
}

// Darwin's __bzero is the BSD bzero.
void bzeroStandIn(void* p, std::size_t n) { std::memset(p, 0, n); }

}  // namespace

const std::map<std::string, void*>* standInsOf(const std::string& installName) {
  static const std::map<std::string, void*> carbon{
      {"_NewPtrClear", address(&NewPtrClear)},       {"_DisposePtr", address(&DisposePtr)},
      {"_GetPtrSize", address(&GetPtrSize)},         {"_HOpen", address(&HOpen)},
      {"_PBGetEOFSync", address(&PBGetEOFSync)},     {"_SetFPos", address(&SetFPos)},
      {"_PBReadSync", address(&PBReadSync)},         {"_PBCloseSync", address(&PBCloseSync)},
      {"_GetIndString", address(&GetIndString)},     {"_CreateTextEncoding", address(&CreateTextEncoding)},
      {"_TECCreateConverter", address(&TECCreateConverter)}, {"_TECConvertText", address(&TECConvertText)},
      {"_TECFlushText", address(&TECFlushText)},     {"_x80tod", address(&x80tod)},
      {"_dtox80", address(&dtox80)},                 {"_SysBeep", address(&SysBeep)}};
  static const std::map<std::string, void*> system{
      {"_memcpy", address(&std::memcpy)},   {"_memmove", address(&std::memmove)},
      {"___bzero", address(&bzeroStandIn)}, {"_strlen", address(&std::strlen)},
      {"_wcslen", address(&std::wcslen)},   {"_wcschr", address(static_cast<wchar_t* (*)(wchar_t*, wchar_t)>(&std::wcschr))},
      {"_wmemchr", address(static_cast<wchar_t* (*)(wchar_t*, wchar_t, std::size_t)>(&std::wmemchr))},
      {"_malloc", address(&std::malloc)},   {"_free", address(&std::free)},
      {"dyld_stub_binder", address(&macbundle_stub_binder)}};
  if (installName == "/System/Library/Frameworks/Carbon.framework/Versions/A/Carbon") return &carbon;
  if (installName == "/usr/lib/libSystem.B.dylib") return &system;
  return nullptr;
}

}  // namespace macbundle
