// loader.h: runs the shipped Mac bundle in a 32-bit Linux process, as the
// Mac's loader would (test equipment).
//
// The bundle is mapped away from its link address; its rebase table is
// applied and its imports are bound at once, lazy ones included, each to
// the function of that name in this process: the Mac stand-ins
// (tests/macsubst) for Carbon, the C library for libSystem. A pointer slot
// or stub operand that refers into the bundle without a rebase entry, an
// import without a library, or an import this process lacks refuses the
// load. The exported functions are found through the export trie.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "moravel/host.h"

namespace macbundle {

class BundleLoader : public moravel::LibraryLoader {
 public:
  // `path` is the bundle folder (X.bundle) or the executable inside it.
  void* open(const std::string& path, std::string& error) override;
  // By C name: "main" is the bundle's "_main".
  void* symbol(void* library, const char* name) override;
  void close(void* library) override;
};

// The executable inside a bundle folder, or `path` itself.
std::string executableOf(const std::string& path);

}  // namespace macbundle
