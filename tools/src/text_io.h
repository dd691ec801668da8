// text_io.h: templates read from a file straight into the host's text, expanded texts written out from it.
#pragma once

#include <string>

#include "moravel/stored_text.h"

namespace moravel::tool {

// The bytes of a file ("-": standard input), read into a narrow text's own
// storage. Throws std::runtime_error naming the file when it cannot be read.
Text readFileText(const std::string& name);

// Writes `text` to a file ("" or "-": standard output): the bytes as they
// are (one-byte build), or UTF-8 in pieces of bounded size (Unicode build).
// Throws std::runtime_error naming the file when it cannot be written whole.
void writeText(const Text& text, bool utf8, const std::string& name);

// The position (from 0) of the first zero character, or -1.
long long firstZero(const Text& text);

}  // namespace moravel::tool
