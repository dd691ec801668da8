// merge_names.h: what a merge's outputs are called: the -o pattern (name_pattern.h), the separator's escapes, the names' hashes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "name_pattern.h"

namespace moravel::tool {

// --separator with \n, \0, \f and \\ for the bytes they name; Failure (64) for another escape.
std::string unescapeSeparator(const std::string& s);

// FNV-1a, 64 bits: the names written so far are kept as these.
std::uint64_t hashOf(const std::string& s);

}  // namespace moravel::tool
