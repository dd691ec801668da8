// user32.cpp: LoadStringA and LoadStringW over the DLL's own string table,
// with the real functions' rules on buffer size and truncation.
#include <cstring>
#include <string>

#include "module.h"
#include "standins.h"
#include "thread.h"
#include "win32.h"

namespace peloader {

namespace {

constexpr std::uint32_t kRtString = 6;

// String `id` of the module's table: its units and their count, or null
// with the error set when the module or its block is missing. A missing
// string in a present block is an empty one.
const char16_t* findString(const void* instance, UINT id, std::uint32_t& length)
{
  const Module* m = moduleOfHandle(instance);
  if (!m) {
    setLastError(kErrorResourceDataNotFound);
    return nullptr;
  }
  std::uint32_t size = 0;
  const std::uint8_t* block = findResource(*m, {kRtString, {}}, {(id >> 4) + 1, {}}, size);
  if (!block) {
    setLastError(kErrorResourceNameNotFound);
    return nullptr;
  }
  std::uint32_t at = 0;
  for (UINT i = 0;; ++i) {
    if (at + 2 > size) refuse(m->fileName + ": a string table block ends inside a string");
    std::uint16_t n;
    std::memcpy(&n, block + at, 2);
    if (at + 2 + 2u * n > size) refuse(m->fileName + ": a string table block ends inside a string");
    if (i == (id & 15)) {
      length = n;
      return reinterpret_cast<const char16_t*>(block + at + 2);
    }
    at += 2 + 2u * n;
  }
}

int PE_WINAPI LoadStringW(void* instance, UINT id, WCHAR* buffer, int max)
{
  if (!buffer) {
    setLastError(kErrorInvalidParameter);
    return 0;
  }
  std::uint32_t length = 0;
  const char16_t* text = findString(instance, id, length);
  if (!text) return 0;
  if (max == 0) {  // the buffer receives a read-only pointer to the string itself
    std::memcpy(buffer, &text, sizeof text);
    return static_cast<int>(length);
  }
  if (max < 0) refuse("LoadStringW: a buffer of " + std::to_string(max) + " characters");
  std::uint32_t n = std::min(length, static_cast<std::uint32_t>(max - 1));
  std::memcpy(buffer, text, 2 * n);
  buffer[n] = 0;
  return static_cast<int>(n);
}

int PE_WINAPI LoadStringA(void* instance, UINT id, char* buffer, int max)
{
  if (!buffer || max <= 0) refuse("LoadStringA: no buffer, or one of " + std::to_string(max) + " characters");
  buffer[0] = 0;
  std::uint32_t length = 0;
  const char16_t* text = findString(instance, id, length);
  if (!text) return 0;
  std::string ansi;
  for (std::uint32_t i = 0; i < length; ++i) {
    if (text[i] >= 0xD800 && text[i] < 0xDC00 && i + 1 < length) ++i;  // a pair is one character
    ansi += ansiOf(text[i]);
  }
  std::size_t n = std::min(ansi.size(), static_cast<std::size_t>(max - 1));
  std::memcpy(buffer, ansi.data(), n);
  buffer[n] = 0;
  return static_cast<int>(n);
}

}  // namespace

const std::vector<StandIn>& user32StandIns()
{
  static const std::vector<StandIn> functions{
      {"LoadStringA", reinterpret_cast<void*>(&LoadStringA)},
      {"LoadStringW", reinterpret_cast<void*>(&LoadStringW)},
  };
  return functions;
}

}  // namespace peloader
