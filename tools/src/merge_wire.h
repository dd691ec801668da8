// merge_wire.h: the messages between a parallel mail merge and its worker processes, and the pipes they travel by.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "moravel/stored_text.h"
#include "records.h"

namespace moravel::tool {

// What a message is, its first byte.
enum class Wire : char {
  Record = 'R',   // to a worker: a record to expand
  Verdict = 'C',  // to a worker: a record's file put in place, or removed
  End = 'E',      // to a worker: no more; what is not put in place is removed
  Result = 'D',   // from a worker: a record expanded, or how it failed
  Settled = 'A',  // from a worker: records whose files it put in place or removed
  Fatal = 'X',    // from a worker: it cannot go on
  Final = 'F',    // from a worker: it has ended as told
};

// A message built up: a length of four bytes, then the body.
class WireOut {
 public:
  explicit WireOut(std::string& into, Wire kind);
  ~WireOut();  // the length filled in
  void byte(std::uint8_t b) { out_.push_back(static_cast<char>(b)); }
  void number(std::int64_t n);
  void bytes(std::string_view s);
  void chars(std::u32string_view s);
  void text(const Text& t);
  // The text's bytes in the build's form (appendText), counted as bytes() counts them.
  void textBytes(const Text& t, bool utf8);
  void value(const Value& v);
  void record(const Record& r);

 private:
  std::string& out_;
  std::size_t start_;
};

// A message's body read back; std::runtime_error when it ends early.
class WireIn {
 public:
  explicit WireIn(std::string_view body) : at_(body.data()), end_(body.data() + body.size()) {}
  Wire kind() { return static_cast<Wire>(byte()); }
  std::uint8_t byte();
  std::int64_t number();
  std::string_view bytes();
  std::u32string chars();
  Value value();
  // Into storage kept from the record before.
  void chars(std::u32string& into);
  void value(Value& into);
  void record(Record& r);

 private:
  const char* take(std::size_t n);
  const char* at_;
  const char* end_;
};

// The length of the complete message at the start of `buffer`, with its
// four bytes of length; 0 while it is not all there.
std::size_t wholeMessage(std::string_view buffer);

// Blocking reads and writes of whole messages, waiting through signals and
// partial transfers. readMessage: false at the end of the pipe before a
// message begins (std::runtime_error within one). writeAll: false when the
// reader has gone.
bool readMessage(int fd, std::string& body);
bool writeAll(int fd, const std::string& bytes);

// The text's bytes in the build's form, as writeText writes them.
void appendText(const Text& text, bool utf8, std::string& out);

}  // namespace moravel::tool
