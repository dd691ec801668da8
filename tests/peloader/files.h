// files.h: the file functions of KERNEL32, and a way for tests to open files as the DLL does.
#pragma once

#include <string_view>
#include <vector>

#include "standins.h"
#include "win32.h"

namespace peloader {

const std::vector<StandIn>& fileStandIns();

// CreateFile with OPEN_EXISTING: a handle, or kInvalidHandle with the error set.
HANDLE openFile(std::u16string_view name, DWORD access, DWORD share, DWORD disposition, DWORD flags);
// How many handles are open.
long openFileCount();

}  // namespace peloader
