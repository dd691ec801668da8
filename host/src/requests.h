// requests.h: one handler per request the plug-in makes, for either unit width U (uint8_t or uint32_t).
#pragma once

#include <cstdint>
#include <optional>

#include "impl.h"
#include "records.h"

namespace moravel::detail {

using Impl = HostImpl;

// One handler per request of MORAVEL_HOST_REQUESTS (moravel/interface.h),
// named on<request>, for either unit width U. Its parameters after the host
// are the request's arguments as the request-function door passes them, in
// order: decodeArguments reads them from the argument list by these types,
// and the Mac door (mac_door.cpp) calls the handlers with its own converted.

// Answers request `code` of the request-function door: reads its arguments
// from `ap` and calls its handler with them (requests.cpp).
template <class U> short decodeArguments(Impl& h, int code, va_list ap);

// Fields and named values (values.cpp).
template <class U> short onGetFldRef(Impl& h, const Str255<U>* name);
template <class U> short onGetFldVal(Impl& h, int ref, int fmt, int maxlen, void* val);
template <class U> short onSetFldVal(Impl& h, int ref, int fmt, const void* val);
template <class U> short onGetNamedVal(Impl& h, int fldref, int fmt, int maxlen, XFldValue<U>* xv);
template <class U> short onGetFldInt(Impl& h, int ref, double* out);
template <class U> short onSetFldInt(Impl& h, int ref, const double* val);
template <class U> short onPurgeFldRef(Impl& h, int ref);

// Lists (lists.cpp).
template <class U> short onGetLstVal(Impl& h, int listno, int fldref, int fmt, void* val, const LineAndMax* lm);
template <class U> short onSetLstVal(Impl& h, int listno, int lineno, int fldref, int fmt, const void* val);
template <class U> short onGetListDef(Impl& h, int ref, int len, U* def);
template <class U> short onGetLstInt(Impl& h, int listno, int lineno, int fldref, double* out);
template <class U> short onDoListOp(Impl& h, int lop, int listno, int lineno);

// Calculations, methods, messages and information (info.cpp).
template <class U> short onEvalCalcString(Impl& h, const Str255<U>* text, int ref);
template <class U> short onCallProcedure(Impl& h, const Str255<U>* name, int ref);
template <class U> short onShowMessage(Impl& h, int type, int high, int large, int bell, const Str255<U>* text);
template <class U> short onExtensionInfo(Impl& h, ExtInfoRec<U>* rec);
template <class U> short onGetFldInfo(Impl& h, ExtInfoRec<U>* rec);
template <class U> short onGetFldInfo2(Impl& h, FldInfoRec<U>* fi);
template <class U> short onGetPackageId(Impl& h, std::int32_t* out);
template <class U> short onGetDesignPtr(Impl& h, void** out);

// Instantiates the function template f for both unit widths, in the file that defines it.
#define MORAVEL_FOR_BOTH_WIDTHS(f)                      \
  template decltype(f<std::uint8_t>) f<std::uint8_t>; \
  template decltype(f<std::uint32_t>) f<std::uint32_t>;

// Values to and from the plug-in (values.cpp).
// Writes `v` to `val` in format `fmt`: a number, at most `maxlen` units and a
// zero, or the length in characters.
template <class U> void deliver(Impl& h, const Value& v, int fmt, long maxlen, void* val, const char* what);
// The value at `val` in format `fmt` (a number or a zero-terminated text).
template <class U> std::optional<Value> receive(Impl& h, int fmt, const void* val, const char* what);
// The characters of a counted string the plug-in sent (none for null, noted).
template <class U> NameView sentName(Impl& h, const Str255<U>* s);
// A name into a counted string for the plug-in.
template <class U> void putName(Impl& h, Str255<U>& d, const std::u32string& name);

}  // namespace moravel::detail
