/* entry.cpp: the exported entry, the load and unload of the state record, and the call frame. */
#include <string.h>

#include "../glue/kxpqutil.h"
#include "../glue/omstring.h"
#include "../platform/platform.h"
#include "moravel.h"

enum { kMsgLoad = 0, kMsgCall = 1, kMsgUnload = 2, kMsgDesignInfo = 3, kMsgSetupInfo = 4 };

static const char kAtomName[] = "MORAVEL";

static void AtomName(qchar *name) { CHRcopyAsciiStringToQchar(kAtomName, name, 1); }

static void PurgeHashRefs(globals *myGlobsP, tCallback callback)
{
  if (myGlobsP->hashLnRef) PurgeFldRef(myGlobsP->hashLnRef, callback);
  if (myGlobsP->hashS1Ref) PurgeFldRef(myGlobsP->hashS1Ref, callback);
}

static void FillDefaults(globals *myGlobsP)
{
  myGlobsP->sig = kSigInit;
  myGlobsP->bufferSize = kDefaultBufferUnits * QCHAR_SIZE;
  myGlobsP->bufOutSize = kDefaultBufOutUnits * QCHAR_SIZE;
  myGlobsP->tagBufSize = kDefaultTagBufUnits * QCHAR_SIZE;
  myGlobsP->subBufSize = kDefaultSubBufUnits * QCHAR_SIZE;
  myGlobsP->kwdBufSize = kDefaultKwdBufUnits * QCHAR_SIZE;
}

static void FillTags(globals *myGlobsP)
{
  CHRcopyAsciiStringToQchar("<FIELD>", myGlobsP->openTag, 1);
  CHRcopyAsciiStringToQchar("</FIELD>", myGlobsP->closeTag, 1);
  myGlobsP->openTagSize = (qshort)OMstrlen(myGlobsP->openTag);
  myGlobsP->closeTagSize = (qshort)OMstrlen(myGlobsP->closeTag);
#define FILL_KEYWORD(kind, field, keyword, namesMethod) CHRcopyAsciiStringToQchar(keyword, myGlobsP->field, 1);
  MORAVEL_DIRECTIVES(FILL_KEYWORD)
#undef FILL_KEYWORD
}

static void DisposeIfPresent(void *block)
{
  if (block) DisposeXPPointer(block);
}

static void DisposeCallBuffers(globals *myGlobsP)
{
#define DISPOSE_BUFFER(pointer, size, reach) DisposeIfPresent(myGlobsP->pointer);
#define DISPOSE_NONE(field)
  MORAVEL_CALL_FIELDS(DISPOSE_BUFFER, DISPOSE_NONE, DISPOSE_NONE)
#undef DISPOSE_BUFFER
#undef DISPOSE_NONE
}

static void DisposeRecord(globals *myGlobsP, tCallback callback)
{
  PurgeHashRefs(myGlobsP, callback);
  DisposeCallBuffers(myGlobsP);
  DisposeIfPresent(myGlobsP->basePathP);
  DisposeIfPresent(myGlobsP->keywordArray);
  DisposeXPPointer(myGlobsP);
}

static void LoadRecord(void **ref, tCallback callback)
{
  globals *myGlobsP = (globals *)NewXPPointer((qlong)sizeof(globals));
  if (!myGlobsP) {
    XPBeep();
    return;
  }
  FillDefaults(myGlobsP);
  myGlobsP->hashLnRef = getGlobalRef("#LN", callback);
  myGlobsP->hashS1Ref = getGlobalRef("#S1", callback);

  myGlobsP->keywordArray = (keywordMap *)NewXPPointer(myGlobsP->kwdBufSize + QSLACK);
  if (myGlobsP->keywordArray) myGlobsP->basePathP = (qchar *)NewXPPointer(kBasePathUnits * QCHAR_SIZE);
  if (!myGlobsP->basePathP) {
    /* The record is zero-filled: what was not obtained is null. */
    XPBeep();
    DisposeRecord(myGlobsP, callback);
    return;
  }
  FillTags(myGlobsP);
  initKeyArray();

  qchar name[sizeof kAtomName];
  AtomName(name);
  myGlobsP->sig = SetOmAtom(name, myGlobsP, callback) ? kSigCool : kSigErrr;
  *ref = myGlobsP;
}

