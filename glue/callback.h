/* callback.h: records exchanged with the host and the requests that reach it. */
#ifndef MORAVEL_CALLBACK_H
#define MORAVEL_CALLBACK_H

#include "../platform/qtypes.h"

/* The requests the library makes, each once: X(name, code, offset) for one
   with an entry in the Mac parameter block (at that byte offset), Y(name,
   code) for one made only through the request function. The code is its
   number in the request-function form of the interface. */
#define MORAVEL_CALLBACK_REQUESTS(X, Y) \
  X(GetFldRef, 28, 12)         \
  X(GetFldInt, 29, 24)         \
  X(SetFldVal, 30, 28)         \
  X(SetFldInt, 31, 32)         \
  X(ShowMessage, 36, 92)       \
  X(GetFldVal, 38, 128)        \
  X(GetLstVal, 39, 132)        \
  Y(GetLstInt, 40)             \
  X(SetLstVal, 41, 140)        \
  X(DoListOp, 43, 148)         \
  X(EvalCalcString, 44, 188)   \
  X(GetFldInfo, 45, 156)       \
  X(ExtensionInfo, 47, 164)    \
  X(GetPackageId, 48, 168)     \
  X(GetDesignPtr, 49, 172)     \
  X(GetListDef, 52, 184)       \
  X(CallProcedure, 53, 152)    \
  X(PurgeFldRef, 56, 200)      \
  X(GetNamedVal, 57, 204)      \
  X(GetFldInfo2, 63, 228)

#define MORAVEL_CALLBACK_CODE(name, code, ...) kReq##name = code,
#define MORAVEL_CALLBACK_MAC_OFFSET(name, code, offset) kMac##name = offset,
#define MORAVEL_CALLBACK_NONE(name, code)

/* Request codes of the request-function form of the interface. */
enum { MORAVEL_CALLBACK_REQUESTS(MORAVEL_CALLBACK_CODE, MORAVEL_CALLBACK_CODE) };

/* Value formats. A length arrives as a 32-bit integer, whose size is the
   maximum length given with fmtLength. */
enum { fmtNumber = 0, fmtChar = 2, fmtLength = 4 };
/* Bytes of the length that a fmtLength read writes. */
static const qlong fmtLengthSize = 4;

/* Host field numbers of a function call. */
enum {
  kFldReturn = 200,
  kFldParamCount = 210,
  kFldParam1 = 211,
  kFldParamLast = 241
};

#pragma pack(push, 2)

/* Counted string in which names and calculations travel to the host: 255
   units, of which it announces at most 254 characters. */
enum { kStr255Units = 255, kStr255MaxLength = 254 };
#if MORAVEL_UNICODE
typedef qulong tStr255Length;
#else
typedef uint8_t tStr255Length; /* kStr255MaxLength fits */
#endif
typedef struct {
  tStr255Length length;
  qchar chars[kStr255Units];
} _str255;

#if MORAVEL_MAC
typedef struct {
  qshort top, left, bottom, right;
} _qrect;
#else
typedef struct {
  qlong left, top, right, bottom;
} _qrect;
#endif

typedef struct {
  _str255 name;
  qshort ref;
  qshort type;
  qshort length;
  qshort info_request;
  qshort left, top, width, height;
  qatomval params;
  qshort font, size;
  _qrect static_rect, current_rect, parent_rect;
  qlong xwin;
  qshort returncode;
#if MORAVEL_MAC
  qshort filler; /* the Mac record ends on a four-byte boundary */
#endif
} omnispbrec;

typedef struct {
  qshort ver;
  qshort ref;
  _str255 name;
  qshort type;
  qshort dpmask;
  qlong length;
} _FldInfoRec;

typedef struct {
  qlong lineno;
  qlong maxlen;
} q_;

/* The design-information record the host hands over while a method is
   written: what it asks for (qfldid) and the text answered (lable). */
typedef struct {
  qshort ditype;
  qlong diflags;
  qshort qfldid;
  uint8_t usedefault;
  uint8_t isvariblelength;
  _str255 lable;
} _extdesigninforec;

/* The setup-information record, of which the library sets one flag. */
typedef struct {
  uint8_t unused[14];
  qshort setupflag;
} _extsetupinforec;

typedef struct {
  _str255 *name;
  void *val;
} _xfldvalue;

#pragma pack(pop)

