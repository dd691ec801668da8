// text_io.h: templates and data files read straight into the host's text, expanded texts written out from it.
#pragma once

#include <exception>
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

// Writes the plug-in's units to `out` as the host hands them over
// (Host::streamWrites): the bytes as they are (one-byte build), or UTF-8
// (Unicode build), gathered into pieces of bounded size. A failure to
// write is kept, and nothing more is written; finish() writes the rest and
// throws what Output::write threw.
class UnitWriter {
 public:
  UnitWriter(Output& out, bool unicode) : out_(out), unicode_(unicode) {}
  void put(const void* units, std::size_t count) noexcept;
  void finish();

 private:
  void writePiece();
  Output& out_;
  bool unicode_;
  std::string piece_;
  std::exception_ptr failure_;
};

}  // namespace moravel::tool
