/* kxpqutil.h: memory blocks, literals, global references, atoms and list references. */
#ifndef MORAVEL_KXPQUTIL_H
#define MORAVEL_KXPQUTIL_H

#include "callback.h"

/* Copies a zero-terminated text into a counted string: at most 255 units,
   and a text of 255 or more units is announced as 254. */
void sthandle(const qchar *text, _str255 *str);
/* Ends a counted string that the host filled at its announced length, of
   which at most 254 characters are taken. */
void TerminateStr255(_str255 *str);

/* Sounds the platform's bell, which a test build counts. */
void XPBeep(void);

void *NewXPPointer(qlong pointerSize);
void DisposeXPPointer(void *thePointer);
/* Disposes of a block of which at most the first writtenBytes may be
   non-zero: a block kept for reuse then costs only their clearing. */
void DisposeXPPointerWritten(void *thePointer, qlong writtenBytes);
/* thePointer replaced by a zero-filled block of pointerSize bytes that keeps
   its first keepBytes bytes, as obtaining a new block, copying them and
   releasing the old one would leave it; the platform may do so without
   copying. Null when no block can be had: thePointer is then untouched. */
void *ResizeXPPointer(void *thePointer, qlong keepBytes, qlong pointerSize);

/* A short-lived block of the language runtime's allocator, for a conversion,
   freed at once with FreeRuntimeBlock; a test build counts it and can fail it
   as it does NewXPPointer's. */
void *NewRuntimeBlock(size_t size);
void FreeRuntimeBlock(void *block);

/* A qchar copy of an 8-bit literal in a runtime block, or null. */
qchar *convertLiteral(const char *message);
qshort getGlobalRef(const char *fieldName, tCallback callback);

qshort SetOmAtom(qchar *name, void *value, tCallback callback);
void *GetOmAtom(qchar *name, tCallback callback);
qshort DeleteOmAtom(qchar *name, tCallback callback);

enum { kMaxListCols = 24 };

typedef struct {
  qshort listRef;
  qshort colCount;
  qshort fldRef[kMaxListCols];
  /* listRef was obtained from the host by name and must be released too. */
  qbool listRefObtained;
} OmListSpec;

void GetListRefs2(OmListSpec *spec, qshort listRef, tCallback callback);

#endif