static void UnloadRecord(void **ref, tCallback callback)
{
  qchar name[sizeof kAtomName];
  AtomName(name);
  globals *myGlobsP = (globals *)GetOmAtom(name, callback);
  globals *slotP = (globals *)*ref;
  if (myGlobsP) {
    DisposeRecord(myGlobsP, callback);
    DeleteOmAtom(name, callback);
  }
  /* A record whose registration was refused is known only to the slot. */
  if (slotP && slotP != myGlobsP && slotP->sig == kSigErrr) DisposeRecord(slotP, callback);
  *ref = 0;
  PlatReleaseKept();
}

/* Reads parameter 1 into bufferP, enlarging it first when the text needs more
   room; *textLen is its length up to the terminator, *firstOpen where the
   first unit that may begin the open tag stands. */
static qshort ReadTaggedText(globals *myGlobsP, tCallback callback, qlong *textLen, qlong *firstOpen)
{
  qlong inputSize = 0;
  GetFldVal(ParamField(kParamTaggedText), fmtLength, fmtLengthSize, &inputSize, callback);
  if (inputSize < 0) inputSize = 0;
  qlong room;
  if (!QBytes(inputSize, &room)) return kErrMemory;
  /* Exactly the room the text takes; the size changes only once its block
     exists, and the old block stays when the new one cannot be had. */
  if (myGlobsP->bufferSize < room && !GrowBufferIfNeeded(&myGlobsP->bufferP, &myGlobsP->bufferSize, room, 0, 0))
    return kErrMemory;
  GetFldVal(ParamField(kParamTaggedText), fmtChar, myGlobsP->bufferSize / QCHAR_SIZE, myGlobsP->bufferP, callback);
  /* The host wrote the text and its terminator: inputSize units and up to
     the first zero unit past them. */
  NoteReach(&myGlobsP->bufferReach, (int64_t)inputSize + 1);
  qlong written = inputSize;
  /* A zero unit with text after it would cut the template short. */
  qbool whole = ReadWholeText(myGlobsP->bufferP, myGlobsP->openTag[0], &written, firstOpen);
  NoteReach(&myGlobsP->bufferReach, (int64_t)written + 1);
  if (!whole) return kErrParams;
  inputSize = written;
  *textLen = inputSize;
  return kErrNone;
}

static qshort RunGetTagList(globals *myGlobsP, qshort paramCount, tCallback callback)
{
  if (paramCount < kParamTagListColumn || !myGlobsP->openTagSize || !myGlobsP->closeTagSize) return kErrParams;
  qlong textLen, firstOpen;
  qshort err = ReadTaggedText(myGlobsP, callback, &textLen, &firstOpen);
  if (err) return err;
  return ParseTaggedData(myGlobsP, callback);
}

static qbool FlagParam(qshort paramCount, qshort number, tCallback callback)
{
  return paramCount >= number && GetFldInt(ParamField(number), callback) != 0;
}

static qshort RunDoSubstitutions(globals *myGlobsP, qshort paramCount, tCallback callback)
{
  if (paramCount < kParamResult || !myGlobsP->openTagSize || !myGlobsP->closeTagSize) return kErrParams;
  qshort utfType = kFormNone;
  if (paramCount >= kParamUtfType) {
    utfType = GetFldInt(ParamField(kParamUtfType), callback);
    if (utfType < kFormNone || utfType > kFormHex) return kErrParams;
  }
  myGlobsP->forceEval = FlagParam(paramCount, kParamForceEval, callback);
  myGlobsP->internStrip = FlagParam(paramCount, kParamStripAllLinebreaks, callback);
  myGlobsP->senseBrackets = FlagParam(paramCount, kParamSenseBrackets, callback);

  qlong textLen, firstOpen;
  qshort err = ReadTaggedText(myGlobsP, callback, &textLen, &firstOpen);
  if (err) return err;
  myGlobsP->bufOutP[0] = 0;
  qchar empty[1] = {0};
  SetFldVal(ParamField(kParamResult), fmtChar, empty, callback);
  err = ParseBuffer(myGlobsP, textLen, firstOpen, utfType, callback);
  if (err == kErrNone) SetFldVal(ParamField(kParamResult), fmtChar, myGlobsP->bufOutP, callback);
  return err;
}