/* Records without pointers: one layout in every build. */
static_assert(offsetof(_extdesigninforec, qfldid) == 6, "qfldid");
static_assert(offsetof(_extdesigninforec, usedefault) == 8, "usedefault");
static_assert(offsetof(_extdesigninforec, lable) == 10, "lable");
static_assert(sizeof(_extdesigninforec) == (MORAVEL_UNICODE ? 1034 : 266), "_extdesigninforec");
static_assert(offsetof(_extsetupinforec, setupflag) == 14, "setupflag");

#if UINTPTR_MAX == 0xFFFFFFFFu && !MORAVEL_MAC
/* A 32-bit build keeps the host's byte offsets exactly. */
#if MORAVEL_UNICODE
static_assert(sizeof(_str255) == 1024, "_str255");
static_assert(offsetof(omnispbrec, ref) == 1024, "ref");
static_assert(offsetof(omnispbrec, info_request) == 1030, "info_request");
static_assert(offsetof(omnispbrec, params) == 1040, "params");
static_assert(offsetof(omnispbrec, font) == 1044, "font");
static_assert(offsetof(omnispbrec, static_rect) == 1048, "rects");
static_assert(offsetof(omnispbrec, xwin) == 1096, "xwin");
static_assert(offsetof(omnispbrec, returncode) == 1100, "returncode");
static_assert(sizeof(omnispbrec) == 1102, "omnispbrec");
static_assert(offsetof(_FldInfoRec, type) == 1028, "fi type");
static_assert(sizeof(_FldInfoRec) == 1036, "_FldInfoRec");
#else
static_assert(sizeof(_str255) == 256, "_str255");
static_assert(offsetof(omnispbrec, ref) == 256, "ref");
static_assert(offsetof(omnispbrec, info_request) == 262, "info_request");
static_assert(offsetof(omnispbrec, params) == 272, "params");
static_assert(offsetof(omnispbrec, font) == 276, "font");
static_assert(offsetof(omnispbrec, static_rect) == 280, "rects");
static_assert(offsetof(omnispbrec, xwin) == 328, "xwin");
static_assert(offsetof(omnispbrec, returncode) == 332, "returncode");
static_assert(sizeof(omnispbrec) == 334, "omnispbrec");
static_assert(offsetof(_FldInfoRec, type) == 260, "fi type");
static_assert(sizeof(_FldInfoRec) == 268, "_FldInfoRec");
#endif
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu && MORAVEL_MAC
static_assert(sizeof(_str255) == 1024, "_str255");
static_assert(offsetof(omnispbrec, params) == 1040, "params");
static_assert(offsetof(omnispbrec, static_rect) == 1048, "rects");
static_assert(offsetof(omnispbrec, xwin) == 1072, "xwin");
static_assert(offsetof(omnispbrec, returncode) == 1076, "returncode");
static_assert(sizeof(omnispbrec) == 1080, "omnispbrec");
#endif

#if MORAVEL_MAC
/* The host handle: the host's parameter block, a table of entry points. The
   host interface places each entry at a byte offset in a table of 4-byte
   slots; here an entry is pointer-sized (8 bytes in a 64-bit build), so the
   table keeps the same order and the entry at byte offset k is slot k / 4. */
enum {
  MORAVEL_CALLBACK_REQUESTS(MORAVEL_CALLBACK_MAC_OFFSET, MORAVEL_CALLBACK_NONE)
  /* Slots up to the last entry, the one at the highest offset. */
  kMacEntrySlots = kMacGetFldInfo2 / 4 + 1
};
typedef void (*MacEntry)(void);
typedef struct {
  MacEntry entries[kMacEntrySlots];
} MacParamBlock;
typedef MacParamBlock *tCallback;
#else
/* The host handle: the host's request function (request code first, then
   the request's arguments; 16-bit arguments arrive sign-extended to int). */
typedef qshort (*HostCallback)(int code, ...);
typedef HostCallback tCallback;
#endif

#undef MORAVEL_CALLBACK_CODE
#undef MORAVEL_CALLBACK_MAC_OFFSET
#undef MORAVEL_CALLBACK_NONE

/* Host requests. The host handle is always the last argument. A name or
   calculation handed to the host travels as a counted string (sthandle): the
   host sees at most its first 254 units. Lengths and maxima are in units
   (qchar), never bytes. None of these obtains memory, so none can fail for
   want of it; what the host does not answer leaves the result as the
   request's comment says. */

