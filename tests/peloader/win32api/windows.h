// windows.h: the Windows functions the suite's Windows-only cases call, for
// its build that runs the DLLs by the PE loader: the loader's own stand-ins,
// so the cases' handles meet the DLL's in one handle table.
#pragma once

#include <cstdint>

using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using WORD = std::uint16_t;
using HANDLE = void*;
using HMODULE = void*;
using HRSRC = const void*;
using HGLOBAL = const void*;
using LPCWSTR = const wchar_t*;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(~std::uintptr_t{0}))
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 1u
#define FILE_SHARE_WRITE 2u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define LOAD_LIBRARY_AS_DATAFILE 2u
#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(static_cast<WORD>(i))))

DWORD GetCurrentProcessId();
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void* security, DWORD disposition, DWORD flags,
                   HANDLE templateFile);
int CloseHandle(HANDLE file);
// The DLL loaded by the PE loader (its entry point runs: the loader has no data-file form).
HMODULE LoadLibraryExA(const char* path, HANDLE file, DWORD flags);
int FreeLibrary(HMODULE module);
int LoadStringW(HMODULE module, UINT id, wchar_t* buffer, int max);
HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language);
DWORD SizeofResource(HMODULE module, HRSRC resource);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
const void* LockResource(HGLOBAL data);
