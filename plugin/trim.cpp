/* trim.cpp: cleans each tag text and resolves bracketed and instance references in it. */
#include <string.h>

#include "../glue/omstring.h"
#include "moravel.h"

enum { kFldNameUnits = 100, kValueUnits = 200, kInstNameUnits = 100 };
/* Length of the "$cinst" that an instance name replaces. */
enum { kCinstLen = sizeof "$cinst" - 1 };

static qbool IsBlank(qchar c) { return c == 0x20 || c == 0x09 || c == 0x0A || c == 0x0D; }

/* The value of the name instring, at most maxOut units; returns its length.
   The host evaluates a name as it reads its value, so this is the whole of a
   bracketed reference's evaluation. */
static qlong doEval(qchar *instring, qchar *outstring, qlong maxOut, globals *myGlobsP)
{
  outstring[0] = 0;
  GetNamedVal(0, instring, fmtChar, maxOut, outstring, myGlobsP->callback);
  outstring[maxOut] = 0;
  return OMstrlen(outstring);
}

static qlong getCinstName(qchar *outstring, qlong maxOut, globals *myGlobsP)
{
  qchar notation[16];
  CHRcopyAsciiStringToQchar("$cinst().$name", notation, 1);
  return doEval(notation, outstring, maxOut, myGlobsP);
}

/* Removes surrounding blanks in place from the len units of text; returns
   the new length. */
static qlong TrimBlanks(qchar *text, qlong len)
{
  qlong realStart = 0;
  while (realStart < len && IsBlank(text[realStart])) realStart++;
  while (len > realStart && IsBlank(text[len - 1])) text[--len] = 0;
  if (realStart > 0) memmove(text, text + realStart, ((size_t)(len - realStart) + 1) * sizeof(qchar));
  return len - realStart;
}

static qlong StripLinebreaks(qchar *text)
{
  qlong kept = 0;
  for (qlong i = 0; text[i]; i++)
    if (text[i] != 0x0A && text[i] != 0x0D) text[kept++] = text[i];
  text[kept] = 0;
  return kept;
}

/* The value of the name between text[from] and the closing bracket at
   text[len - 1], or 0 when it has none. A name too long for fldName is
   left unresolved rather than cut to a different name. */
static qlong BracketValue(qchar *text, qlong from, qlong len, qchar *value, globals *myGlobsP)
{
  qchar fldName[kFldNameUnits];
  qlong n = len - 1 - from;
  if (n < 0 || n >= kFldNameUnits) return 0;
  memcpy(fldName, text + from, (size_t)n * sizeof(qchar));
  fldName[n] = 0;
  return doEval(fldName, value, kValueUnits - 1, myGlobsP);
}

/* The length of the keyword of the directive naming a method that the tag
   text begins with, or 0. Compared in exact case, unlike the dispatch: a tag
   text that begins with "method=" is called as a method but its [name] is
   not resolved here, as templates written for earlier versions expect. Most
   tag texts differ from every keyword in their first unit. */
static qlong MethodKeywordLength(const globals *myGlobsP, const qchar *text)
{
#define METHOD_ROW(kind, field, keyword, namesMethod)                                    \
  if (namesMethod && text[0] == myGlobsP->field[0] &&                                   \
      OMstrncmp(text, myGlobsP->field, DIRECTIVE_LENGTH(keyword)) == 0)                  \
    return DIRECTIVE_LENGTH(keyword);
  MORAVEL_DIRECTIVES(METHOD_ROW)
#undef METHOD_ROW
  return 0;
}

/* METHOD=[x] and TAGGEDMETHOD=[x] take the method's name from x; open is
   the length of the keyword, where the "[" stands. */
static void ResolveMethodName(globals *myGlobsP, qlong open, qchar *text, qlong len)
{
  if (len <= open || text[open] != '[' || text[len - 1] != ']') return;
  qchar value[kValueUnits];
  if (BracketValue(text, open + 1, len, value, myGlobsP) > 0) {
    text[open] = 0;
    OMstrcat(text, value);
    NoteReach(&myGlobsP->tagBufReach, (int64_t)OMstrlen(text) + 1);
  }
}

/* Replaces "$cinst" of the first "$cinst." by the current instance's name. */
static void ResolveCinst(globals *myGlobsP)
{
  qchar cInstStr[8];
  CHRcopyAsciiStringToQchar("$cinst.", cInstStr, 1);
  qchar *hit = OMstrstr(myGlobsP->tagBufP, cInstStr);
  if (!hit) return;
  qlong k = (qlong)(hit - myGlobsP->tagBufP);
  qchar instName[kInstNameUnits];
  qlong nameLen = getCinstName(instName, kInstNameUnits - 1, myGlobsP);
  if (nameLen <= 0) return;
  qlong len = OMstrlen(myGlobsP->tagBufP);
  qlong newLen = len - kCinstLen + nameLen;
  /* The instance name is left out when the buffer cannot hold it. */
  if (!MakeRoomFor(&myGlobsP->tagBufP, &myGlobsP->tagBufSize, (int64_t)newLen + 1, (int64_t)len + 1, 0))
    return;
  NoteReach(&myGlobsP->tagBufReach, (int64_t)newLen + 1);
  qchar *text = myGlobsP->tagBufP;
  memmove(text + k + nameLen, text + k + kCinstLen, ((size_t)(len - k - kCinstLen) + 1) * sizeof(qchar));
  memcpy(text + k, instName, (size_t)nameLen * sizeof(qchar));
}

void TrimTagBuffer(globals *myGlobsP, qlong len)
{
  qchar *text = myGlobsP->tagBufP;
  len = TrimBlanks(text, len);
  if (myGlobsP->internStrip) len = StripLinebreaks(text);

  qlong methodKeyword = MethodKeywordLength(myGlobsP, text);
  if (!methodKeyword) {
    qchar value[kValueUnits];
    if (len > 0 && text[0] == '[' && text[len - 1] == ']' &&
        BracketValue(text, 1, len, value, myGlobsP) > 0) {
      OMstrcpy(text, value);
      NoteReach(&myGlobsP->tagBufReach, (int64_t)OMstrlen(text) + 1);
    }
    return;
  }
  ResolveMethodName(myGlobsP, methodKeyword, text, len);
  ResolveCinst(myGlobsP);
}
