/* moravel.h: the state record and the routines of the entry and the engine. */
#ifndef MORAVEL_MORAVEL_H
#define MORAVEL_MORAVEL_H

#include "../glue/callback.h"
#include "../include/moravel_testexports.h"

/* Readiness codes of the state record. */
enum : qulong { kSigInit = MORAVEL_SIG_INIT, kSigCool = MORAVEL_SIG_COOL, kSigErrr = MORAVEL_SIG_ERRR };

/* Output encodings, the values of utfType: none, named, decimal and
   hexadecimal character references. */
enum { kFormNone = 0, kFormNamed = 1, kFormDecimal = 2, kFormHex = 3 };

/* Package ids. */
enum {
  kCmdVersion = 1,
  kCmdGetTagList = 2,
  kCmdDoSubstitutions = 3,
  kCmdMapKeywords = 4,
  kCmdSetFilesDirectory = 5,
  kCmdSetTags = 6
};

/* Positions of the parameters of DoSubstitutions and GetTagList, counted
   from 1; the host field of parameter n is kFldParam1 + n - 1. */
enum {
  kParamTaggedText = 1,
  kParamResult = 2, /* expandedText, or tagList */
  kParamUtfType = 3,
  kParamTagListColumn = 3,
  kParamForceEval = 4,
  kParamStripAllLinebreaks = 5,
  kParamSenseBrackets = 6
};
/* The host field of the call's parameter number (from 1). */
static inline qshort ParamField(qshort number) { return (qshort)(kFldParam1 + number - 1); }

/* Default capacities in units; every build holds the same number of units. */
enum {
  kDefaultBufferUnits = 0x8000,
  kDefaultBufOutUnits = 0x10000,
  kDefaultTagBufUnits = 1024,
  kDefaultSubBufUnits = 0x40000,
  kDefaultKwdBufUnits = 10240,
  kChunkUnits = 0x8000,
  kKwdChunkBytes = 10240,
  kBasePathUnits = 1026,
  kMaxBasePath = 1024,
  kMaxTagLen = 255,
  kRootStringId = 30708
};
#define kChunkSize ((qlong)(kChunkUnits * QCHAR_SIZE))

/* One row of the keyword map. */
typedef struct {
  qchar keyword[258];
  qchar fieldName[258];
} keywordMap;

typedef struct {
  qulong sig;
  qlong bufferSize;
  qlong bufOutSize;
  qlong tagBufSize;
  qlong subBufSize;
  qlong kwdBufSize;
  qchar *bufferP;
  qchar *bufOutP;
  qchar *tagBufP;
  qchar *subBufP;
  qchar *basePathP;
  keywordMap *keywordArray;
  qshort openTagSize;
  qshort closeTagSize;
  qshort mappingCount;
  qchar openTag[kMaxTagLen + 1];
  qchar closeTag[kMaxTagLen + 1];
  qchar evalTag[10];
  qchar methodTag[10];
  qchar fieldTag[10];
  qchar fileTag[10];
  qchar taggedFileTag[14];
  qchar taggedFieldTag[16];
  qchar taggedMethodTag[16];
  qbool forceEval;
  qbool internStrip;
  qbool senseBrackets;
  qshort hashLnRef;
  qshort hashS1Ref;
  tCallback callback;
  /* After the record's fixed fields: how many bytes from the start of each work
     buffer the call in progress may have made non-zero, so that releasing it
     costs only their clearing. */
  qlong bufferReach;
  qlong bufOutReach;
  qlong tagBufReach;
  qlong subBufReach;
} globals;

/* The fields of the record that belong to the function call in progress,
   each named once: BUFFER(pointer, size, reach) for the four work buffers, OPTION
   for the three options of DoSubstitutions, HANDLE for the host handle. The
   call frame, its restoring and the test view expand this list, so a field
   added here is kept aside and given back with the others. */
#define MORAVEL_CALL_FIELDS(BUFFER, OPTION, HANDLE) \
  BUFFER(bufferP, bufferSize, bufferReach)         \
  BUFFER(bufOutP, bufOutSize, bufOutReach)         \
  BUFFER(tagBufP, tagBufSize, tagBufReach)         \
  BUFFER(subBufP, subBufSize, subBufReach)         \
  OPTION(forceEval)                                \
  OPTION(internStrip)                              \
  OPTION(senseBrackets)                            \
  HANDLE(callback)

/* The directives a tag text may begin with, one row each, in the order the
   dispatch tests them. ROW(kind, field, keyword, namesMethod): the routine
   the dispatch runs (a DirectiveKind, which one switch turns into a call),
   the record's field that holds the keyword, the keyword set there at load,
   and whether the argument names a method, whose bracketed name and
   "$cinst." trimming resolves. Load, the dispatch and trimming expand these
   rows in place; adding a directive takes a row, its field in the record and
   its case in the switch. */
