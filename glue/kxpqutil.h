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

/* A new zero-filled block of pointerSize bytes, the caller's to release with
   DisposeXPPointer (or to resize); null when memory runs out or the size is
   negative. A test build counts it and can be told to fail it. */
void *NewXPPointer(qlong pointerSize);
/* Releases a block of NewXPPointer or ResizeXPPointer; null is ignored. */
void DisposeXPPointer(void *thePointer);
/* Disposes of a block of which at most the first writtenBytes may be
   non-zero: a block kept for reuse then costs only their clearing. */
void DisposeXPPointerWritten(void *thePointer, qlong writtenBytes);
/* thePointer replaced by a zero-filled block of pointerSize bytes that keeps
   its first keepBytes bytes, as obtaining a new block, copying them and
   releasing the old one would leave it; the platform may do so without
   copying. Null when no block can be had: thePointer is then untouched. */
void *ResizeXPPointer(void *thePointer, qlong keepBytes, qlong pointerSize);
/* Says that the block's first readBytes will not be read again (they may
   still be written), so that the platform may give their pages back; they
   then read as zeros. */
void DiscardXPPointerHead(void *thePointer, qlong readBytes);

/* A short-lived block of the language runtime's allocator, for a conversion,
   freed at once with FreeRuntimeBlock; a test build counts it and can fail it
   as it does NewXPPointer's. */
void *NewRuntimeBlock(size_t size);
/* Releases a block of NewRuntimeBlock; null is ignored. */
void FreeRuntimeBlock(void *block);

/* A qchar copy of an 8-bit literal in a runtime block, which the caller
   frees with FreeRuntimeBlock; null when memory runs out. */
qchar *convertLiteral(const char *message);
/* The host's reference of the global variable fieldName (an 8-bit literal),
   to be released with PurgeFldRef; 0 when the host has none and also when
   memory for the name's conversion runs out. */
qshort getGlobalRef(const char *fieldName, tCallback callback);

/* Atoms: a pointer registered with the host under a name (at most 254 units
   of it are used). The host keeps only the pointer; the pointee stays the
   caller's. SetOmAtom answers the host's return code (nonzero: stored). */
qshort SetOmAtom(qchar *name, void *value, tCallback callback);
/* The pointer registered under name, or null when there is none. */
void *GetOmAtom(qchar *name, tCallback callback);
/* Removes the registration of name; the host's return code. */
qshort DeleteOmAtom(qchar *name, tCallback callback);

enum { kMaxListCols = 24 };

typedef struct {
  qshort listRef;
  qshort colCount;
  qshort fldRef[kMaxListCols];
  /* listRef was obtained from the host by name and must be released too. */
  qbool listRefObtained;
} OmListSpec;

/* Fills spec with the list that parameter field listRef stands for (the
   caller's own list variable where the host names one) and the references
   of its columns, at most kMaxListCols, in order; colCount counts those the
   host gave. The column references, and listRef when listRefObtained, are
   the caller's to release with PurgeFldRef. When memory for the column
   names runs out, spec holds no list and no columns (colCount 0), which
   callers refuse as an unusable list. */
void GetListRefs2(OmListSpec *spec, qshort listRef, tCallback callback);

#endif
