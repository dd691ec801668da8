/* directives.cpp: what a tag produces: fields, calculations, methods and files. */
#include <string.h>

#include "../glue/kxpqutil.h"
#include "../glue/omstring.h"
#include "engine.h"

/* Whether buf begins with the keyword verb, held in capitals, in any case. */
static qbool verbMatch(const qchar *buf, const qchar *verb)
{
  /* Most tag texts differ from a keyword in their first unit. */
  if (verb[0] && FoldAZ(buf[0]) != verb[0]) return 0;
  return MatchesFolded(buf, verb, OMstrlen(verb));
}

static void EvalToS1(ScanState *st, qchar *calc)
{
  EvalCalcString(calc, st->myGlobsP->hashS1Ref, st->myGlobsP->callback);
  st->s1Result = 1;
}

/* A bracketed value, [calculation], is replaced by the calculation's result
   in the value buffer when senseBrackets is set. text may be the value buffer
   itself. Returns the length of what is to be appended, or -1 (err set). */
static qlong SenseBrackets(ScanState *st, qchar *text, qlong n, qbool *didExpand)
{
  *didExpand = 0;
  if (!st->myGlobsP->senseBrackets || n < 1 || text[0] != '[' || text[n - 1] != ']') return n;
  text[n - 1] = 0;
  EvalCalcString(text + 1, st->myGlobsP->hashS1Ref, st->myGlobsP->callback);
  *didExpand = 1;
  return S1ToValueBuffer(st);
}

/* Reads a named value into the value buffer, whole; returns its length, or
   -1 (err set). One request reads a value that fits; only a value that fills
   the buffer costs a question for its length, and a read at that length. */
static qlong NamedValueToValueBuffer(ScanState *st, qchar *name)
{
  globals *myGlobsP = st->myGlobsP;
  qlong maxlen = myGlobsP->subBufSize / QCHAR_SIZE;
  myGlobsP->subBufP[0] = 0;
  GetNamedVal(0, name, fmtChar, maxlen, myGlobsP->subBufP, myGlobsP->callback);
  qlong n = OMstrnlen(myGlobsP->subBufP, maxlen);
  NoteReach(&myGlobsP->subBufReach, (int64_t)n + 1); /* the value and its terminator */
  if (n < maxlen) return n;
  qlong whole = 0;
  GetNamedVal(0, name, fmtLength, fmtLengthSize, &whole, myGlobsP->callback);
  if (whole <= maxlen) return n;
  if (!MakeRoomFor(&myGlobsP->subBufP, &myGlobsP->subBufSize, whole, 0, &st->err)) return -1;
  myGlobsP->subBufP[0] = 0;
  GetNamedVal(0, name, fmtChar, whole, myGlobsP->subBufP, myGlobsP->callback);
  NoteReach(&myGlobsP->subBufReach, (int64_t)whole + 1);
  return OMstrnlen(myGlobsP->subBufP, whole);
}

static void DoField(ScanState *st, qchar *name)
{
  if (st->myGlobsP->forceEval) {
    EvalToS1(st, name);
    return;
  }
  qlong n = NamedValueToValueBuffer(st, name);
  qbool didExpand;
  n = SenseBrackets(st, st->myGlobsP->subBufP, n, &didExpand);
  AppendValue(st, st->myGlobsP->subBufP, n);
}

static void DoMappedField(ScanState *st)
{
  globals *myGlobsP = st->myGlobsP;
  for (qshort i = 0; i < myGlobsP->mappingCount; i++) {
    keywordMap *kwMapP = &myGlobsP->keywordArray[i];
    if (verbMatch(myGlobsP->tagBufP, kwMapP->keyword)) {
      OMstrcpy(myGlobsP->tagBufP, kwMapP->fieldName);
      NoteReach(&myGlobsP->tagBufReach, (int64_t)OMstrlen(kwMapP->fieldName) + 1);
      break;
    }
  }
  if (myGlobsP->forceEval) {
    EvalToS1(st, myGlobsP->tagBufP);
    return;
  }
  qlong n = NamedValueToValueBuffer(st, myGlobsP->tagBufP);
  AppendValue(st, myGlobsP->subBufP, n);
}

