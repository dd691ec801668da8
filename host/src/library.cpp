// library.cpp: loading a plug-in library: dlopen on POSIX systems, LoadLibraryW on Windows.
#include "library.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "moravel/host.h"

namespace moravel::detail {

namespace {

LibraryLoader* gLoader = nullptr;

void* systemOpen(const std::string& path, std::string& error);
void* systemSymbol(void* library, const char* name);
void systemClose(void* library);

}  // namespace

void setLibraryLoader(LibraryLoader* loader) { gLoader = loader; }

void* openLibrary(const std::string& path, std::string& error) {
  return gLoader ? gLoader->open(path, error) : systemOpen(path, error);
}

void* librarySymbol(void* library, const char* name) {
  return gLoader ? gLoader->symbol(library, name) : systemSymbol(library, name);
}

void closeLibrary(void* library) { gLoader ? gLoader->close(library) : systemClose(library); }

namespace {

#if defined(_WIN32)

void* systemOpen(const std::string& path, std::string& error) {
  int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? static_cast<std::size_t>(n) : 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), n);
  for (auto& c : wide)
    if (c == L'/') c = L'\\';  // the loader wants backslashes
  HMODULE lib = LoadLibraryW(wide.c_str());
  if (!lib) error = "LoadLibrary failed with error " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(lib);
}

void* systemSymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void systemClose(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

#else

void* systemOpen(const std::string& path, std::string& error) {
  void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    const char* err = dlerror();
    error = err ? err : "unknown error";
  }
  return lib;
}

void* systemSymbol(void* library, const char* name) { return dlsym(library, name); }

void systemClose(void* library) { dlclose(library); }

#endif

}  // namespace

}  // namespace moravel::detail
