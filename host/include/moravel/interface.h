// interface.h: the numbers of the plug-in interface: messages, functions, result codes, requests, fields, formats.
#pragma once

#include <cstddef>

namespace moravel {

// Message numbers of the entry point.
enum Message : int { kLoad = 0, kCall = 1, kUnload = 2, kDesignInfo = 3, kSetupInfo = 4 };

// Package ids of the plug-in's functions.
enum Function : int {
  kVersion = 1,
  kGetTagList = 2,
  kDoSubstitutions = 3,
  kMapKeywordsToFields = 4,
  kSetFilesDirectory = 5,
  kSetTags = 6
};

// The longest open or close tag the plug-in keeps, in units; SetTags keeps
// the first ones of a longer tag.
constexpr std::size_t kMaxTagUnits = 255;

// Result codes of the plug-in's functions.
enum ResultCode : int {
  kOk = 0,
  kNoMemoryOrNotReady = 2,
  kBadParameters = 3,
  kCannotOpenFile = 4,
  kCannotReadFile = 5
};

namespace request {

// The requests a plug-in makes, each once: X(name, code, offset) for one
// with an entry in the Mac door's parameter block (at that byte offset),
// Y(name, code) for one the request-function door alone carries. The code
// is its number in the request-function door; the host answers it with its
// handler on<name> (host/src/requests.h). The plug-in keeps its own copy of
// these numbers in glue/callback.h, its view of the host, sharing no header
// with the host as a plug-in built apart from it would not; the requests of
// tests/host/requests_cases.inc, made with the plug-in's declarations, hold
// the two together.
#define MORAVEL_HOST_REQUESTS(X, Y) \
  X(GetFldRef, 28, 12)              \
  X(GetFldInt, 29, 24)              \
  X(SetFldVal, 30, 28)              \
  X(SetFldInt, 31, 32)              \
  X(ShowMessage, 36, 92)            \
  X(GetFldVal, 38, 128)             \
  X(GetLstVal, 39, 132)             \
  Y(GetLstInt, 40)                  \
  X(SetLstVal, 41, 140)             \
  X(DoListOp, 43, 148)              \
  X(EvalCalcString, 44, 188)        \
  X(GetFldInfo, 45, 156)            \
  X(ExtensionInfo, 47, 164)         \
  X(GetPackageId, 48, 168)          \
  X(GetDesignPtr, 49, 172)          \
  X(GetListDef, 52, 184)            \
  X(CallProcedure, 53, 152)         \
  X(PurgeFldRef, 56, 200)           \
  X(GetNamedVal, 57, 204)           \
  X(GetFldInfo2, 63, 228)

#define MORAVEL_REQUEST_CODE(name, code, ...) k##name = code,
#define MORAVEL_REQUEST_MAC_OFFSET(name, code, offset) kAt##name = offset,
#define MORAVEL_REQUEST_NONE(name, code)

// Request codes of the request-function door.
enum Code : int { MORAVEL_HOST_REQUESTS(MORAVEL_REQUEST_CODE, MORAVEL_REQUEST_CODE) };

// Byte offsets of the entries in the parameter block of the Mac door.
enum MacOffset : int { MORAVEL_HOST_REQUESTS(MORAVEL_REQUEST_MAC_OFFSET, MORAVEL_REQUEST_NONE) };

#undef MORAVEL_REQUEST_CODE
#undef MORAVEL_REQUEST_MAC_OFFSET
#undef MORAVEL_REQUEST_NONE

// Value formats.
enum Format : int { kFmtNumber = 0, kFmtText = 2, kFmtLength = 4 };

// Atom requests of ExtensionInfo.
enum AtomRequest : int { kAtomLookup = 1, kAtomStore = 3, kAtomRemove = 4 };

}  // namespace request

// Fields of a function call.
namespace field {
constexpr int kReturn = 200;
constexpr int kParamCount = 210;
constexpr int kParam1 = 211;
constexpr int kParamLast = 241;
}  // namespace field

// The design-information record: 266 bytes (one-byte build) or 1034 bytes
// (Unicode build). Offsets of its fields:
namespace design {
constexpr std::size_t kQfldid = 6;      // 16-bit: what the host asks for, one of Ask
constexpr std::size_t kUseDefault = 8;  // 8-bit
constexpr std::size_t kLabel = 10;      // counted text
constexpr std::size_t kSetupFlag = 14;  // 16-bit, set by the setup message
constexpr std::size_t recordSize(std::size_t unitSize) { return unitSize == 1 ? 266 : 1034; }
// What the host asks for in qfldid: a function's parameter list, or the
// meaning of its return value.
enum Ask : int { kAskParameters = 5, kAskReturnValue = 6 };
}  // namespace design

}  // namespace moravel
