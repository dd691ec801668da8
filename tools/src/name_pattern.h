// name_pattern.h: the file names of a mail merge's records (-o with --each), made from a pattern.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace moravel::tool {

// -o with --each: a file name for each record. {n} is the record's number,
// {n:05} the same zero-padded, {name} a variable's value.
class NamePattern {
 public:
  // A variable's value as a file name takes it (UTF-8, or Latin-1 in the
  // one-byte build); nullopt when it has none.
  using ValueOf = std::function<std::optional<std::string>(const std::string& name)>;

  // Failure (64) naming the pattern when it cannot be read.
  explicit NamePattern(const std::string& text);

  // Whether a variable's value is part of the names, so that two records can name one file.
  bool namesByValue() const;
  bool reads(const std::string& name) const;

  // The file of record `number`; Failure (64) naming the record (`where`)
  // when a value would lead out of the pattern's directory, there is none,
  // or the name is empty. `dirs` gets the directories that the pattern's own
  // text and numbers name, before any value: those a run may make.
  std::string expand(long number, const ValueOf& valueOf, const std::string& where, std::string& dirs) const;

 private:
  struct Part {
    enum Kind { Text, Number, Variable } kind;
    std::string text;  // Text: the text; Variable: the name
    int width;         // Number: zero-padded to this many digits
  };
  [[noreturn]] static void bad(const std::string& text, const std::string& why);
  std::vector<Part> parts_;
};

}  // namespace moravel::tool
