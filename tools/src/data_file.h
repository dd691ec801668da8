// data_file.h: the JSON data file of the moravel tool.
//
//   {
//     "variables":  { "name": "text" or number, ... },
//     "lists":      { "name": { "columns": ["a", ...], "rows": [["x", 1], ...] }, ... },
//     "keywordMap": [ ["KEYWORD", "fieldName"], ... ],
//     "methods":    { "name": "calculation" or ["calculation", ...], ... },
//     "instance":   "wMain"
//   }
//
// Every key is optional; any other key, or a value of another shape, is an
// error that names the place ("data.json: variables.lName: expected text or
// number").
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "moravel/value.h"

namespace moravel::tool {

class DataError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
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
DataSet parseDataSet(const std::string& json, const std::string& source, bool oneByte);

// Reads and parses a file. Throws DataError (also when it cannot be read).
DataSet loadDataSet(const std::string& path, bool oneByte);

}  // namespace moravel::tool
