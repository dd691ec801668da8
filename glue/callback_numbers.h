/* callback_numbers.h: the host's numbers as the library's 16-bit integers, in either form of the requests. */
#ifndef MORAVEL_CALLBACK_NUMBERS_H
#define MORAVEL_CALLBACK_NUMBERS_H

#include "../platform/qtypes.h"

/* An integer read: truncated toward zero and held to the 16-bit range, so a
   huge value never wraps into a small one; not a number reads as 0. */
static inline qshort NumToShort(long double val)
{
  if (val != val) return 0;
  if (val >= 32767.0L) return 32767;
  if (val <= -32768.0L) return -32768;
  return (qshort)val;
}

/* A count read from a list: one beyond 16 bits reads as negative, which
   callers refuse. */
static inline qshort NumToCount(long double val) { return val >= 32768.0L ? (qshort)-1 : NumToShort(val); }

#endif
