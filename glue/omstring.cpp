/* omstring.cpp: string functions and character conversions on qchar text. */
#include "omstring.h"

#include <string.h>
#include <wchar.h>

qlong OMstrlen(const qchar *pString)
{
  if (!pString) return 0;
#if MORAVEL_UNICODE && WCHAR_MAX > 0xFFFF
  return (qlong)wcslen((const wchar_t *)pString); /* a qchar is a wchar_t here: the C library's scan */
#elif MORAVEL_UNICODE
  const qchar *p = pString;
  while (*p) p++;
  return (qlong)(p - pString);
#else
  return (qlong)strlen((const char *)pString); /* the C library's scan, many bytes a step */
#endif
}

qlong OMstrnlen(const qchar *pString, qlong pLimit)
{
  if (!pString || pLimit <= 0) return 0;
#if MORAVEL_UNICODE && WCHAR_MAX > 0xFFFF
  const wchar_t *hit = wmemchr((const wchar_t *)pString, 0, (size_t)pLimit);
  return hit ? (qlong)((const qchar *)hit - pString) : pLimit;
#elif MORAVEL_UNICODE
  /* Runs of fixed length, which the compiler turns into vector code; the
     run holding the zero is then read unit by unit. */
  enum { kRun = 64 };
  qlong i = 0;
  for (; i + kRun <= pLimit; i += kRun) {
    qchar none = 1;
    for (int k = 0; k < kRun; k++) none &= (qchar)(pString[i + k] != 0);
    if (!none) break;
  }
  while (i < pLimit && pString[i]) i++;
  return i;
#else
  const void *hit = memchr(pString, 0, (size_t)pLimit);
  return hit ? (qlong)((const qchar *)hit - pString) : pLimit;
#endif
}

/* The one copy loop behind OMstrcpy and OMstrcat. */
static void sCopyString(qchar *pDest, const qchar *pSource)
{
  while ((*pDest++ = *pSource++) != 0) {
  }
}

/* The C library's scans, many units a step, where a qchar is a unit they
   know (with the GNU C library's one-byte scan in a single pass). */
const qchar *OMstrchrnul(const qchar *p, qchar c)
{
#if MORAVEL_UNICODE && WCHAR_MAX > 0xFFFF
  const wchar_t *hit = c ? wcschr((const wchar_t *)p, (wchar_t)c) : 0;
  return hit ? (const qchar *)hit : p + wcslen((const wchar_t *)p);
#elif MORAVEL_UNICODE
  for (;;) {
    if (p[0] == c || p[0] == 0) return p;
    if (p[1] == c || p[1] == 0) return p + 1;
    if (p[2] == c || p[2] == 0) return p + 2;
    if (p[3] == c || p[3] == 0) return p + 3;
    p += 4;
  }
#elif defined(__GLIBC__)
  return (const qchar *)strchrnul((const char *)p, c);
#else
  if (c == 0) return p + strlen((const char *)p);
  const char *hit = strchr((const char *)p, c);
  return hit ? (const qchar *)hit : p + strlen((const char *)p);
#endif
}

qchar *OMstrcpy(qchar *pDest, const qchar *pSource)
{
  if (pDest && pSource) sCopyString(pDest, pSource);
  return pDest;
}

qchar *OMstrcat(qchar *pDest, const qchar *pSource)
{
  if (pDest && pSource) sCopyString(pDest + OMstrlen(pDest), pSource);
  return pDest;
}

qshort OMstrncmp(const qchar *pString1, const qchar *pString2, qlong pCount)
{
  for (qlong i = 0; i < pCount; i++) {
    qchar a = pString1[i], b = pString2[i];
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
  }
  return 0;
}

