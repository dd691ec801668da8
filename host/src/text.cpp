// text.cpp: number text and UTF-8 conversions.
#include "moravel/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <type_traits>

namespace moravel {

std::string formatNumber(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  if (value == 0) return "0";  // also for -0
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, res.ptr);
}

std::u32string formatNumberU(double value) {
  std::string s = formatNumber(value);
  return std::u32string(s.begin(), s.end());
}

namespace {

// The grammar of a number text over any indexable run of characters.
template <class Chars>
std::optional<double> parseChars(const Chars& text, std::size_t size) {
  std::size_t b = 0, e = size;
  while (b < e && (text[b] == U' ' || text[b] == U'\t')) ++b;
  while (e > b && (text[e - 1] == U' ' || text[e - 1] == U'\t')) --e;
  if (b == e) return std::nullopt;
  std::string ascii;
  ascii.reserve(e - b);
  for (std::size_t i = b; i < e; ++i) {
    char32_t c = text[i];
    if (c > 0x7F) return std::nullopt;
    ascii.push_back(static_cast<char>(c));
  }
  // Grammar check first: from_chars would also accept "inf", "nan" and hex.
  std::size_t i = 0;
  if (ascii[i] == '+' || ascii[i] == '-') ++i;
  std::size_t digits = 0;
  while (i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9') ++i, ++digits;
  if (i < ascii.size() && ascii[i] == '.') {
    ++i;
    while (i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < ascii.size() && (ascii[i] == 'e' || ascii[i] == 'E')) {
    ++i;
    if (i < ascii.size() && (ascii[i] == '+' || ascii[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9') ++i, ++expDigits;
    if (expDigits == 0) return std::nullopt;
  }
  if (i != ascii.size()) return std::nullopt;
  const char* first = ascii.data();
  if (*first == '+') ++first;  // from_chars does not take a plus sign
  double v = 0;
  auto res = std::from_chars(first, ascii.data() + ascii.size(), v);
  if (res.ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: saturate like strtod does.
    bool negative = ascii[0] == '-';
    std::size_t ex = ascii.find_first_of("eE");
    bool tiny = ex != std::string::npos && ascii.find('-', ex) != std::string::npos;
    v = tiny ? 0.0 : HUGE_VAL;
    return negative ? -v : v;
  }
  if (res.ec != std::errc() || res.ptr != ascii.data() + ascii.size()) return std::nullopt;
  return v;
}

// Hands c to put; false when put answers that it wants no more.
template <class Put>
bool accepts(Put& put, char32_t c) {
  if constexpr (std::is_same_v<decltype(put(c)), bool>) return put(c);
  put(c);
  return true;
}

// The UTF-8 sequence at p[i] (n bytes in all): its length and code point, or
// 0 when the byte does not start a valid, shortest-form scalar value.
std::size_t decodeOne(const unsigned char* p, std::size_t n, std::size_t i, char32_t& cp) {
  unsigned char c = p[i];
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  std::size_t extra = 0;
  char32_t min = 0;
  if (c >= 0xC2 && c <= 0xDF) extra = 1, cp = c & 0x1F, min = 0x80;
  else if (c >= 0xE0 && c <= 0xEF) extra = 2, cp = c & 0x0F, min = 0x800;
  else if (c >= 0xF0 && c <= 0xF4) extra = 3, cp = c & 0x07, min = 0x10000;
  else return 0;
  for (std::size_t k = 1; k <= extra; ++k) {
    if (i + k >= n || (p[i + k] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i + k] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return extra + 1;
}

// Decodes the n bytes at p, handing each character to `put`, until `put`
// answers false (when it answers at all); returns the number of bytes taken
// as characters of their own value. A run of ASCII bytes goes a block at a
// time.
template <class Put>
std::size_t decodeEach(const unsigned char* p, std::size_t n, Put put) {
  constexpr std::size_t kBlock = 16;
  std::size_t bad = 0;
  for (std::size_t i = 0; i < n;) {
    if (i + kBlock <= n) {
      unsigned char bits = 0;
      for (std::size_t k = 0; k < kBlock; ++k) bits |= p[i + k];
      if (bits < 0x80) {
        for (std::size_t k = 0; k < kBlock; ++k)
          if (!accepts(put, p[i + k])) return bad;
        i += kBlock;
        continue;
      }
    }
    char32_t cp;
    std::size_t len = decodeOne(p, n, i, cp);
    if (len == 0) {
      cp = p[i];  // the byte stands for the character of its own value
      len = 1;
      ++bad;
    }
    if (!accepts(put, cp)) return bad;
    i += len;
  }
  return bad;
}

}  // namespace

std::optional<double> parseNumber(std::u32string_view text) { return parseChars(text, text.size()); }
std::optional<double> parseNumber(const Text& text) { return parseChars(text, text.size()); }

std::u32string decodeUtf8(std::string_view bytes, std::size_t* invalidBytes) {
  std::u32string out;
  out.reserve(bytes.size());
  std::size_t bad = decodeEach(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                               [&](char32_t c) { out.push_back(c); });
  if (invalidBytes) *invalidBytes = bad;
  return out;
}

// The bytes or'ed together in fixed blocks, which the compiler turns into
// vector code.
bool isAscii(const std::uint8_t* bytes, std::size_t n) {
  constexpr std::size_t kBlock = 64;
  std::size_t i = 0;
  for (; i + kBlock <= n; i += kBlock) {
    std::uint8_t bits = 0;
    for (std::size_t k = 0; k < kBlock; ++k) bits |= bytes[i + k];
    if (bits & 0x80) return false;
  }
  std::uint8_t bits = 0;
  for (; i < n; ++i) bits |= bytes[i];
  return (bits & 0x80) == 0;
}

Utf8Measure measureUtf8(const std::uint8_t* bytes, std::size_t n) {
  Utf8Measure m;
  m.invalidBytes = decodeEach(bytes, n, [&](char32_t c) {
    m.bits |= c;
    ++m.chars;
  });
  return m;
}

std::size_t decodeUtf8Into(const std::uint8_t* bytes, std::size_t n, char32_t* out, std::size_t max) {
  std::size_t k = 0;
  if (max > 0) decodeEach(bytes, n, [&](char32_t c) {
    out[k++] = c;
    return k < max;
  });
  return k;
}

Text decodeUtf8(Text bytes, std::size_t* invalidBytes) {
  if (invalidBytes) *invalidBytes = 0;
  if (bytes.wide() || isAscii(bytes.narrowData(), bytes.size())) return bytes;
  Utf8Measure m = measureUtf8(bytes.narrowData(), bytes.size());
  if (invalidBytes) *invalidBytes = m.invalidBytes;
  return decodeUtf8(std::move(bytes), m);
}

Text decodeUtf8(Text bytes, const Utf8Measure& m) {
  const std::uint8_t* in = bytes.narrowData();
  std::size_t n = bytes.size();
  if (m.bits <= 0xFF) {
    // Never longer than the bytes, so the decoding can overwrite them.
    std::uint8_t* out = bytes.narrowData();
    std::size_t k = 0;
    decodeEach(in, n, [&](char32_t c) { out[k++] = static_cast<std::uint8_t>(c); });
    bytes.truncate(k);
    return bytes;
  }
  Text wide;
  decodeUtf8Into(in, n, wide.prepareWide(m.chars), m.chars);
  return wide;
}

namespace {

// Writes the UTF-8 encoding of c at p; returns where it ends.
char* putUtf8(char32_t c, char* p) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x80) {
    *p++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *p++ = static_cast<char>(0xC0 | (c >> 6));
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *p++ = static_cast<char>(0xE0 | (c >> 12));
    *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *p++ = static_cast<char>(0xF0 | (c >> 18));
    *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return p;
}

void putUtf8(char32_t c, std::string& out) {
  char bytes[4];
  out.append(bytes, static_cast<std::size_t>(putUtf8(c, bytes) - bytes));
}

}  // namespace

std::string encodeUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) putUtf8(c, out);
  return out;
}

void appendUtf8(const char32_t* units, std::size_t count, std::string& out) {
  // Encoded a chunk at a time into a buffer of the chunk's largest encoding;
  // a block of ASCII characters goes in as bytes, without a test each.
  constexpr std::size_t kChunk = 4096, kBlock = 16;
  char bytes[4 * kChunk];
  for (std::size_t i = 0; i < count;) {
    std::size_t end = std::min(count, i + kChunk);
    char* p = bytes;
    while (i < end) {
      if (i + kBlock <= end) {
        char32_t bits = 0;
        for (std::size_t k = 0; k < kBlock; ++k) bits |= units[i + k];
        if (bits < 0x80) {
          for (std::size_t k = 0; k < kBlock; ++k) p[k] = static_cast<char>(units[i + k]);
          p += kBlock;
          i += kBlock;
          continue;
        }
      }
      p = putUtf8(units[i++], p);
    }
    out.append(bytes, static_cast<std::size_t>(p - bytes));
  }
}

void appendUtf8(const Text& text, std::size_t from, std::size_t count, std::string& out) {
  if (text.wide()) {
    appendUtf8(text.wideData() + from, count, out);
    return;
  }
  const std::uint8_t* p = text.narrowData() + from;
  if (isAscii(p, count)) {
    out.append(reinterpret_cast<const char*>(p), count);
    return;
  }
  for (std::size_t i = 0; i < count; ++i) putUtf8(p[i], out);
}

std::u32string fromLatin1(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  for (char c : bytes) out.push_back(static_cast<unsigned char>(c));
  return out;
}

std::string toLatin1(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c > 0xFF) throw std::range_error("character above 0xFF in one-byte text");
    out.push_back(static_cast<char>(static_cast<unsigned char>(c)));
  }
  return out;
}

}  // namespace moravel