/* Copies the input from pos to its end into a block of its own. */
static qchar *SaveRest(ScanState *st, qlong r)
{
  qchar *restP = NewUnits((int64_t)r + 2, &st->err);
  if (restP) memcpy(restP, st->myGlobsP->bufferP + st->pos, ((size_t)r + 1) * sizeof(qchar));
  return restP;
}

/* Reads the value of a TAGGED tag, of at most n units, to `at`; its length. */
static qlong ReadTaggedValue(ScanState *st, qchar *arg, qbool fromS1, qlong n, qchar *at)
{
  globals *myGlobsP = st->myGlobsP;
  at[0] = 0;
  if (fromS1)
    GetFldVal(myGlobsP->hashS1Ref, fmtChar, n + 1, at, myGlobsP->callback);
  else
    GetNamedVal(0, arg, fmtChar, n + 1, at, myGlobsP->callback);
  return OMstrnlen(at, n + 1);
}

/* The value read into the scanned input just before pos, then moved up
   against the rest when it is shorter than announced; the unit at pos,
   where the value's terminator may land, is kept. */
static void SpliceValueBefore(ScanState *st, qchar *arg, qbool fromS1, qlong n)
{
  qchar *end = st->myGlobsP->bufferP + st->pos;
  qchar kept = *end;
  qlong k = ReadTaggedValue(st, arg, fromS1, n, end - n);
  if (k < n) memmove(end - k, end - n, (size_t)k * sizeof(qchar));
  *end = kept;
  SpliceBefore(st, k);
}

/* The value written at pos, the rest of the input saved and put behind it. */
static void SpliceValueAt(ScanState *st, qchar *arg, qbool fromS1, qlong n)
{
  qlong r = st->inLen - st->pos;
  qchar *restP = SaveRest(st, r);
  if (!restP) return;
  if (SpliceBegin(st, n, r)) {
    qchar *at = st->myGlobsP->bufferP + st->pos;
    SpliceEnd(st, ReadTaggedValue(st, arg, fromS1, n, at), restP, r);
  }
  DisposeXPPointer(restP);
}

/* TAGGEDMETHOD= and TAGGEDFIELD=: the value is written straight into the
   input and scanned in turn. */
static void DoTaggedValue(ScanState *st, qchar *arg, qbool isMethod)
{
  globals *myGlobsP = st->myGlobsP;
  qbool fromS1 = isMethod || myGlobsP->forceEval;
  qlong n = 0;
  if (isMethod)
    CallProcedure(arg, myGlobsP->hashS1Ref, myGlobsP->callback);
  else if (myGlobsP->forceEval)
    EvalCalcString(arg, myGlobsP->hashS1Ref, myGlobsP->callback);
  if (fromS1) {
    n = S1Length(myGlobsP);
  } else {
    GetNamedVal(0, arg, fmtLength, fmtLengthSize, &n, myGlobsP->callback);
    if (n < 0) n = 0;
  }
  if (!SpliceAllowed(st)) return;
  if (SpliceFits(st, n))
    SpliceValueBefore(st, arg, fromS1, n);
  else
    SpliceValueAt(st, arg, fromS1, n);
}

/* Puts a file name into the value buffer as the platform's path buffer. */
static qbool PlaceFileName(ScanState *st, const qchar *name)
{
  globals *myGlobsP = st->myGlobsP;
  qlong m = OMstrlen(name);
  if (!MakeRoomFor(&myGlobsP->subBufP, &myGlobsP->subBufSize, (int64_t)m + MORAVEL_MAC, 0, &st->err)) return 0;
  NoteReach(&myGlobsP->subBufReach, (int64_t)m + MORAVEL_MAC + 1);
#if MORAVEL_MAC
  myGlobsP->subBufP[0] = (qchar)m;
  memcpy(myGlobsP->subBufP + 1, name, ((size_t)m + 1) * sizeof(qchar));
#else
  memcpy(myGlobsP->subBufP, name, ((size_t)m + 1) * sizeof(qchar));
#endif
  return 1;
}

