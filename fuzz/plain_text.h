// plain_text.h: the fuzz oracles' own UTF-8 decoding and failure report, written plainly.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

[[noreturn]] inline void Fail(const std::string& what)
{
  fprintf(stderr, "oracle failure: %s\n", what.c_str());
  abort();
}

// Strict UTF-8 (shortest forms of scalar values only); nullopt otherwise.
inline std::optional<std::u32string> PlainUtf8(std::string_view bytes)
{
  std::u32string out;
  size_t i = 0;
  while (i < bytes.size()) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    int extra;
    char32_t c, least;
    if (b < 0x80) {
      out += b;
      i++;
      continue;
    } else if (b >= 0xC0 && b < 0xE0) {
      extra = 1, c = b & 0x1F, least = 0x80;
    } else if (b >= 0xE0 && b < 0xF0) {
      extra = 2, c = b & 0x0F, least = 0x800;
    } else if (b >= 0xF0 && b < 0xF8) {
      extra = 3, c = b & 0x07, least = 0x10000;
    } else {
      return std::nullopt;
    }
    if (i + extra >= bytes.size()) return std::nullopt;
    for (int k = 1; k <= extra; k++) {
      unsigned char n = static_cast<unsigned char>(bytes[i + k]);
      if ((n & 0xC0) != 0x80) return std::nullopt;
      c = c << 6 | (n & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    out += c;
    i += extra + 1;
  }
  return out;
}

// A text as a record's value must be: UTF-8, no NUL, and (one-byte build)
// nothing above U+00FF.
inline std::optional<std::u32string> PlainValueText(std::string_view bytes, bool oneByte)
{
  std::optional<std::u32string> t = PlainUtf8(bytes);
  if (!t) return std::nullopt;
  for (char32_t c : *t)
    if (c == 0 || (oneByte && c > 0xFF)) return std::nullopt;
  return t;
}

inline std::string Printable(std::string_view bytes)
{
  std::string out;
  char buf[8];
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}
