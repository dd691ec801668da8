// standins.h: the functions of the system DLLs that the loader provides,
// each a stand-in with the Windows function's convention and rules.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace peloader {

struct StandIn {
  const char* name;
  void* address;  // the function, or the variable of a data import
};

// KERNEL32.dll, USER32.dll and msvcrt.dll, each its own table.
const std::vector<StandIn>& kernel32StandIns();
const std::vector<StandIn>& user32StandIns();
const std::vector<StandIn>& msvcrtStandIns();

// Whether the loader provides functions of `dll` (its name in any case).
bool providesDll(std::string_view dll);
// The stand-in named `name` of `dll` (its name in any case), or null.
void* findStandIn(std::string_view dll, std::string_view name);

// The Windows-1252 code page, the ANSI code page of an English Windows:
// a byte as a UTF-16 unit, and a unit as a byte ('?' where it has none).
char16_t fromAnsi(unsigned char byte);
char ansiOf(char16_t unit);

// A Windows path as this system names it: drive Z: is the root of the file
// system, as under wine, and a relative path starts at the current directory.
// `.` and `..` are resolved by name and trailing dots and spaces of a name
// dropped, as Windows does. Sets `error` to a Windows error code and answers
// nothing when Windows would refuse the name or find no such drive.
std::string linuxPath(std::u16string_view windowsPath, std::uint32_t& error);
// UTF-32 text in UTF-16.
std::u16string utf16(std::u32string_view text);
// linuxPath of a path in UTF-8, as a host gives it.
std::string linuxPathOfUtf8(const std::string& windowsPath, std::uint32_t& error);

// Stops the process with a message: the DLL did what Windows would not let it do.
[[noreturn]] void refuse(const std::string& what);

}  // namespace peloader
