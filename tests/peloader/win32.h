// win32.h: the Windows types, constants and error codes the stand-ins use.
#pragma once

#include <cstdint>

namespace peloader {

using BOOL = std::int32_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using HANDLE = void*;
using WCHAR = char16_t;

inline HANDLE const kInvalidHandle = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

// Error codes, as GetLastError answers them.
enum : DWORD {
  kErrorSuccess = 0,
  kErrorInvalidFunction = 1,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorSharingViolation = 32,
  kErrorBadNetPath = 53,
  kErrorInvalidParameter = 87,
  kErrorInvalidName = 123,
  kErrorModNotFound = 126,
  kErrorProcNotFound = 127,
  kErrorNegativeSeek = 131,
  kErrorFilenameTooLong = 206,
  kErrorResourceDataNotFound = 1812,
  kErrorResourceTypeNotFound = 1813,
  kErrorResourceNameNotFound = 1814,
  kErrorDllInitFailed = 1114,
};

// CreateFile
enum : DWORD {
  kGenericRead = 0x80000000u,
  kGenericWrite = 0x40000000u,
  kFileShareRead = 1,
  kFileShareWrite = 2,
  kFileShareDelete = 4,
  kOpenExisting = 3,
  kFlagBackupSemantics = 0x02000000u,
  kFlagOverlapped = 0x40000000u,
};
enum : DWORD { kFileTypeUnknown = 0, kFileTypeDisk = 1, kFileTypeChar = 2 };
enum : DWORD { kFileBegin = 0, kFileCurrent = 1, kFileEnd = 2 };
inline constexpr DWORD kInvalidFileSize = 0xFFFFFFFFu;

// Memory
enum : DWORD {
  kPageNoAccess = 0x01,
  kPageReadOnly = 0x02,
  kPageReadWrite = 0x04,
  kPageWriteCopy = 0x08,
  kPageExecute = 0x10,
  kPageExecuteRead = 0x20,
  kPageExecuteReadWrite = 0x40,
  kPageExecuteWriteCopy = 0x80,
  kMemCommit = 0x1000,
  kMemImage = 0x1000000,
};
enum : UINT { kGmemMoveable = 0x2, kGmemZeroInit = 0x40, kGmemModify = 0x80 };

// Reasons given to a DLL's entry point and TLS callbacks.
enum : DWORD { kDllProcessDetach = 0, kDllProcessAttach = 1 };

}  // namespace peloader
