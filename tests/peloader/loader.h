// loader.h: runs a 32-bit Windows DLL in a 32-bit Linux process, as the
// Windows loader would (test equipment).
//
// The DLL is mapped away from its preferred base and its base relocations
// applied; each section gets the protection its flags give. Every import
// from KERNEL32, USER32 and msvcrt is bound to a stand-in of this process
// (standins.h); any other import, or an import by ordinal, refuses the load.
// Its TLS callbacks and entry point run with DLL_PROCESS_ATTACH on load and
// DLL_PROCESS_DETACH on unload, in a thread given a thread environment
// block. `Moravel` is found in the export directory and handed to the host
// as a C function that calls it under the Windows API convention.
#pragma once

#include <string>

#include "moravel/host.h"

namespace peloader {

class PeLoader : public moravel::LibraryLoader {
 public:
  // `path` as the host names it: a Windows path (drive Z: is the root).
  void* open(const std::string& path, std::string& error) override;
  void* symbol(void* library, const char* name) override;
  void close(void* library) override;
  // The module handle (base address) of a library `open` gave.
  static void* moduleHandle(void* library);
};

}  // namespace peloader
