/* scanner.cpp: one pass over the tagged text, copying plain text and expanding tags. */
#include <string.h>
#include <wchar.h>

#include "../glue/kxpqutil.h"
#include "../glue/omstring.h"
#include "engine.h"

/* Whether text begins with the tag, held in capitals: its first unit as it
   stands, since the scan finds a tag by that unit, the rest in any case. */
static qbool TagMatches(const qchar *text, const qchar *tag, qshort tagSize)
{
  return tagSize > 0 && text[0] == tag[0] && MatchesFolded(text, tag, tagSize);
}

qlong NextOpenTag(const globals *myGlobsP, qlong pos)
{
  const qchar *text = myGlobsP->bufferP;
  const qchar *p = text + pos;
  for (;;) {
    p = OMstrchrnul(p, myGlobsP->openTag[0]);
    if (*p == 0 || TagMatches(p, myGlobsP->openTag, myGlobsP->openTagSize)) return (qlong)(p - text);
    p++;
  }
}

/* Plain text up to the next open tag (or the end), copied in one run. */
static void CopyPlainText(ScanState *st)
{
  qlong next = NextOpenTag(st->myGlobsP, st->pos > st->firstOpen ? st->pos : st->firstOpen);
  st->firstOpen = 0;
  if (next > st->pos) AppendPlain(st, st->myGlobsP->bufferP + st->pos, next - st->pos);
  st->pos = next;
}

/* Makes room for one more unit at tagpos, growing by a chunk when full. */
static qbool EnsureTagRoom(globals *myGlobsP, qlong tagpos)
{
  if (tagpos < CapacityUnits(myGlobsP->tagBufSize)) return 1;
  return MakeRoomFor(&myGlobsP->tagBufP, &myGlobsP->tagBufSize, (int64_t)tagpos + 10, tagpos, 0);
}

/* Appends the n units at src to the tag text at *tagpos, copying as many as
   the buffer holds at a time; the buffer grows at the same units, to the
   same sizes, as appending them one at a time would make it. */
static qbool PutTagUnits(globals *myGlobsP, qlong *tagpos, const qchar *src, qlong n)
{
  while (n > 0) {
    if (!EnsureTagRoom(myGlobsP, *tagpos)) return 0;
    qlong room = CapacityUnits(myGlobsP->tagBufSize) - *tagpos;
    qlong k = n < room ? n : room;
    memcpy(myGlobsP->tagBufP + *tagpos, src, (size_t)k * sizeof(qchar));
    *tagpos += k;
    NoteReach(&myGlobsP->tagBufReach, *tagpos);
    src += k;
    n -= k;
  }
  return 1;
}

qshort CollectTagText(globals *myGlobsP, qlong openPos, qlong *closeAt)
{
  const qchar *text = myGlobsP->bufferP;
  const qchar close0 = myGlobsP->closeTag[0];
  qlong inpos = openPos + myGlobsP->openTagSize;
  qlong tagpos = 0;
  *closeAt = -1;
  for (;;) {
    /* The units up to the next one that may begin the close tag go in one run. */
    const qchar *stop = OMstrchrnul(text + inpos, close0);
    qlong run = (qlong)(stop - (text + inpos));
    if (!PutTagUnits(myGlobsP, &tagpos, text + inpos, run)) return kErrMemory;
    inpos += run;
    if (*stop == 0) return kErrNone;
    if (!EnsureTagRoom(myGlobsP, tagpos)) return kErrMemory;
    myGlobsP->tagBufP[tagpos] = 0;
    if (TagMatches(stop, myGlobsP->closeTag, myGlobsP->closeTagSize)) {
      *closeAt = inpos;
      return kErrNone;
    }
    myGlobsP->tagBufP[tagpos++] = close0;
    NoteReach(&myGlobsP->tagBufReach, tagpos);
    inpos++;
  }
}

/* The input behind the scan position is not read again (a splice may still
   write there): a large input gives its pages back as the scan passes them,
   so that it and the output are not both held whole. */
static void PassInput(ScanState *st)
{
  enum { kPassStep = 4096 / QCHAR_SIZE };
  if (st->pos - st->passedTo < kPassStep) return;
  DiscardXPPointerHead(st->myGlobsP->bufferP, st->pos * QCHAR_SIZE);
  st->passedTo = st->pos;
}

static void ScanTags(ScanState *st)
{
  globals *myGlobsP = st->myGlobsP;
  while (myGlobsP->bufferP[st->pos] != 0 && st->err == kErrNone) {
    CopyPlainText(st);
    PassInput(st);
    if (st->err || myGlobsP->bufferP[st->pos] == 0) break;
    qlong closeAt;
    qshort growErr = CollectTagText(myGlobsP, st->pos, &closeAt);
    if (closeAt < 0) {
      /* The input ended inside a tag: the open tag and all after it go out unchanged. */
      AppendOut(st, myGlobsP->bufferP + st->pos, st->inLen - st->pos);
      if (growErr) st->err = growErr;
      break;
    }
    LeaveFinishedSplices(st);
    /* Every unit between the tags went into the tag buffer. */
    qlong tagLen = closeAt - st->pos - myGlobsP->openTagSize;
    st->pos = closeAt + myGlobsP->closeTagSize;
    TrimTagBuffer(myGlobsP, tagLen);
    st->s1Result = 0;
    DispatchTag(st);
    if (st->s1Result && st->err == kErrNone) AppendS1(st);
    st->s1Result = 0;
  }
}

qshort ParseBuffer(globals *myGlobsP, qlong textLen, qlong firstOpen, qshort utfType, tCallback callback)
{
  qlong s1Size = S1Length(myGlobsP);
  qshort err = kErrNone;
  qchar *s1HoldP = NewUnits((int64_t)s1Size + 2, &err);
  if (!s1HoldP) return err;
  GetFldVal(myGlobsP->hashS1Ref, fmtChar, s1Size, s1HoldP, callback);
  s1HoldP[s1Size] = 0;

  ScanState st;
  memset(&st, 0, sizeof st);
  st.myGlobsP = myGlobsP;
  st.inLen = textLen;
  st.firstOpen = firstOpen;
  ScanTags(&st);
  err = st.err;
  if (err == kErrNone && utfType > 0) err = UTFencode(myGlobsP, utfType);

  SetFldVal(myGlobsP->hashS1Ref, fmtChar, s1HoldP, callback);
  DisposeXPPointer(s1HoldP);
  return err;
}
