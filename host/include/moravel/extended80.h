// extended80.h: a double to and from the 80-bit extended number in which the Mac interface passes numbers.
#pragma once

#include <cmath>
#include <cstdint>

namespace moravel::extended80 {

// X is a record of the 80-bit layout: `exp`, 16 bits of sign and 15-bit
// exponent (bias 16383), then `man`, four 16-bit words of the significand
// with its integer bit, the most significant first.

template <class X>
double toDouble(const X& x) {
  auto e = static_cast<std::uint16_t>(x.exp);
  bool negative = (e & 0x8000) != 0;
  int exponent = e & 0x7FFF;
  std::uint64_t m = 0;
  for (int i = 0; i < 4; ++i) m = (m << 16) | static_cast<std::uint16_t>(x.man[i]);
  long double v;  // the whole significand, so that the value is rounded once
  if (exponent == 0x7FFF)
    v = (m << 1) == 0 ? HUGE_VALL : NAN;
  else if (m == 0)
    v = 0.0L;
  else
    v = std::ldexp(static_cast<long double>(m), (exponent ? exponent : 1) - 16383 - 63);
  return static_cast<double>(negative ? -v : v);
}

// A double's whole range lies in the normal range of the 80-bit form.
template <class X>
void fromDouble(double d, X& x) {
  std::uint16_t sign = std::signbit(d) ? 0x8000 : 0;
  d = std::fabs(d);
  std::uint64_t m = 0;
  int exponent = 0;
  if (std::isnan(d)) {
    exponent = 0x7FFF;
    m = 0xC000000000000000ull;
  } else if (std::isinf(d)) {
    exponent = 0x7FFF;
    m = 0x8000000000000000ull;
  } else if (d != 0) {
    int e;
    double f = std::frexp(d, &e);  // d = f * 2^e, 0.5 <= f < 1
    exponent = e - 1 + 16383;
    m = static_cast<std::uint64_t>(std::ldexp(f, 64));
  }
  x.exp = static_cast<std::int16_t>(sign | exponent);
  for (int i = 3; i >= 0; --i) {
    x.man[i] = static_cast<std::uint16_t>(m & 0xFFFF);
    m >>= 16;
  }
}

}  // namespace moravel::extended80
