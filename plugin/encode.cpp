/* encode.cpp: HTML character references for every character from 160 up. */
#include <string.h>

#include "../glue/kxpqutil.h"
#include "../glue/omstring.h"
#include "moravel.h"

enum { kFirstEncoded = 160, kEntityCount = 96, kEntityUnits = 8 };

typedef struct {
  qchar keyword[kEntityUnits];
} UTFkey;

static UTFkey keyArray[kEntityCount];
static qlong sNameLength[kEntityCount]; /* lengths of the names in keyArray */

static const char *const kEntityNames[kEntityCount] = {
  "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",
  "uml",    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",
  "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",  "para",   "middot",
  "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest",
  "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
  "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",
  "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",
  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",
  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
  "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
  "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
  "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

void initKeyArray(void)
{
  for (int i = 0; i < kEntityCount; i++) {
    CHRcopyAsciiStringToQchar(kEntityNames[i], keyArray[i].keyword, 1);
    sNameLength[i] = OMstrlen(keyArray[i].keyword);
  }
}

static qbool HasName(qulong c, qshort type) { return type == kFormNamed && c - kFirstEncoded < kEntityCount; }

/* Length of the body of the reference for c, without writing it. */
static qlong BodyLength(qulong c, qshort type)
{
  if (HasName(c, type)) return sNameLength[c - kFirstEncoded];
  qulong base = type == kFormHex ? 16 : 10;
  qlong digits = 0;
  do {
    digits++;
    c /= base;
  } while (c);
  return (type == kFormHex ? 2 : 1) + digits;
}

/* Writes the body of the reference for c (what stands between "&" and ";")
   to body and returns its length. Characters above 255 have no name: the
   named form writes them as decimal references. */
static qlong ReferenceBody(qulong c, qshort type, qchar *body)
{
  if (HasName(c, type)) {
    qlong n = sNameLength[c - kFirstEncoded];
    memcpy(body, keyArray[c - kFirstEncoded].keyword, (size_t)(n + 1) * sizeof(qchar));
    return n;
  }
  if (type == kFormHex) {
    static const char kHexDigits[] = "0123456789ABCDEF";
    qchar hexStr[12];
    qlong n = 0;
    do {
      hexStr[n++] = (qchar)kHexDigits[c & 0xF];
      c >>= 4;
    } while (c);
    body[0] = '#';
    body[1] = 'x';
    for (qlong i = 0; i < n; i++) body[2 + i] = hexStr[n - 1 - i];
    body[2 + n] = 0;
    return 2 + n;
  }
  body[0] = '#';
  longToStr((qlong)c, body + 1);
  return OMstrlen(body);
}

/* Length of the text once every character from 160 up is a reference. */
static int64_t EncodedLength(const qchar *text, int64_t n, qshort type)
{
  for (const qchar *p = text; *p; p++)
    if (*p >= kFirstEncoded) n += BodyLength(*p, type) + 1;
  return n;
}

/* Encodes the n units of text in place, from the back: the references are
   written behind what is still to be read. */
static void EncodeBackward(qchar *text, int64_t n, int64_t finalLen, qshort type)
{
  qchar body[16];
  int64_t d = finalLen;
  text[d] = 0;
  for (int64_t s = n - 1; s >= 0; s--) {
    qchar c = text[s];
    if (c < kFirstEncoded) {
      text[--d] = c;
      continue;
    }
    qlong m = ReferenceBody(c, type, body);
    text[--d] = ';';
    d -= m;
    memcpy(text + d, body, (size_t)m * sizeof(qchar));
    text[--d] = '&';
  }
}

qshort UTFencode(globals *myGlobsP, qshort type)
{
  int64_t n = OMstrlen(myGlobsP->bufOutP);
  int64_t finalLen = EncodedLength(myGlobsP->bufOutP, n, type);
  if (finalLen == n) return kErrNone;
  /* Each reference needs room for the text so far and itself, and the
     output grows by a chunk whenever that is short: whole chunks. */
  if (!MakeRoomByChunks(&myGlobsP->bufOutP, &myGlobsP->bufOutSize, finalLen, n, 0)) return kErrMemory;
  NoteReach(&myGlobsP->bufOutReach, finalLen + 1);
  EncodeBackward(myGlobsP->bufOutP, n, finalLen, type);
  return kErrNone;
}
