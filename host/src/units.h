// units.h: texts between the host's storage and the plug-in's units (one byte or 32 bits).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <type_traits>

#include "moravel/stored_text.h"
#include "names.h"
#include "records.h"

namespace moravel::detail {

// Conversions run in fixed blocks, which the compiler turns into vector code
// at the optimisation level of a release build.
constexpr std::size_t kBlock = 64;

// Copies n units, converting each; returns the bitwise or of those read.
template <class To, class From>
From convertUnits(To* __restrict out, const From* __restrict in, std::size_t n) {
  From bits = 0;
  std::size_t i = 0;
  for (; i + kBlock <= n; i += kBlock)
    for (std::size_t k = 0; k < kBlock; ++k) {
      out[i + k] = static_cast<To>(in[i + k]);
      bits |= in[i + k];
    }
  for (; i < n; ++i) {
    out[i] = static_cast<To>(in[i]);
    bits |= in[i];
  }
  return bits;
}

// Narrows n 32-bit units into bytes while every unit fits; returns how many
// were narrowed (n when all fit; otherwise the block holding the first that
// does not is where it stopped).
inline std::size_t narrowUnits(std::uint8_t* __restrict out, const std::uint32_t* __restrict in, std::size_t n) {
  std::size_t i = 0;
  for (; i + kBlock <= n; i += kBlock)
    if (convertUnits(out + i, in + i, kBlock) > 0xFF) return i;
  if (convertUnits(out + i, in + i, n - i) > 0xFF) return i;
  return n;
}

// The units before the terminating zero, through the C library's scan where
// it has one for the unit size.
template <class U>
std::size_t unitLength(const U* src) {
  if constexpr (sizeof(U) == 1) {
    return std::strlen(reinterpret_cast<const char*>(src));
  } else if constexpr (sizeof(U) == sizeof(wchar_t)) {
    return std::wcslen(reinterpret_cast<const wchar_t*>(src));
  } else {
    std::size_t n = 0;
    while (src[n]) ++n;
    return n;
  }
}

// Where the first zero unit is among the n units at p, or n; it looks no
// further than the zero.
template <class U>
std::size_t zeroWithin(const U* p, std::size_t n) {
  const void* z;
  if constexpr (sizeof(U) == 1) z = std::memchr(p, 0, n);
  else if constexpr (sizeof(U) == sizeof(wchar_t)) z = std::wmemchr(reinterpret_cast<const wchar_t*>(p), 0, n);
  else return std::min(n, unitLength(p));
  return z ? static_cast<std::size_t>(static_cast<const U*>(z) - p) : n;
}

// Fills `text` with the zero-terminated units at `src`. Piece by piece, each
// piece searched for the zero and then converted while it is in the cache,
// so a long text is read from memory once.
template <class U>
void assignTerminated(Text& text, const U* src) {
  constexpr std::size_t kPiece = 16384;
  text.prepareNarrow(0);
  std::size_t n = 0;
  for (;;) {
    std::size_t k = zeroWithin(src + n, kPiece);
    std::uint8_t* out = text.growNarrow(n + k) + n;
    if constexpr (sizeof(U) == 1) {
      std::memcpy(out, src + n, k);
    } else if (narrowUnits(out, reinterpret_cast<const std::uint32_t*>(src + n), k) < k) {
      std::size_t all = n + unitLength(src + n);  // a character beyond one byte: the text is wide
      std::memcpy(text.prepareWide(all), src, all * sizeof(U));
      return;
    }
    n += k;
    if (k < kPiece) return;
  }
}

// Hands the zero-terminated units at `src` to `sink` in pieces, each
// searched for the zero while the piece is in the cache.
template <class U, class Sink>
void streamTerminated(const U* src, const Sink& sink) {
  constexpr std::size_t kPiece = 16384;
  for (std::size_t n = 0;;) {
    std::size_t k = zeroWithin(src + n, kPiece);
    if (k) sink(src + n, k);
    n += k;
    if (k < kPiece) return;
  }
}

// Writes the first n characters of `text` as units; returns the number of
// characters that did not fit a one-byte unit (each written as '?').
template <class U>
std::size_t copyUnits(const Text& text, std::size_t n, U* dst) {
  if (!text.wide()) {
    if constexpr (sizeof(U) == 1) {
      if (n) std::memcpy(dst, text.narrowData(), n);
    } else {
      convertUnits(dst, text.narrowData(), n);
    }
    return 0;
  }
  if constexpr (sizeof(U) == 4) {
    std::memcpy(dst, text.wideData(), n * sizeof(U));
    return 0;
  } else {
    std::size_t lost = 0;
    for (std::size_t i = 0; i < n; ++i) {
      char32_t c = text.wideData()[i];
      dst[i] = c > 0xFF ? static_cast<U>('?') : static_cast<U>(c);
      lost += c > 0xFF;
    }
    return lost;
  }
}

// The characters of a counted string: its length field, at most 255.
template <class U>
NameView counted(const Str255<U>& s) {
  return NameView(reinterpret_cast<const std::conditional_t<sizeof(U) == 1, std::uint8_t, std::uint32_t>*>(s.chars),
                  std::min<std::size_t>(s.length, 255));
}

// A name into a counted string: at most 255 characters, a zero after fewer;
// returns the number of characters that did not fit a one-byte unit.
template <class U, class Chars>
std::size_t putCounted(Str255<U>& d, const Chars& s) {
  std::size_t n = std::min<std::size_t>(s.size(), 255), lost = 0;
  d.length = static_cast<decltype(d.length)>(n);
  for (std::size_t i = 0; i < n; ++i) {
    char32_t c = s[i];
    if (sizeof(U) == 1 && c > 0xFF) {
      c = '?';
      ++lost;
    }
    d.chars[i] = static_cast<U>(c);
  }
  if (n < 255) d.chars[n] = 0;
  return lost;
}

}  // namespace moravel::detail
