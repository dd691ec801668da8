// windows.cpp: the functions of windows.h over the PE loader and its stand-ins.
#include "windows.h"

#include <unistd.h>

#include <map>
#include <string>

#include "files.h"
#include "loader.h"
#include "module.h"
#include "standins.h"
#include "thread.h"

namespace {

// On Linux a wchar_t is a UTF-32 unit.
std::u16string utf16(const wchar_t* text)
{
  std::u32string units;
  for (; *text; ++text) units += static_cast<char32_t>(*text);
  return peloader::utf16(units);
}

// A type or name: a number below 0x10000, or a text.
peloader::ResourceId resourceId(LPCWSTR id)
{
  auto n = reinterpret_cast<std::uintptr_t>(id);
  if (n < 0x10000) return {static_cast<std::uint32_t>(n), {}};
  return {0, utf16(id)};
}

template <typename F>
F standIn(const char* dll, const char* name)
{
  return reinterpret_cast<F>(peloader::findStandIn(dll, name));
}

peloader::PeLoader gLoader;
std::map<HMODULE, void*> gLibraries;          // by module handle
std::map<HRSRC, DWORD> gSizes;          // of what FindResourceExW found, by its handle

}  // namespace

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void*, DWORD disposition, DWORD flags, HANDLE)
{
  peloader::enterWindowsThread();  // where the last error is kept
  return peloader::openFile(utf16(name), access, share, disposition, flags);
}

int CloseHandle(HANDLE file)
{
  return standIn<int(__attribute__((stdcall)) *)(HANDLE)>("KERNEL32.dll", "CloseHandle")(file);
}

HMODULE LoadLibraryExA(const char* path, HANDLE, DWORD)
{
  std::string error;
  void* library = gLoader.open(path, error);
  if (!library) return nullptr;
  HMODULE module = peloader::PeLoader::moduleHandle(library);
  gLibraries[module] = library;
  return module;
}

int FreeLibrary(HMODULE module)
{
  auto it = gLibraries.find(module);
  if (it == gLibraries.end()) return 0;
  gLoader.close(it->second);
  gLibraries.erase(it);
  return 1;
}

int LoadStringW(HMODULE module, UINT id, wchar_t* buffer, int max)
{
  std::u16string units(static_cast<std::size_t>(max > 0 ? max : 1), u'\0');
  int n = standIn<int(__attribute__((stdcall)) *)(HMODULE, UINT, char16_t*, int)>("USER32.dll", "LoadStringW")(
      module, id, units.data(), max);
  for (int i = 0; i < max; ++i) buffer[i] = units[static_cast<std::size_t>(i)];
  return n;
}

HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language)
{
  const peloader::Module* m = peloader::moduleOfHandle(module);
  if (!m) return nullptr;
  std::uint32_t size = 0;
  const void* data = peloader::findResource(*m, resourceId(type), resourceId(name), size, language);
  if (!data) return nullptr;
  gSizes[data] = size;
  return data;
}

DWORD SizeofResource(HMODULE, HRSRC resource) { return gSizes.count(resource) ? gSizes[resource] : 0; }

HGLOBAL LoadResource(HMODULE, HRSRC resource) { return resource; }

const void* LockResource(HGLOBAL data) { return data; }
