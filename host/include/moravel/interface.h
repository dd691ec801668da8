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

// Result codes of the plug-in's functions.
enum ResultCode : int {
  kOk = 0,
  kNoMemoryOrNotReady = 2,
  kBadParameters = 3,
  kCannotOpenFile = 4,
  kCannotReadFile = 5
};

namespace request {

// Request codes of the request-function door.
enum Code : int {
  kGetFldRef = 28,
  kGetFldInt = 29,
  kSetFldVal = 30,
  kSetFldInt = 31,
  kShowMessage = 36,
  kGetFldVal = 38,
  kGetLstVal = 39,
  kGetLstInt = 40,
  kSetLstVal = 41,
  kDoListOp = 43,
  kEvalCalcString = 44,
  kGetFldInfo = 45,
  kExtensionInfo = 47,
  kGetPackageId = 48,
  kGetDesignPtr = 49,
  kGetListDef = 52,
  kCallProcedure = 53,
  kPurgeFldRef = 56,
  kGetNamedVal = 57,
  kGetFldInfo2 = 63
};

// Byte offsets of the entries in the parameter block of the Mac door.
enum MacOffset : int {
  kAtGetFldRef = 12,
  kAtGetFldInt = 24,
  kAtSetFldVal = 28,
  kAtSetFldInt = 32,
  kAtShowMessage = 92,
  kAtGetFldVal = 128,
  kAtGetLstVal = 132,
  kAtSetLstVal = 140,
  kAtDoListOp = 148,
  kAtCallProcedure = 152,
  kAtGetFldInfo = 156,
  kAtExtensionInfo = 164,
  kAtGetPackageId = 168,
  kAtGetDesignPtr = 172,
  kAtGetListDef = 184,
  kAtEvalCalcString = 188,
  kAtPurgeFldRef = 200,
  kAtGetNamedVal = 204,
  kAtGetFldInfo2 = 228
};

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
constexpr std::size_t kQfldid = 6;      // 16-bit: what the host asks for
constexpr std::size_t kUseDefault = 8;  // 8-bit
constexpr std::size_t kLabel = 10;      // counted text
constexpr std::size_t kSetupFlag = 14;  // 16-bit, set by the setup message
constexpr std::size_t recordSize(std::size_t unitSize) { return unitSize == 1 ? 266 : 1034; }
}  // namespace design

}  // namespace moravel
