/* omstring.h: string functions and character conversions on qchar text. */
#ifndef MORAVEL_OMSTRING_H
#define MORAVEL_OMSTRING_H

#include "../platform/qtypes.h"

qlong OMstrlen(const qchar *pString);
/* Length of the text at pString, looking at no more than pLimit units. */
qlong OMstrnlen(const qchar *pString, qlong pLimit);
/* First unit at or after p that is c or the terminator. */
const qchar *OMstrchrnul(const qchar *p, qchar c);
qchar *OMstrcpy(qchar *pDest, const qchar *pSource);
qchar *OMstrcat(qchar *pDest, const qchar *pSource);
qshort OMstrncmp(const qchar *pString1, const qchar *pString2, qlong pCount);
qchar *OMstrstr(qchar *pString, const qchar *pStrCharSet);
qshort OMmemcmp(const void *pBuf1, const void *pBuf2, qlong pCount);

void CHRcopyAsciiStringToQchar(const char *pSource, qchar *pDest, qbool pCopyNullTerminator);
#if MORAVEL_UNICODE
void CHRcopyAsciiDataToQchar(const uint8_t *pSource, qlong pSourceLen, qchar *pDest);
qlong CHRoscharToChar(const oschar *pInBuf, qchar *pOutBuf);
qlong CHRcharToOschar(const qchar *pInBuf, oschar *pOutBuf);
/* The UTF-8 form, zero-terminated; returns its byte count. pOutBuf may be
   pInBuf itself: no qchar gives more bytes than it takes. */
qlong CHRcharToUtf8(const qchar *pInBuf, uint8_t *pOutBuf);
#endif
void CHRcopyQcharStringToAscii(const qchar *pSource, uint8_t *pDest, qbool pCopyNullTerminator);

/* Decimal text of a signed 32-bit number; returns s. */
qchar *longToStr(qlong n, qchar *s);

/* Converters' marker units for text that cannot be converted. */
enum { kCharLoneSurrogate = 1, kCharBadSurrogate = 2, kOscharTooLarge = 1 };

#endif
