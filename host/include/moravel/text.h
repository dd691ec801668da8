// text.h: code-point text helpers shared by the host and the command-line tool.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "moravel/stored_text.h"

namespace moravel {

// The shortest decimal text that reads back as the same double: 3, 2.5,
// -0.25, 1e+21. NaN is written "nan", infinities "inf" and "-inf".
std::string formatNumber(double value);
std::u32string formatNumberU(double value);

// Reads a whole text as a number: optional sign, digits with an optional
// fraction, an optional exponent. Leading and trailing blanks (space, tab)
// are allowed; anything else makes the text non-numeric.
std::optional<double> parseNumber(std::u32string_view text);
std::optional<double> parseNumber(const Text& text);

// Whether a number literal's digits before its exponent are all zeros: a
// literal that is not, yet reads as 0, was too small for a double.
template <class C>
bool isZeroLiteral(std::basic_string_view<C> literal) {
  for (C c : literal) {
    if (c == C('e') || c == C('E')) break;
    if (c >= C('1') && c <= C('9')) return false;
  }
  return true;
}

// UTF-8 decoding that loses nothing: every byte that does not start a valid,
// shortest-form sequence of a scalar value is taken as the code point of its
// own value (0x80..0xFF), and decoding resumes at the next byte.
// `invalidBytes`, when given, receives the number of bytes taken that way.
std::u32string decodeUtf8(std::string_view bytes, std::size_t* invalidBytes = nullptr);

// The same decoding of bytes held in a narrow text, done in the text's own
// storage when every character fits one byte (a text of ASCII bytes is
// already its own decoding); otherwise the text becomes wide.
Text decodeUtf8(Text bytes, std::size_t* invalidBytes = nullptr);

// What decoding bytes as above gives: how many characters, the bitwise or
// of them (above 0xFF: some character takes more than one byte), and how
// many bytes are taken as characters of their own value.
struct Utf8Measure {
  std::size_t chars = 0;
  char32_t bits = 0;
  std::size_t invalidBytes = 0;
};
Utf8Measure measureUtf8(const std::uint8_t* bytes, std::size_t n);
// Writes the first characters of that decoding to `out`, at most `max`;
// returns how many it wrote.
std::size_t decodeUtf8Into(const std::uint8_t* bytes, std::size_t n, char32_t* out, std::size_t max);
// The decoding of a narrow text of bytes already measured.
Text decodeUtf8(Text bytes, const Utf8Measure& m);

// Whether every byte is below 0x80.
bool isAscii(const std::uint8_t* bytes, std::size_t n);

// UTF-8 encoding of code points. A value that is not a scalar value (a
// surrogate, or above 0x10FFFF) is written as U+FFFD.
std::string encodeUtf8(std::u32string_view text);
// Appends the UTF-8 encoding of `count` characters of `text` from `from`.
void appendUtf8(const Text& text, std::size_t from, std::size_t count, std::string& out);
void appendUtf8(const char32_t* units, std::size_t count, std::string& out);

// One byte a character, both ways. `toLatin1` throws std::range_error when a
// code point is above 0xFF.
std::u32string fromLatin1(std::string_view bytes);
std::string toLatin1(std::u32string_view text);

// Convenience for ASCII/UTF-8 literals in code and tests.
inline std::u32string u32(std::string_view utf8) { return decodeUtf8(utf8); }
inline std::string u8(std::u32string_view text) { return encodeUtf8(text); }

}  // namespace moravel