/* What one call keeps aside while it runs and puts back when it ends, so that
   a call made from inside another hands the outer call its state back. */
typedef struct {
#define FRAME_BUFFER(pointer, size, reach) \
  qchar *pointer;                          \
  qlong size;                              \
  qlong reach;
#define FRAME_OPTION(flag) qbool flag;
#define FRAME_HANDLE(handle) tCallback handle;
  MORAVEL_CALL_FIELDS(FRAME_BUFFER, FRAME_OPTION, FRAME_HANDLE)
#undef FRAME_BUFFER
#undef FRAME_OPTION
#undef FRAME_HANDLE
} CallFrame;

static void SaveFrame(const globals *myGlobsP, CallFrame *frame)
{
#define SAVE_BUFFER(pointer, size, reach) \
  frame->pointer = myGlobsP->pointer;     \
  frame->size = myGlobsP->size;           \
  frame->reach = myGlobsP->reach;
#define SAVE_FIELD(field) frame->field = myGlobsP->field;
  MORAVEL_CALL_FIELDS(SAVE_BUFFER, SAVE_FIELD, SAVE_FIELD)
#undef SAVE_BUFFER
#undef SAVE_FIELD
}

/* The buffers and the handle always go back: between calls the buffers are
   null and the handle is the outer call's. Sizes survive a call that
   succeeded, and the options survive every call: a later call obtains its
   buffers at the raised sizes. A call that failed leaves the sizes it
   found, so that a size it raised for a block it then could not use, or
   could not even obtain, does not make every later call ask for that block.
   Inside an outer call, that call must find its own sizes and options again,
   whatever the inner call raised or set. */
static void RestoreFrame(globals *myGlobsP, const CallFrame *frame, qshort err)
{
  qbool nested = frame->bufferP != 0;
  qbool sizesBack = nested || err != kErrNone;
#define RESTORE_BUFFER(pointer, size, reach) \
  myGlobsP->pointer = frame->pointer;        \
  myGlobsP->reach = frame->reach;            \
  if (sizesBack) myGlobsP->size = frame->size;
#define RESTORE_OPTION(flag) \
  if (nested) myGlobsP->flag = frame->flag;
#define RESTORE_HANDLE(handle) myGlobsP->handle = frame->handle;
  MORAVEL_CALL_FIELDS(RESTORE_BUFFER, RESTORE_OPTION, RESTORE_HANDLE)
#undef RESTORE_BUFFER
#undef RESTORE_OPTION
#undef RESTORE_HANDLE
}

/* The call's own buffers, in the list's order at the record's sizes; after
   the first that cannot be obtained the rest stay null. */
static qshort ObtainCallBuffers(globals *myGlobsP)
{
  qshort err = kErrNone;
#define OBTAIN_BUFFER(pointer, size, reach)                                      \
  myGlobsP->pointer = err ? 0 : (qchar *)NewXPPointer(myGlobsP->size + QSLACK); \
  myGlobsP->reach = 0;                                                          \
  if (!myGlobsP->pointer) err = kErrMemory;
#define OBTAIN_NONE(field)
  MORAVEL_CALL_FIELDS(OBTAIN_BUFFER, OBTAIN_NONE, OBTAIN_NONE)
#undef OBTAIN_BUFFER
#undef OBTAIN_NONE
  return err;
}