#define MORAVEL_DIRECTIVES(ROW)                                  \
  ROW(kDirEval, evalTag, "EVAL=", 0)                             \
  ROW(kDirMethod, methodTag, "METHOD=", 1)                       \
  ROW(kDirTaggedMethod, taggedMethodTag, "TAGGEDMETHOD=", 1)     \
  ROW(kDirFile, fileTag, "FILE=", 0)                             \
  ROW(kDirTaggedFile, taggedFileTag, "TAGGEDFILE=", 0)           \
  ROW(kDirField, fieldTag, "FIELD=", 0)                          \
  ROW(kDirTaggedField, taggedFieldTag, "TAGGEDFIELD=", 0)

#define MORAVEL_DIRECTIVE_KIND(kind, field, keyword, namesMethod) kind,
typedef enum { MORAVEL_DIRECTIVES(MORAVEL_DIRECTIVE_KIND) } DirectiveKind;
#undef MORAVEL_DIRECTIVE_KIND

/* The length in units of a directive's keyword, a string literal. */
#define DIRECTIVE_LENGTH(keyword) ((qlong)(sizeof keyword - 1))

/* Byte size of a count of units, refused (false) when it does not fit a
   signed 32-bit byte count together with the buffer slack. */
qbool QBytes(int64_t units, qlong *bytes);

/* Buffers (growable work buffers). */
/* Makes *theBuffer hold more than neededSize bytes: when *theBufferSize
   (bytes) is not already larger, the buffer is replaced by a zero-filled one
   of neededSize bytes, or of *theBufferSize + chunkSize when that is more,
   plus the slack of two units, keeping its first copyCount bytes (0: none;
   at most the old size). Every count here is in bytes. The old block is
   released and the new one, with its size, is left in *theBuffer and
   *theBufferSize: the caller's record owns it. False when memory runs out or
   the size would pass a signed 32-bit count; the buffer is then unchanged. */
qbool GrowBufferIfNeeded(qchar **theBuffer, qlong *theBufferSize, qlong neededSize,
                         qlong chunkSize, qlong copyCount);
/* A work buffer's capacity in units. Its size is always a whole number of
   units: the defaults are, and every growth is by units or by chunks of them. */
static inline qlong CapacityUnits(qlong size) { return size / QCHAR_SIZE; }

/* Records that a work buffer's first `units` units may have been written:
   every write of a work buffer that can leave a non-zero unit is noted, by
   the engine before or after it, by the reader after the host's. */
static inline void NoteReach(qlong *reach, int64_t units)
{
  int64_t bytes = units * QCHAR_SIZE;
  if (bytes > *reach) *reach = bytes > INT32_MAX ? INT32_MAX : (qlong)bytes;
}
/* The engine's one way to enlarge a work buffer: makes room for neededUnits
   units (the capacity then exceeds them), keeping its first keepUnits, by
   GrowBufferIfNeeded with one work-buffer chunk of least growth. The counts
   are turned into bytes here, once, and refused when they do not fit the
   record's 32-bit sizes (callers add their counts in 64 bits). When the
   buffer cannot grow it stays as it was, and *err, unless err is null,
   becomes kErrMemory. */
qbool MakeRoomFor(qchar **theBuffer, qlong *theBufferSize, int64_t neededUnits, int64_t keepUnits, qshort *err);
/* MakeRoomFor as appending one unit at a time would grow the buffer: by
   whole chunks, until it holds more than neededUnits. */
qbool MakeRoomByChunks(qchar **theBuffer, qlong *theBufferSize, int64_t neededUnits, int64_t keepUnits,
                       qshort *err);
/* A new zero-filled block of units units, or null, with *err (unless null)
   set to kErrMemory. */
qchar *NewUnits(int64_t units, qshort *err);

/* Setup and query functions: the bodies of the catalogue functions, with
   the call's parameter count, each answering its result code. */
/* Stores the open and close tag (parameters 1 and 2, at most 255 units
   each, a to z in capitals). 3 when a parameter is missing (the tags stay)
   or a tag is empty (stored all the same, so that expansion answers 3 until
   a SetTags succeeds); else 0. Obtains no memory. */
qshort DoSetTags(globals *myGlobsP, qshort paramCount, tCallback callback);
/* Stores parameter 1, at most 1024 units, as the files directory: 0, or 3
   without a parameter. Obtains no memory. */