qshort OMmemcmp(const void *pBuf1, const void *pBuf2, qlong pCount)
{
  const uint8_t *a = (const uint8_t *)pBuf1, *b = (const uint8_t *)pBuf2;
  for (qlong i = 0; i < pCount; i++)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

qchar *OMstrstr(qchar *pString, const qchar *pStrCharSet)
{
  qlong n = OMstrlen(pStrCharSet);
  if (n == 0) return pString;
  if (!pString) return 0;
  qlong m = OMstrlen(pString);
  for (qlong pos = 0; m - pos >= n; pos++)
    if (OMmemcmp(pString + pos, pStrCharSet, n * QCHAR_SIZE) == 0) return pString + pos;
  return 0;
}

void CHRcopyAsciiStringToQchar(const char *pSource, qchar *pDest, qbool pCopyNullTerminator)
{
  const uint8_t *s = (const uint8_t *)pSource;
  while (*s) *pDest++ = *s++;
  if (pCopyNullTerminator) *pDest = 0;
}

void CHRcopyQcharStringToAscii(const qchar *pSource, uint8_t *pDest, qbool pCopyNullTerminator)
{
  while (*pSource) *pDest++ = (uint8_t)(*pSource++ & 0xFF);
  if (pCopyNullTerminator) *pDest = 0;
}

#if MORAVEL_UNICODE
void CHRcopyAsciiDataToQchar(const uint8_t *pSource, qlong pSourceLen, qchar *pDest)
{
  for (qlong i = 0; i < pSourceLen; i++) pDest[i] = pSource[i];
}

static int isSurrogate(qulong u) { return u >= 0xD800 && u <= 0xDFFF; }

qlong CHRoscharToChar(const oschar *pInBuf, qchar *pOutBuf)
{
  qlong n = 0;
  while (*pInBuf) {
    qulong u = *pInBuf++;
    if (!isSurrogate(u)) {
      pOutBuf[n++] = u;
    } else if (*pInBuf == 0) {
      pOutBuf[n++] = kCharLoneSurrogate;
      break;
    } else {
      /* A unit that cannot pair with this one is not swallowed with it: it
         is converted on its own next, so no valid character is lost. */
      qulong low = *pInBuf;
      if (u <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
        pOutBuf[n++] = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        pInBuf++;
      } else {
        pOutBuf[n++] = kCharBadSurrogate;
      }
    }
  }
  pOutBuf[n] = 0;
  return n;
}

qlong CHRcharToOschar(const qchar *pInBuf, oschar *pOutBuf)
{
  qlong n = 0;
  for (; *pInBuf; pInBuf++) {
    qulong c = *pInBuf;
    if (c >= 0x10000 && c <= 0x10FFFF) {
      pOutBuf[n++] = (oschar)(0xD800 + ((c - 0x10000) >> 10));
      pOutBuf[n++] = (oschar)(0xDC00 + (c & 0x3FF));
    } else if (c > 0x10FFFF) {
      pOutBuf[n++] = kOscharTooLarge;
    } else {
      pOutBuf[n++] = (oschar)c;
    }
  }
  pOutBuf[n] = 0;
  return n;
}

qlong CHRcharToUtf8(const qchar *pInBuf, uint8_t *pOutBuf)
{
  qlong n = 0;
  for (; *pInBuf; pInBuf++) {
    qulong c = *pInBuf;
    if (c < 0x80) {
      pOutBuf[n++] = (uint8_t)c;
    } else if (c < 0x800) {
      pOutBuf[n++] = (uint8_t)(0xC0 | (c >> 6));
      pOutBuf[n++] = (uint8_t)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      pOutBuf[n++] = (uint8_t)(0xE0 | (c >> 12));
      pOutBuf[n++] = (uint8_t)(0x80 | ((c >> 6) & 0x3F));
      pOutBuf[n++] = (uint8_t)(0x80 | (c & 0x3F));
    } else {
      pOutBuf[n++] = (uint8_t)(0xF0 | ((c >> 18) & 0x07));
      pOutBuf[n++] = (uint8_t)(0x80 | ((c >> 12) & 0x3F));
      pOutBuf[n++] = (uint8_t)(0x80 | ((c >> 6) & 0x3F));
      pOutBuf[n++] = (uint8_t)(0x80 | (c & 0x3F));
    }
  }
  pOutBuf[n] = 0;
  return n;
}
#endif

qchar *longToStr(qlong n, qchar *s)
{
  /* Digits are produced least significant first behind a leading zero unit,
     then the whole run is reversed so the zero unit ends up last. */
  qulong mag = n < 0 ? (qulong)0 - (qulong)n : (qulong)n;
  qlong len = 0;
  s[len++] = 0;
  do {
    s[len++] = (qchar)('0' + mag % 10);
    mag /= 10;
  } while (mag);
  if (n < 0) s[len++] = '-';
  for (qlong i = 0, j = len - 1; i < j; i++, j--) {
    qchar t = s[i];
    s[i] = s[j];
    s[j] = t;
  }
  return s;
}