static qchar *ReadNamedFile(ScanState *st, const qchar *name, qlong *filesize)
{
  *filesize = 0;
  if (!PlaceFileName(st, name)) return 0;
  AdjustPath(st->myGlobsP);
  return FetchFile(st->myGlobsP->subBufP, &st->err, filesize);
}

static void DoFile(ScanState *st, const qchar *name)
{
  qlong filesize;
  qchar *fileP = ReadNamedFile(st, name, &filesize);
  if (fileP && st->err == kErrNone) {
    qbool didExpand;
    qlong n = SenseBrackets(st, fileP, filesize, &didExpand);
    AppendValue(st, didExpand ? st->myGlobsP->subBufP : fileP, n);
  }
  if (fileP) DisposeXPPointer(fileP);
}

/* The file's text written at pos, the rest of the input kept in the value
   buffer meanwhile and put behind it. */
static void SpliceFileAt(ScanState *st, const qchar *fileP, qlong filesize)
{
  globals *myGlobsP = st->myGlobsP;
  qlong r = st->inLen - st->pos;
  if (!MakeRoomFor(&myGlobsP->subBufP, &myGlobsP->subBufSize, r, 0, &st->err)) return;
  NoteReach(&myGlobsP->subBufReach, (int64_t)r + 1);
  memcpy(myGlobsP->subBufP, myGlobsP->bufferP + st->pos, ((size_t)r + 1) * sizeof(qchar));
  if (SpliceBegin(st, filesize, r)) {
    memcpy(myGlobsP->bufferP + st->pos, fileP, (size_t)filesize * sizeof(qchar));
    SpliceEnd(st, filesize, myGlobsP->subBufP, r);
  }
}

static void DoTaggedFile(ScanState *st, const qchar *name)
{
  qlong filesize;
  qchar *fileP = ReadNamedFile(st, name, &filesize);
  if (fileP && st->err == kErrNone && SpliceAllowed(st)) {
    if (SpliceFits(st, filesize)) {
      memcpy(st->myGlobsP->bufferP + st->pos - filesize, fileP, (size_t)filesize * sizeof(qchar));
      SpliceBefore(st, filesize);
    } else {
      SpliceFileAt(st, fileP, filesize);
    }
  }
  if (fileP) DisposeXPPointer(fileP);
}

/* Each keyword field holds its keyword and terminator. */
#define KEYWORD_FITS(kind, field, keyword, namesMethod) \
  static_assert(sizeof keyword * sizeof(qchar) <= sizeof(globals::field), #field " cannot hold " keyword);
MORAVEL_DIRECTIVES(KEYWORD_FITS)
#undef KEYWORD_FITS

/* The routine of the directive of that kind, given the tag's argument. */
static void RunDirective(ScanState *st, DirectiveKind kind, qchar *arg)
{
  globals *myGlobsP = st->myGlobsP;
  switch (kind) {
  case kDirEval: EvalToS1(st, arg); break;
  case kDirMethod:
    CallProcedure(arg, myGlobsP->hashS1Ref, myGlobsP->callback);
    st->s1Result = 1;
    break;
  case kDirTaggedMethod: DoTaggedValue(st, arg, 1); break;
  case kDirFile: DoFile(st, arg); break;
  case kDirTaggedFile: DoTaggedFile(st, arg); break;
  case kDirField: DoField(st, arg); break;
  case kDirTaggedField: DoTaggedValue(st, arg, 0); break;
  }
}

void DispatchTag(ScanState *st)
{
  globals *myGlobsP = st->myGlobsP;
  qchar *tag = myGlobsP->tagBufP;
  if (tag[0] == '+') {
    EvalToS1(st, tag + 1);
    return;
  }
#define DISPATCH_ROW(kind, field, keyword, namesMethod)              \
  if (verbMatch(tag, myGlobsP->field)) {                           \
    RunDirective(st, kind, tag + DIRECTIVE_LENGTH(keyword));       \
    return;                                                        \
  }
  MORAVEL_DIRECTIVES(DISPATCH_ROW)
#undef DISPATCH_ROW
  DoMappedField(st);
}
