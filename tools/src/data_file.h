// data_file.h: the JSON data files of the moravel tool, and how several of them merge.
//
//   {
//     "variables":  { "name": "text", number, true, false or null, ... },
//     "lists":      { "name": { "columns": ["a", ...], "rows": [["x", 1], ...] }, ... },
//     "keywordMap": [ ["KEYWORD", "fieldName"], ... ],
//     "methods":    { "name": "calculation" or ["calculation", ...], ... },
//     "instance":   "wMain"
//   }
//
// Every key is optional; any other key, or a value of another shape, is an
// error that names the place ("data.json: variables.lName: expected text, a
// number, true, false or null"). Values take the host's own forms: true and
// false are the numbers 1 and 0, null is the empty text, and an integer that
// a double cannot hold exactly is kept as its text, every digit as written.
// No text may hold a NUL character: the plug-in would see it end there.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "exit_status.h"
#include "moravel/value.h"

namespace moravel::tool {

// Data that cannot be used: a usage error.
class DataError : public Failure {
 public:
  explicit DataError(const std::string& message) : Failure(kExitUsage, message) {}
};

struct DataSet {
  std::vector<std::pair<std::u32string, Value>> variables;
  std::vector<std::pair<std::u32string, List>> lists;
  std::optional<std::vector<std::pair<std::u32string, std::u32string>>> keywordMap;
  std::vector<std::pair<std::u32string, std::vector<std::u32string>>> methods;
  std::optional<std::u32string> instance;
};

// Parses `json`; `source` names the file in messages. Texts are UTF-8 in the
// file; with `oneByte` every character must be at most U+00FF (the one-byte
// plug-in's range). Throws DataError.
DataSet parseDataSet(std::string_view json, const std::string& source, bool oneByte);

// One record of a mail merge, a JSON object: of the data file's shape when
// its every key is one of the data file's and "variables" and "lists" hold
// objects (then with variables and lists only), or else flat, each key a
// variable ({"name": "Ann", "qty": 3}). Throws DataError.
DataSet parseRecord(std::string_view json, const std::string& source, bool oneByte);

// An integer as a number when a double holds it exactly, else as its digits.
Value integerValue(std::uint64_t magnitude, bool negative);

// Reads ("-": standard input) and parses a file. Throws DataError (also when
// it cannot be read).
DataSet loadDataSet(const std::string& path, bool oneByte);

// Adds `later` to `into`: a name that `later` defines (as a variable or a
// list) and a method it defines replace those of `into`; its keywordMap and
// instance, when it has them, replace the earlier ones.
void merge(DataSet& into, DataSet later);

}  // namespace moravel::tool
