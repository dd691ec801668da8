// paths.cpp: Windows path names as this system names them, and the ANSI code page.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "moravel/text.h"
#include "standins.h"
#include "win32.h"

namespace peloader {

namespace {

// Windows-1252 from 0x80 to 0x9F; the rest of the page is Latin-1.
constexpr char16_t k1252[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

bool reservedCharacter(char16_t c)
{
  return c < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*';
}

// One name of a path in UTF-8; false for an unpaired surrogate, which no
// Linux name can hold.
bool toUtf8(std::u16string_view name, std::string& out)
{
  std::u32string text;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char32_t c = name[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (name[++i] - 0xDC00);
    else if (c >= 0xD800 && c < 0xE000)
      return false;
    text += c;
  }
  out = moravel::u8(text);
  return true;
}

std::vector<std::string> splitLinux(const std::string& path)
{
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at < path.size()) {
    std::size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    if (end > at) parts.push_back(path.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

}  // namespace

char16_t fromAnsi(unsigned char byte) { return byte >= 0x80 && byte < 0xA0 ? k1252[byte - 0x80] : byte; }

char ansiOf(char16_t unit)
{
  if (unit < 0x80 || (unit >= 0xA0 && unit < 0x100)) return static_cast<char>(unit);
  for (int i = 0; i < 32; ++i)
    if (k1252[i] == unit) return static_cast<char>(0x80 + i);
  return '?';
}

std::string linuxPath(std::u16string_view path, std::uint32_t& error)
{
  error = kErrorSuccess;
  if (path.empty()) {
    error = kErrorPathNotFound;
    return {};
  }
  for (char16_t c : path)
    if (reservedCharacter(c)) {
      error = kErrorInvalidName;
      return {};
    }
  std::u16string p(path);
  for (char16_t& c : p)
    if (c == '/') c = '\\';
  if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
    error = kErrorBadNetPath;  // a share or a device namespace: none here
    return {};
  }
  bool rooted = false;
  if (p.size() >= 2 && p[1] == ':') {
    char16_t drive = p[0] | 0x20;
    if (drive < 'a' || drive > 'z') {
      error = kErrorInvalidName;
      return {};
    }
    if (drive != 'z') {
      error = kErrorPathNotFound;
      return {};
    }
    p.erase(0, 2);
  }
  if (p.find(':') != std::u16string::npos) {
    error = kErrorInvalidName;  // a named stream: no file system here has them
    return {};
  }
  rooted = !p.empty() && p[0] == '\\';
  std::vector<std::string> parts;
  if (!rooted) {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) {
      error = kErrorPathNotFound;
      return {};
    }
    parts = splitLinux(cwd);
  }
  std::size_t at = 0;
  while (at <= p.size()) {
    std::size_t end = p.find('\\', at);
    if (end == std::u16string::npos) end = p.size();
    std::u16string name = p.substr(at, end - at);
    at = end + 1;
    if (name.empty() || name == u".") continue;
    if (name == u"..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    if (name.empty()) continue;
    std::string utf8;
    if (!toUtf8(name, utf8)) {
      error = kErrorInvalidName;
      return {};
    }
    parts.push_back(utf8);
  }
  std::string out;
  for (const auto& part : parts) out += "/" + part;
  return out.empty() ? "/" : out;
}

std::u16string utf16(std::u32string_view text)
{
  std::u16string out;
  for (char32_t c : text) {
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string linuxPathOfUtf8(const std::string& path, std::uint32_t& error)
{
  return linuxPath(utf16(moravel::u32(path)), error);
}

void refuse(const std::string& what)
{
  std::fprintf(stderr, "pe loader: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace peloader
