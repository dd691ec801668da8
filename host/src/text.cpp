// text.cpp: number text and UTF-8 conversions.
#include "moravel/text.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

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

std::optional<double> parseNumber(std::u32string_view text) {
  std::size_t b = 0, e = text.size();
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
    std::size_t e = ascii.find_first_of("eE");
    bool tiny = e != std::string::npos && ascii.find('-', e) != std::string::npos;
    v = tiny ? 0.0 : HUGE_VAL;
    return negative ? -v : v;
  }
  if (res.ec != std::errc() || res.ptr != ascii.data() + ascii.size()) return std::nullopt;
  return v;
}

std::u32string decodeUtf8(std::string_view bytes, std::size_t* invalidBytes) {
  std::u32string out;
  out.reserve(bytes.size());
  std::size_t bad = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    unsigned char c = p[i];
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    }
    int extra = 0;
    char32_t cp = 0, min = 0;
    if (c >= 0xC2 && c <= 0xDF) extra = 1, cp = c & 0x1F, min = 0x80;
    else if (c >= 0xE0 && c <= 0xEF) extra = 2, cp = c & 0x0F, min = 0x800;
    else if (c >= 0xF0 && c <= 0xF4) extra = 3, cp = c & 0x07, min = 0x10000;
    bool ok = extra > 0;
    if (ok) {
      for (int k = 1; k <= extra; ++k) {
        if (i + k >= n || (p[i + k] & 0xC0) != 0x80) {
          ok = false;
          break;
        }
        cp = (cp << 6) | (p[i + k] & 0x3F);
      }
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (ok) {
      out.push_back(cp);
      i += static_cast<std::size_t>(extra) + 1;
    } else {
      out.push_back(c);  // the byte stands for the character of its own value
      ++bad;
      ++i;
    }
  }
  if (invalidBytes) *invalidBytes = bad;
  return out;
}

std::string encodeUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
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
