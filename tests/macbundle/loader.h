// loader.h: runs the shipped Mac bundle in a 32-bit Linux process, as the
// Mac's loader would (test equipment).
//
// Refused as dyld refuses it: dyld's tables out of order or outside
// __LINKEDIT, a read-only segment rebased without S_ATTR_LOC_RELOC on its
// sections or without write in its maximum protection, an import bound into
// a read-only segment. Refused because it would be wrong elsewhere: a pointer
// slot or stub operand that refers into the bundle without a rebase entry.
// Each segment is mapped from the file away from its link address with its
// initial protection; a rebased read-only segment is writable only while it
// is rebased. Imports are bound two-level, each from the stand-in set of the
// library its ordinal names (standins.h); one not there refuses the load.
// Lazy pointers are bound at the first call, through a stand-in of
// dyld_stub_binder that follows the stub helper and checks that the bundle
// called with the stack 16-byte aligned. The exported functions are found
// through the export trie.
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
