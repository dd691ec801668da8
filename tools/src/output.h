// output.h: where the expanded text goes: standard output, or a file replaced only when the text is complete.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

#include "exit_status.h"

namespace moravel::tool {

class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "" or "-": standard output. A file name that names nothing yet: the file is
// made without a name and given it by commit(), where the system allows.
// Otherwise a new file is written beside it
// (beside the file a symbolic link leads to) and renamed over it by commit(),
// so an output that fails half-way leaves the old file as it was; it gets
// the old file's permissions. Where no new file can be made beside it, a
// file the caller may write is written in place, emptied only by the first
// write; so is one whose new file may not be renamed over it (another
// user's file in a sticky directory). A file the caller may not write is
// refused. What is not a regular file (a device, a named pipe, a socket) is
// written directly, and a name of one of the process's own descriptors
// (/dev/stdout, /dev/fd/N) writes that descriptor, as a shell does. A write
// to a pipe whose reader has gone ends the process by SIGPIPE, quietly, as
// shell tools end. Errors throw OutputError naming the output.
class Output {
 public:
  explicit Output(const std::string& name);
  ~Output();  // removes the new file unless committed
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  void write(const char* bytes, std::size_t n);
  // Collects what is written and writes it in pieces of 64 KiB, for many
  // small writes (a merge's records); flush() and commit() write the rest.
  void buffer() { buffered_ = true; }
  void flush();
  // Closes the output and puts the new file in place of the old.
  void commit();
  // What the output is called in messages.
  const std::string& what() const { return what_; }

 private:
  [[noreturn]] void fail(const std::string& doing) const;
  void openBeside(int existingMode, bool exists);
  bool openUnnamed();  // a new file without a name yet, linked by commit()
  void linkUnnamed();
  void truncateIfPending();
  void copyInPlace();  // the new file's text written over the target, when it cannot be renamed

  std::string what_;
  std::string target_;  // the file replaced on commit ("" when written directly)
  std::string temp_;    // the new file beside it
  int fd_ = -1;
  bool ownFd_ = false;
  bool truncatePending_ = false;  // written in place: emptied at the first write
  bool unnamed_ = false;          // a new file without a name until commit()
  bool buffered_ = false;
  std::string pending_;
  void writeNow(const char* bytes, std::size_t n);
};

// Writes `text` to standard output; Failure (73) when it cannot be written.
void writeStandardOutput(const std::string& text);

}  // namespace moravel::tool
