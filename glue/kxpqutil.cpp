/* kxpqutil.cpp: memory blocks, literals, global references, atoms and list references. */
#include "kxpqutil.h"

#include <stdlib.h>
#include <string.h>

#include "../platform/platform.h"
#include "omstring.h"
#include "testhooks.h"

void XPBeep(void)
{
  TestNoteBeep();
  PlatBeep();
}

void *NewXPPointer(qlong pointerSize)
{
  if (pointerSize < 0 || TestAllocShouldFail()) return 0;
  void *block = PlatAlloc(pointerSize);
  if (block) TestNoteAlloc();
  return block;
}

void DisposeXPPointer(void *thePointer)
{
  TestNoteFree();
  PlatFree(thePointer);
}

void DisposeXPPointerWritten(void *thePointer, qlong writtenBytes)
{
  TestNoteFree();
  PlatFreeWritten(thePointer, writtenBytes);
}

void DiscardXPPointerHead(void *thePointer, qlong readBytes)
{
  if (thePointer && readBytes > 0) PlatDiscardHead(thePointer, readBytes);
}

void *ResizeXPPointer(void *thePointer, qlong keepBytes, qlong pointerSize)
{
  if (pointerSize < 0 || keepBytes < 0 || keepBytes > pointerSize || TestAllocShouldFail()) return 0;
  void *block = PlatResize(thePointer, keepBytes, pointerSize);
  if (!block) return 0;
  TestNoteAlloc();
  TestNoteFree();
  return block;
}

void *NewRuntimeBlock(size_t size)
{
  if (TestAllocShouldFail()) return 0;
  void *block = malloc(size);
  if (block) TestNoteAlloc();
  return block;
}

void FreeRuntimeBlock(void *block)
{
  if (!block) return;
  TestNoteFree();
  free(block);
}

void sthandle(const qchar *text, _str255 *str)
{
  qlong n = 0;
  while (n < kStr255Units) {
    str->chars[n] = text[n];
    if (text[n] == 0) break;
    n++;
  }
  str->length = (tStr255Length)(n >= kStr255Units ? kStr255MaxLength : n);
}

void TerminateStr255(_str255 *str)
{
  qlong len = (qlong)str->length;
  if (len > kStr255MaxLength) len = kStr255MaxLength;
  str->chars[len] = 0;
}

qchar *convertLiteral(const char *message)
{
  size_t len = strlen(message);
  qchar *copy = (qchar *)NewRuntimeBlock((len + 1) * sizeof(qchar));
  if (copy) CHRcopyAsciiStringToQchar(message, copy, 1);
  return copy;
}

qshort getGlobalRef(const char *fieldName, tCallback callback)
{
  qchar *name = convertLiteral(fieldName);
  if (!name) return 0;
  qshort ref = GetFldRef(name, callback);
  FreeRuntimeBlock(name);
  return ref;
}

enum { kAtomLookup = 1, kAtomStore = 3, kAtomRemove = 4 };

static qshort AtomRequest(qchar *name, qshort request, qatomval value, omnispbrec *rec,
                          tCallback callback)
{
  memset(rec, 0, sizeof *rec);
  qlong len = OMstrlen(name);
  if (len > kStr255MaxLength) len = kStr255MaxLength;
  rec->name.length = (tStr255Length)len;
  memcpy(rec->name.chars, name, (size_t)len * sizeof(qchar));
  rec->name.chars[len] = 0;
  rec->info_request = request;
  rec->params = request == kAtomStore ? value : 0;
  return ExtensionInfo(rec, callback);
}

qshort SetOmAtom(qchar *name, void *value, tCallback callback)
{
  omnispbrec rec;
  return AtomRequest(name, kAtomStore, (qatomval)value, &rec, callback);
}

void *GetOmAtom(qchar *name, tCallback callback)
{
  omnispbrec rec;
  if (AtomRequest(name, kAtomLookup, 0, &rec, callback) != 1) return 0;
  return (void *)rec.params;
}

qshort DeleteOmAtom(qchar *name, tCallback callback)
{
  omnispbrec rec;
  return AtomRequest(name, kAtomRemove, 0, &rec, callback);
}

/* Column-definition work block, in units: the host writes at most this many
   names' units, and the block keeps one more for a terminator. */
enum { kListDefUnits = 1024 };

/* Takes the caller's variable of that name as the list. A name the host does
   not know gives no reference, and the parameter itself stays the list. */
static void UseNamedList(OmListSpec *spec, qchar *name, tCallback callback)
{
  qshort ref = GetFldRef(name, callback);
  if (!ref) return;
  spec->listRef = ref;
  spec->listRefObtained = 1;
}

/* Turns a list parameter into the caller's list reference, when the host says
   the parameter stands for one of the caller's variables. */
static void ResolveListVariable(OmListSpec *spec, tCallback callback)
{
  _FldInfoRec fi;
  memset(&fi, 0, sizeof fi);
  fi.ver = 1;
  fi.ref = spec->listRef;
  if (GetFldInfo2(&fi, callback) != 0) return;
  if (fi.ref != spec->listRef) {
    spec->listRef = fi.ref;
    return;
  }
  if (fi.ref < kFldParam1 || fi.ref > kFldParamLast) return;
  TerminateStr255(&fi.name);
#if MORAVEL_UNICODE
  if (fi.name.chars[0] == 0) {
    omnispbrec rec;
    memset(&rec, 0, sizeof rec);
    rec.ref = spec->listRef;
    if (GetFldInfo(&rec, callback) == 1 && rec.name.length != 0) UseNamedList(spec, rec.name.chars, callback);
    return;
  }
#endif
  UseNamedList(spec, fi.name.chars, callback);
}

void GetListRefs2(OmListSpec *spec, qshort listRef, tCallback callback)
{
  spec->listRef = 0;
  spec->colCount = 0;
  spec->listRefObtained = 0;
  qchar *def = (qchar *)NewXPPointer((kListDefUnits + 1) * QCHAR_SIZE);
  if (!def) return;
  if (listRef == 0) {
    spec->fldRef[0] = 0;
    DisposeXPPointer(def);
    return;
  }
  spec->listRef = listRef;
  spec->fldRef[0] = 0;
  def[0] = 0;
  GetListDef(listRef, kListDefUnits, def, callback);
  def[kListDefUnits] = 0;

  qlong names = 0;
  if (def[0]) {
    names = 1;
    for (qchar *p = def; *p; p++)
      if (*p == ',') {
        *p = 0;
        names++;
      }
    if (names > kMaxListCols) names = kMaxListCols;
  }
  qchar *name = def;
  for (qlong i = 0; i < names; i++) {
    qshort ref = GetFldRef(name, callback);
    if (ref) spec->fldRef[spec->colCount++] = ref;
    name += OMstrlen(name) + 1;
  }
  ResolveListVariable(spec, callback);
  DisposeXPPointer(def);
}
