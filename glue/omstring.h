/* omstring.h: string functions and character conversions on qchar text. */
#ifndef MORAVEL_OMSTRING_H
#define MORAVEL_OMSTRING_H

#include "../platform/qtypes.h"

/* Strings of qchar units, zero-terminated; lengths and counts in units
   unless a name says bytes. Nothing here obtains memory: destinations are
   the caller's and must have room. */

/* Units before the terminator; 0 for null. */
qlong OMstrlen(const qchar *pString);
/* Length of the text at pString, looking at no more than pLimit units. */
qlong OMstrnlen(const qchar *pString, qlong pLimit);
/* First unit at or after p that is c or the terminator. */
const qchar *OMstrchrnul(const qchar *p, qchar c);
/* Copies pSource and its terminator to pDest; returns pDest. Nothing
   happens when either is null. */
qchar *OMstrcpy(qchar *pDest, const qchar *pSource);
/* Appends pSource and its terminator after the text at pDest; returns pDest. */
qchar *OMstrcat(qchar *pDest, const qchar *pSource);
/* -1, 0 or 1 as the first pCount units (up to a terminator) compare, by
   unit value. */
qshort OMstrncmp(const qchar *pString1, const qchar *pString2, qlong pCount);
/* The first place in pString where the text pStrCharSet stands, or null;
   pString itself for an empty pStrCharSet. */
qchar *OMstrstr(qchar *pString, const qchar *pStrCharSet);
/* -1, 0 or 1 as pCount bytes (not units) compare. */
qshort OMmemcmp(const void *pBuf1, const void *pBuf2, qlong pCount);

/* Each byte of the zero-terminated pSource becomes one unit of its value
   (ISO 8859-1), and the terminator too when pCopyNullTerminator. */
void CHRcopyAsciiStringToQchar(const char *pSource, qchar *pDest, qbool pCopyNullTerminator);
#if MORAVEL_UNICODE
/* pSourceLen bytes, each widened to a unit of its value; no terminator. */
void CHRcopyAsciiDataToQchar(const uint8_t *pSource, qlong pSourceLen, qchar *pDest);
/* A zero-terminated UTF-16 text as units, terminated; a surrogate pair
   becomes one character, a lone or ill-paired surrogate the marker
   kCharLoneSurrogate or kCharBadSurrogate. Returns the units written, at
   most the UTF-16 units read, so pOutBuf needs as many plus one. */
qlong CHRoscharToChar(const oschar *pInBuf, qchar *pOutBuf);
/* A zero-terminated text as UTF-16, terminated: a character above U+FFFF
   takes two units, one beyond U+10FFFF the marker kOscharTooLarge. Returns
   the UTF-16 units written; pOutBuf needs twice the text's units plus one. */
qlong CHRcharToOschar(const qchar *pInBuf, oschar *pOutBuf);
/* The UTF-8 form, zero-terminated; returns its byte count. pOutBuf may be
   pInBuf itself: no qchar gives more bytes than it takes. */
qlong CHRcharToUtf8(const qchar *pInBuf, uint8_t *pOutBuf);
#endif
/* Each unit of the zero-terminated pSource becomes one byte, its low 8 bits
   (callers check for characters above 0xFF first); pDest may be pSource. */
void CHRcopyQcharStringToAscii(const qchar *pSource, uint8_t *pDest, qbool pCopyNullTerminator);

/* Decimal text of a signed 32-bit number; returns s. */
qchar *longToStr(qlong n, qchar *s);

/* Converters' marker units for text that cannot be converted. */
enum { kCharLoneSurrogate = 1, kCharBadSurrogate = 2, kOscharTooLarge = 1 };

#endif
