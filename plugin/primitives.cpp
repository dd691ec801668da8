/* primitives.cpp: what the scanner and the directives do to the text: appends to the output, "#S1", splices. */
#include <string.h>

#include "../glue/omstring.h"
#include "engine.h"

/* Copies k units to the end of the output, which has room for them. */
static void PutOut(ScanState *st, const qchar *text, qlong k)
{
  globals *myGlobsP = st->myGlobsP;
  memcpy(myGlobsP->bufOutP + st->outpos, text, (size_t)k * sizeof(qchar));
  st->outpos += k;
  myGlobsP->bufOutP[st->outpos] = 0;
  NoteReach(&myGlobsP->bufOutReach, st->outpos);
}

void AppendOut(ScanState *st, const qchar *text, qlong k)
{
  globals *myGlobsP = st->myGlobsP;
  if (MakeRoomFor(&myGlobsP->bufOutP, &myGlobsP->bufOutSize, (int64_t)st->outpos + k, st->outpos, &st->err))
    PutOut(st, text, k);
}

void AppendPlain(ScanState *st, const qchar *text, qlong k)
{
  globals *myGlobsP = st->myGlobsP;
  if (MakeRoomByChunks(&myGlobsP->bufOutP, &myGlobsP->bufOutSize, (int64_t)st->outpos + k, st->outpos, &st->err))
    PutOut(st, text, k);
}

void AppendValue(ScanState *st, const qchar *text, qlong n)
{
  if (n > 0) AppendOut(st, text, n);
}

qlong S1Length(const globals *myGlobsP)
{
  qlong n = 0;
  GetFldVal(myGlobsP->hashS1Ref, fmtLength, fmtLengthSize, &n, myGlobsP->callback);
  return n < 0 ? 0 : n;
}

qlong S1ToValueBuffer(ScanState *st)
{
  globals *myGlobsP = st->myGlobsP;
  qlong n = S1Length(myGlobsP);
  if (!MakeRoomFor(&myGlobsP->subBufP, &myGlobsP->subBufSize, n, 0, &st->err)) return -1;
  myGlobsP->subBufP[0] = 0;
  GetFldVal(myGlobsP->hashS1Ref, fmtChar, n, myGlobsP->subBufP, myGlobsP->callback);
  NoteReach(&myGlobsP->subBufReach, (int64_t)n + 1);
  return OMstrnlen(myGlobsP->subBufP, n);
}

void AppendS1(ScanState *st) { AppendValue(st, st->myGlobsP->subBufP, S1ToValueBuffer(st)); }

qbool SpliceAllowed(ScanState *st)
{
  if (st->depth < kMaxSpliceDepth) return 1;
  st->err = kErrMemory;
  return 0;
}

qbool SpliceFits(const ScanState *st, qlong k) { return k <= st->pos; }

void SpliceBefore(ScanState *st, qlong k)
{
  st->pos -= k;
  st->restAfter[st->depth++] = st->inLen - st->pos - k;
}

qbool SpliceBegin(ScanState *st, qlong k, qlong r)
{
  globals *myGlobsP = st->myGlobsP;
  NoteReach(&myGlobsP->bufferReach, (int64_t)st->pos + r + k + 2);
  return MakeRoomFor(&myGlobsP->bufferP, &myGlobsP->bufferSize, (int64_t)st->pos + r + k + 2, st->pos, &st->err);
}

void SpliceEnd(ScanState *st, qlong k, const qchar *restP, qlong r)
{
  globals *myGlobsP = st->myGlobsP;
  memmove(myGlobsP->bufferP + st->pos + k, restP, (size_t)r * sizeof(qchar));
  myGlobsP->bufferP[st->pos + k + r] = 0;
  st->inLen = st->pos + k + r;
  st->restAfter[st->depth++] = r;
}

void LeaveFinishedSplices(ScanState *st)
{
  qlong after = st->inLen - st->pos;
  while (st->depth > 0 && after <= st->restAfter[st->depth - 1]) st->depth--;
}