/* The host's reference of the variable called name (zero-terminated), or 0
   when it has none. A reference obtained so is released with PurgeFldRef. */
qshort GetFldRef(qchar *name, tCallback callback);
/* The value of field fldref as a number, cut to 16 bits: clamped to -32768
   and 32767, 0 for one that is not a number or not answered. */
qshort GetFldInt(qshort fldref, tCallback callback);
/* Sets field fldref to the number val. */
void SetFldInt(qshort fldref, qlong val, tCallback callback);
/* Reads field fldref into val in format fmt: fmtChar writes at most maxlen
   units and a zero unit into val, which the caller sizes for maxlen + 1;
   fmtLength writes the value's length in units as a 32-bit integer
   (maxlen is then the 4 bytes of val). A field not answered leaves val as it
   was, so callers clear it first. */
void GetFldVal(qshort fldref, qshort fmt, qlong maxlen, void *val, tCallback callback);
/* Sets field fldref to val in format fmt (fmtChar: a zero-terminated text,
   copied by the host; the caller keeps val). */
void SetFldVal(qshort fldref, qshort fmt, void *val, tCallback callback);
/* Reads the cell of line lineno (from 1) and column fldref of list listno
   into val, as GetFldVal reads a field: at most maxlen units and a zero. */
void GetLstVal(qshort listno, qlong lineno, qshort fldref, qshort fmt, qlong maxlen, void *val,
               tCallback callback);
/* A list's cell as a number; read at line 0 through "#LN", the list's line
   count. A count beyond 16 bits reads as -1, so that it is refused rather
   than taken for a smaller one. */
qshort GetLstInt(qshort listno, qlong lineno, qshort fldref, tCallback callback);
/* Sets the cell of line lineno and column fldref of list listno to val
   (fmtChar: zero-terminated, copied by the host). */
void SetLstVal(qshort listno, qlong lineno, qshort fldref, qshort fmt, void *val, tCallback callback);
/* List operation lop on line lineno of list listno (1: the line exists
   afterwards, added as needed); the host's answer, which no caller reads. */
qbyte DoListOp(qshort lop, qshort listno, qlong lineno, tCallback callback);
/* The column names of list fldref, comma-separated, at most len units into
   def, which the caller sizes for len + 1 and terminates itself. */
void GetListDef(qshort fldref, qshort len, qchar *def, tCallback callback);
/* Releases a reference that GetFldRef gave. */
void PurgeFldRef(qshort fldref, tCallback callback);
/* The value of the variable or notation called name, read into val as
   GetFldVal reads a field (fldref is 0: the value is found by name). A name
   the host does not know leaves val as it was: callers empty it first. */
void GetNamedVal(qshort fldref, qchar *name, qshort fmt, qlong maxlen, void *val, tCallback callback);
/* Has the host evaluate the calculation procstr (its first 254 units) and
   assign the result to field returnfldref. A calculation that fails assigns
   nothing, and nothing tells the caller. */
void EvalCalcString(qchar *procstr, qshort returnfldref, tCallback callback);
/* Has the host call the method name (its first 254 units) and assign its
   return value to field retfldref; a missing or failing method assigns
   nothing, unreported. */
void CallProcedure(qchar *name, qshort retfldref, tCallback callback);
/* Hands the host the request record pb_rec (the atoms' store, lookup and
   removal); the host's answer is pb_rec->returncode, also returned. */
qshort ExtensionInfo(omnispbrec *pb_rec, tCallback callback);
#if MORAVEL_UNICODE
/* What the host knows of field pb_rec->ref: its name, zero-terminated here
   at no more than 254 units; returns pb_rec->returncode (1: known). */
qshort GetFldInfo(omnispbrec *pb_rec, tCallback callback);
#endif
/* What the host knows of field fi->ref (fi->ver 1 unless the caller set -1):
   the variable a parameter stands for, by reference or by name; 0 when
   answered. The name is not terminated: TerminateStr255 it. */
qshort GetFldInfo2(_FldInfoRec *fi, tCallback callback);
/* The package id of the function being called, 0 when the host says none. */
qshort GetPackageId(tCallback callback);
/* The design record the host hands for design information (message 3),
   owned by the host; null when it gives none. */
void *GetDesignPtr(tCallback callback);


#endif
