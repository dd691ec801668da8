// flat_record.h: a mail merge's record of plain values read straight into reusable fields, without a document.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "moravel/value.h"

namespace moravel::tool {

// A variable of a record. Its name's and value's storage is kept from record to record.
struct Field {
  std::u32string name;
  Value value;
};

// The fields of the record read last: the first `count` of `all`.
struct Fields {
  std::vector<Field> all;
  std::size_t count = 0;
};

// Reads JSON Lines records of plain values: flat ({"name": "Ann", "qty": 3})
// or with every value in "variables". Anything else (lists, a nested value, a
// number at the edge of what a double holds, a text the build cannot take, a
// line that is not valid JSON) is left to the full reading, which names what
// is wrong: read() then answers false. The values are those the full reading
// gives.
class FlatRecordReader {
 public:
  explicit FlatRecordReader(bool oneByte);
  ~FlatRecordReader();
  FlatRecordReader(const FlatRecordReader&) = delete;
  FlatRecordReader& operator=(const FlatRecordReader&) = delete;

  // `line`'s capacity grows by the parser's padding; its text stays.
  bool read(std::string& line, Fields& out);
  // Whether this build reads on demand at all: one without simdjson (the
  // 32-bit test builds) leaves every line to the full reading.
  static bool readsOnDemand();

 private:
  struct Parser;
  std::unique_ptr<Parser> parser_;
  bool oneByte_;
};

// Refills `v` with the text of the UTF-8 bytes, in its own storage; false
// when they are not UTF-8, hold a NUL, or (with `oneByte`) a character above U+00FF.
bool fillText(Value& v, std::string_view utf8, bool oneByte);

}  // namespace moravel::tool
