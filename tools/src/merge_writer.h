// merge_writer.h: a mail merge's results written in record order: to standard output between separators, or each to its file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>

#include "merge_names.h"
#include "moravel/stored_text.h"
#include "output.h"

namespace moravel::tool {

class MergeWriter {
 public:
  // `pattern`: the -o pattern, or none for standard output.
  MergeWriter(const NamePattern* pattern, std::string separator, bool unicode);
  // The next record's text: Failure (73) when it cannot be written, (64)
  // when its file is one an earlier record named.
  void write(const Text& text, const std::string& name, const std::string& dirs, const std::string& where);
  // Failure (64) when an earlier record named the file already.
  void claim(const std::string& name, const std::string& where);
  // A record written elsewhere (by a worker process) counted, its file claimed first.
  void accept(const std::string& name, const std::string& where) {
    claim(name, where);
    ++written_;
  }
  // Standard output's next record from bytes in the build's form, after the separator.
  void writeBytes(const std::string& bytes);
  // The records written so far kept, before a failure is reported.
  void flush();
  // The end of the run: standard output written out; Failure (73) when it cannot be.
  void finish();
  long written() const { return written_; }
  bool hasPattern() const { return pattern_ != nullptr; }

 private:
  const NamePattern* pattern_;
  std::string separator_;
  bool unicode_;
  std::optional<Output> out_;  // standard output, when there is no pattern
  // The names written so far, as 64-bit hashes: a few bytes a record. A
  // pattern of the record's number and fixed text alone names each file
  // once, and keeps nothing.
  std::unordered_set<std::uint64_t> files_;
  std::string madeDirs_;  // the pattern's directories last made
  long written_ = 0;
};

// The pattern's directories of a record's file made, unless they are
// `made` already (the last made); OutputError when they cannot be.
void makeDirectories(const std::string& dirs, std::string& made);

}  // namespace moravel::tool
