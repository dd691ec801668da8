/* decode.cpp: the text of an included file from its bytes, and the rule that a text ends at its first zero unit. */
#include <string.h>

#include "../glue/omstring.h"
#include "moravel.h"

/* Texts are checked in runs of this many units: loops of fixed length,
   which the compiler turns into vector code. */
enum { kRun = 64 };

#if MORAVEL_UNICODE

/* Whether the kRun bytes at s are all below 0x80. */
static qbool IsAsciiRun(const uint8_t *s)
{
  qulong any = 0;
  for (int k = 0; k < kRun; k++) any |= s[k];
  return any < 0x80;
}

/* Length of the well-formed UTF-8 sequence of two or more bytes at s[i] (of
   n), with its character in *c; 0 when the bytes there are not one. */
static int Utf8Sequence(const uint8_t *s, qlong i, qlong n, qulong *c)
{
  uint8_t b = s[i];
  int len;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
    *c = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    *c = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    *c = b & 0x07;
  } else {
    return 0;
  }
  if (i + len > n) return 0;
  for (int k = 1; k < len; k++) {
    if ((s[i + k] & 0xC0) != 0x80) return 0;
    *c = (*c << 6) | (s[i + k] & 0x3F);
  }
  if ((len == 3 && (*c < 0x800 || (*c >= 0xD800 && *c <= 0xDFFF))) || (len == 4 && (*c < 0x10000 || *c > 0x10FFFF)))
    return 0;
  return len;
}

/* UTF-8. After a byte-order mark a byte that does not start a well-formed
   sequence becomes the character of its own value, so no byte is lost.
   Without a mark (strict) such a byte means the text is not UTF-8: -1. */
static qlong DecodeUtf8(const uint8_t *s, qlong n, qbool strict, qchar *out)
{
  qlong count = 0;
  for (qlong i = 0; i < n;) {
    /* A run of ASCII is widened whole, any other run byte by byte. */
    if (i + kRun <= n && IsAsciiRun(s + i)) {
      for (int k = 0; k < kRun; k++) out[count + k] = s[i + k];
      count += kRun;
      i += kRun;
      continue;
    }
    for (qlong end = i + kRun < n ? i + kRun : n; i < end;) {
      qulong c = s[i];
      int len = c < 0x80 ? 1 : Utf8Sequence(s, i, n, &c);
      if (!len) {
        if (strict) return -1;
        c = s[i];
        len = 1;
      }
      out[count++] = c;
      i += len;
    }
  }
  return count;
}

static qlong DecodeUtf32(const uint8_t *s, qlong n, qbool bigEndian, qchar *out)
{
  qlong units = n / 4;
  for (qlong i = 0; i < units; i++) {
    const uint8_t *u = s + 4 * i;
    out[i] = bigEndian ? ((qulong)u[0] << 24 | (qulong)u[1] << 16 | (qulong)u[2] << 8 | u[3])
                       : ((qulong)u[3] << 24 | (qulong)u[2] << 16 | (qulong)u[1] << 8 | u[0]);
  }
  return units;
}

/* UTF-16: the units are gathered in place in the raw block (each written at
   or before the bytes it comes from), then converted. An odd last byte
   becomes a unit of its own value, so it is kept rather than dropped. The
   converter stops at a zero unit, so the runs between zero units are
   converted one by one and the zero units kept for the caller to judge. */
static qlong DecodeUtf16(uint8_t *raw, qlong from, qlong n, qbool bigEndian, qchar *out)
{
  oschar *units = (oschar *)raw;
  qlong count = 0;
  for (qlong i = from; i + 1 < from + n; i += 2) {
    uint8_t a = raw[i], b = raw[i + 1];
    units[count++] = bigEndian ? (oschar)(a << 8 | b) : (oschar)(b << 8 | a);
  }
  if (n % 2) units[count++] = raw[from + n - 1];
  units[count] = 0;
  qlong produced = 0;
  for (qlong i = 0;;) {
    produced += CHRoscharToChar(units + i, out + produced);
    while (units[i]) i++;
    if (i == count) return produced;
    out[produced++] = 0;
    i++;
  }
}

qlong DecodeFileText(uint8_t *raw, qlong n, qchar *out)
{
  if (n >= 3 && raw[0] == 0xEF && raw[1] == 0xBB && raw[2] == 0xBF) return DecodeUtf8(raw + 3, n - 3, 0, out);
  if (n >= 4 && raw[0] == 0xFF && raw[1] == 0xFE && raw[2] == 0 && raw[3] == 0)
    return DecodeUtf32(raw + 4, n - 4, 0, out);
  if (n >= 2 && raw[0] == 0xFF && raw[1] == 0xFE) return DecodeUtf16(raw, 2, n - 2, 0, out);
  if (n >= 2 && raw[0] == 0xFE && raw[1] == 0xFF) return DecodeUtf16(raw, 2, n - 2, 1, out);
  if (n >= 4 && raw[0] == 0 && raw[1] == 0 && raw[2] == 0xFE && raw[3] == 0xFF)
    return DecodeUtf32(raw + 4, n - 4, 1, out);
  /* No mark: UTF-8 when every byte belongs to a well-formed sequence (a text
     of ASCII alone reads the same either way), else ISO 8859-1. */
  qlong count = DecodeUtf8(raw, n, 1, out);
  if (count >= 0) return count;
  CHRcopyAsciiDataToQchar(raw, n, out);
  return n;
}

#endif

qbool IsWholeText(const qchar *text, qlong *count)
{
  qlong n = *count;
  while (n > 0 && text[n - 1] == 0) n--;
  *count = n;
  return OMstrnlen(text, n) == n;
}

qbool ReadWholeText(const qchar *text, qchar open0, qlong *count, qlong *firstOpen)
{
  qlong n = *count;
  while (n > 0 && text[n - 1] == 0) n--;
  /* The units before p hold neither a zero nor the open tag's first unit. */
  const qchar *p = OMstrchrnul(text, open0);
  qlong k = (qlong)(p - text);
  *firstOpen = k;
  if (k < n && (*p == 0 || OMstrnlen(p, n - k) != n - k)) return 0;
  if (*p == 0) {
    *count = k;
    return 1;
  }
  qlong from = k < n ? n : k;
  *count = from + OMstrlen(text + from);
  return 1;
}

