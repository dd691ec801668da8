// text_io.h: templates and data files read straight into the host's text, expanded texts written out from it.
#pragma once

#include <string>

#include "moravel/stored_text.h"
#include "output.h"

namespace moravel::tool {

// The bytes of a file ("-": standard input), read into a narrow text's own
// storage, or mapped when the file is large; `role` says what the file is
// ("the template"). Throws a Failure (kExitUsage) naming the file when it cannot
// be read, and when it holds a NUL byte, which would end its text early:
// a stream is refused at its first NUL rather than read to its end. A
// mapped file shortened while it is in use ends the process with a message
// and `faultStatus`.
Text readFileText(const std::string& name, const std::string& role, int faultStatus);

// Writes `text` to `out`: the bytes as they are (one-byte build), or UTF-8
// in pieces of bounded size (Unicode build). Throws what Output::write throws.
void writeText(const Text& text, bool utf8, Output& out);

}  // namespace moravel::tool