/* The call's buffers go back with how far the call wrote each. */
static void ReleaseCallBuffers(globals *myGlobsP)
{
#define RELEASE_BUFFER(pointer, size, reach) \
  if (myGlobsP->pointer) DisposeXPPointerWritten(myGlobsP->pointer, myGlobsP->reach);
#define RELEASE_NONE(field)
  MORAVEL_CALL_FIELDS(RELEASE_BUFFER, RELEASE_NONE, RELEASE_NONE)
#undef RELEASE_BUFFER
#undef RELEASE_NONE
}

static qshort RunFunction(globals *myGlobsP, qshort cmdNumber, qshort paramCount, tCallback callback)
{
  switch (cmdNumber) {
  case kCmdGetTagList: return RunGetTagList(myGlobsP, paramCount, callback);
  case kCmdDoSubstitutions: return RunDoSubstitutions(myGlobsP, paramCount, callback);
  case kCmdMapKeywords: return DoMapKeywordsToFields(myGlobsP, paramCount, callback);
  case kCmdSetFilesDirectory: return DoSetFilesDirectory(myGlobsP, paramCount, callback);
  case kCmdSetTags: return DoSetTags(myGlobsP, paramCount, callback);
  default: return kErrNone;
  }
}

static void CallFunction(void **ref, tCallback callback)
{
  qshort paramCount = GetFldInt(kFldParamCount, callback);
  qshort cmdNumber = GetPackageId(callback);
  globals *myGlobsP = (globals *)*ref;
  if (!myGlobsP || myGlobsP->sig != kSigCool) {
    SetFldInt(kFldReturn, kErrMemory, callback);
    return;
  }
  CallFrame frame;
  SaveFrame(myGlobsP, &frame);
  qshort err = ObtainCallBuffers(myGlobsP);

  qbool wroteVersion = 0;
  if (err == kErrNone) {
    myGlobsP->callback = callback;
    if (cmdNumber == kCmdVersion) {
      DoVersion(callback);
      wroteVersion = 1;
    } else {
      err = RunFunction(myGlobsP, cmdNumber, paramCount, callback);
    }
  }
  if (!wroteVersion) SetFldInt(kFldReturn, err, callback);

  ReleaseCallBuffers(myGlobsP);
  RestoreFrame(myGlobsP, &frame, err);
}

static void DesignInfo(tCallback callback)
{
  qshort cmdNumber = GetPackageId(callback);
  void *designinfo = GetDesignPtr(callback);
  if (designinfo) doDesignInfo(designinfo, cmdNumber, kRootStringId);
}

static void SetupInfo(tCallback callback)
{
  _extsetupinforec *setupinfo = (_extsetupinforec *)GetDesignPtr(callback);
  if (setupinfo) setupinfo->setupflag = 1;
}

static void HandleMessage(qshort md, void **ref, tCallback callback)
{
  switch (md) {
  case kMsgLoad: LoadRecord(ref, callback); break;
  case kMsgCall: CallFunction(ref, callback); break;
  case kMsgUnload: UnloadRecord(ref, callback); break;
  case kMsgDesignInfo: DesignInfo(callback); break;
  case kMsgSetupInfo: SetupInfo(callback); break;
  default: break;
  }
}

#if MORAVEL_MAC
/* The Mac entry is called main. C++ keeps that name for the program's own
   entry, so the function is given it as its symbol name instead. */
#if defined(__APPLE__)
#define MORAVEL_MAIN_SYMBOL "_main"
#else
#define MORAVEL_MAIN_SYMBOL "main"
#endif
/* The host passes the address of its parameter block; its layout is the
   library's own description of that block. */
extern "C" MORAVEL_EXPORT void MoravelMain(qshort md, void **ref, void *callback) __asm__(MORAVEL_MAIN_SYMBOL);
extern "C" MORAVEL_EXPORT void MoravelMain(qshort md, void **ref, void *callback)
{
  HandleMessage(md, ref, (tCallback)callback);
}
#else
extern "C" MORAVEL_EXPORT void MORAVEL_WINAPI Moravel(qshort md, void **ref, void *, void *, void *,
                                                      tCallback callback)
{
  HandleMessage(md, ref, callback);
}
#endif
