// merge_names.h: what a merge's outputs are called: the -o pattern's file for each record, and the separator's escapes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "moravel/host.h"
#include "records.h"

namespace moravel::tool {

// --separator with \n, \0, \f and \\ for the bytes they name; Failure (64) for another escape.
std::string unescapeSeparator(const std::string& s);

// -o with --each: a file name for each record. {n} is the record's number,
// {n:05} the same zero-padded, {name} a variable's value.
class NamePattern {
 public:
  explicit NamePattern(const std::string& text);

  // Whether a variable's value is part of the names, so that two records can name one file.
  bool namesByValue() const;
  bool reads(const std::string& name) const;

  // The file of a record; Failure (64) naming the record when a value would
  // lead out of the pattern's directory, there is none, or the name is empty.
  // `dirs` gets the directories that the pattern's own text and numbers
  // name, before any value: those a run may make.
  std::string expand(const Record& r, const Host& host, bool unicode, const std::string& where,
                     std::string& dirs) const;

 private:
  struct Part {
    enum Kind { Text, Number, Variable } kind;
    std::string text;  // Text: the text; Variable: the name
    int width;         // Number: zero-padded to this many digits
  };
  [[noreturn]] static void bad(const std::string& text, const std::string& why);
  void addField(const std::string& text, const std::string& field);
  std::string valueOf(const Part& p, const Host& host, bool unicode, const std::string& where) const;
  std::vector<Part> parts_;
};

// FNV-1a, 64 bits: the names written so far are kept as these.
std::uint64_t hashOf(const std::string& s);

}  // namespace moravel::tool