qshort DoSetFilesDirectory(globals *myGlobsP, qshort paramCount, tCallback callback);
/* Replaces the keyword map by the rows of the list parameter 1: 0; 3 for no
   parameter (the old map stays), or a list of fewer than two columns, no
   line, more than 32,767 lines or an empty keyword or field name; 2 when the
   map's buffer cannot grow. After any failure but the first the record has
   no map. The column references obtained are released on every path. */
qshort DoMapKeywordsToFields(globals *myGlobsP, qshort paramCount, tCallback callback);
/* Sets the call's return value to the version text; no result code. */
void DoVersion(tCallback callback);

/* Catalogue answer for design information: fills the host's design record
   (its layout in catalogue.cpp) with the parameter list or the return-value
   text of function cmdNumber; any other request leaves it untouched.
   Obtains no memory. */
void doDesignInfo(void *designinfo, qshort cmdNumber, qlong rootID);

/* Engine. */
/* Expands the textLen units of bufferP into bufOutP. firstOpen is where the first open tag may begin (ReadWholeText), utfType
   0 to 3. Returns 0, 2 (memory, or values nested past kMaxSpliceDepth), or
   the code of an included file that failed (4, 5). "#S1" holds its old value
   again afterwards, whatever the result. The buffers it grows stay in the
   record. */
qshort ParseBuffer(globals *myGlobsP, qlong textLen, qlong firstOpen, qshort utfType, tCallback callback);
/* Lists the tag texts of the text in bufferP as rows 1, 2, ... of the call's
   list parameter: 0, or 2 when the tag buffer cannot grow (the rows made
   stay). */
qshort ParseTaggedData(globals *myGlobsP, tCallback callback);
/* Cleans the tag text of len units in the tag buffer. */
void TrimTagBuffer(globals *myGlobsP, qlong len);
/* Position of the next open tag at or after pos, or of the terminator. */
qlong NextOpenTag(const globals *myGlobsP, qlong pos);
/* Collects the text of the tag whose open tag stands at openPos into the tag
   buffer; *closeAt is the close tag's position, or -1 when the text ends
   first. Returns 2 when the tag buffer cannot grow. */
qshort CollectTagText(globals *myGlobsP, qlong openPos, qlong *closeAt);
/* Letters a to z as capitals, every other unit unchanged. */
static inline qchar FoldAZ(qchar c) { return c >= 'a' && c <= 'z' ? (qchar)(c - 0x20) : c; }
/* Whether the n units of text, letters folded to capitals, are those of
   upper, which holds its letters in capitals. */
static inline qbool MatchesFolded(const qchar *text, const qchar *upper, qlong n)
{
  for (qlong k = 0; k < n; k++)
    if (FoldAZ(text[k]) != upper[k]) return 0;
  return 1;
}
/* Rewrites the output buffer's text in place, each character from 160 up
   as an HTML character reference (type 1 named, 2 decimal, 3 hexadecimal),
   growing the buffer as needed: 0, or 2 when it cannot grow (the text is
   then partly encoded and must not be delivered). */
qshort UTFencode(globals *myGlobsP, qshort type);
/* Fills the table of entity names for 160 to 255; constant data, written
   again by each load. */
void initKeyArray(void);
/* Drops the zero units that end a text of *count units; false when a zero
   unit is left inside it, since a text ends at its first zero unit and all
   after it would be lost. */
qbool IsWholeText(const qchar *text, qlong *count);
/* IsWholeText for the tagged text, in the same pass finding the first unit
   that may begin the open tag (at *firstOpen; the end when there is none).
   *count becomes the length up to the terminator, which lies past the units
   reported when the host wrote more. */
qbool ReadWholeText(const qchar *text, qchar open0, qlong *count, qlong *firstOpen);
#if MORAVEL_UNICODE
/* The text of an included file's n bytes (the raw block, which it may
   rewrite), decoded by its byte-order mark; returns its length in units. */
qlong DecodeFileText(uint8_t *raw, qlong n, qchar *out);
#endif
/* Rewrites the file name in the value buffer as the path to open: joined to
   the files directory, or left as a path of its own, separators made the
   platform's. The value buffer may be replaced by a larger one (the record
   keeps it). When it cannot grow, the name is left unjoined (its separators
   converted) and nothing says so: the file is then looked for under the name
   alone. */
void AdjustPath(globals *myGlobsP);
/* The whole text of the file that the path buffer names (the buffer is
   rewritten in place into the platform's form of the name), decoded as the
   build reads files, in a new zero-filled block of *readsize units and a
   zero unit, which the caller releases with DisposeXPPointer. Null, with
   *readsize 0 and *result 4 (not opened), 5 (not read, or a zero unit inside
   the text) or 2 (memory), when it cannot be had; nothing is left open or
   allocated then. */
qchar *FetchFile(qchar *path, qshort *result, qlong *readsize);

#endif
