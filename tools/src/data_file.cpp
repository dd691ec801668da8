// data_file.cpp: reading and checking the tool's data file.
#include "data_file.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "moravel/text.h"

namespace moravel::tool {

namespace {

using nlohmann::json;

class Reader {
 public:
  Reader(std::string source, bool oneByte) : source_(std::move(source)), oneByte_(oneByte) {}

  [[noreturn]] void fail(const std::string& where, const std::string& what) const {
    throw DataError(source_ + ": " + (where.empty() ? "" : where + ": ") + what);
  }

  std::u32string text(const json& j, const std::string& where) const {
    if (!j.is_string()) fail(where, "expected text");
    return checked(j.get<std::string>(), where);
  }

  std::u32string checked(const std::string& utf8, const std::string& where) const {
    std::size_t bad = 0;
    std::u32string t = decodeUtf8(utf8, &bad);
    if (bad) fail(where, "text is not valid UTF-8");
    if (oneByte_)
      for (char32_t c : t)
        if (c > 0xFF) fail(where, "character above U+00FF cannot reach the 8-bit build");
    return t;
  }

  Value scalar(const json& j, const std::string& where) const {
    if (j.is_string()) return Value::text(checked(j.get<std::string>(), where));
    if (j.is_number()) return Value::number(j.get<double>());
    fail(where, "expected text or number");
  }

  DataSet read(const json& root) const {
    if (!root.is_object()) fail("", "expected a JSON object at the top level");
    DataSet d;
    for (const auto& [key, val] : root.items()) {
      if (key == "variables") {
        if (!val.is_object()) fail("variables", "expected an object");
        for (const auto& [name, v] : val.items()) {
          std::string where = "variables." + name;
          d.variables.emplace_back(checked(name, where), scalar(v, where));
        }
      } else if (key == "lists") {
        if (!val.is_object()) fail("lists", "expected an object");
        for (const auto& [name, v] : val.items())
          d.lists.emplace_back(checked(name, "lists." + name), list(v, "lists." + name));
      } else if (key == "keywordMap") {
        if (!val.is_array()) fail("keywordMap", "expected an array of [keyword, fieldName] pairs");
        std::vector<std::pair<std::u32string, std::u32string>> rows;
        for (std::size_t i = 0; i < val.size(); ++i) {
          std::string where = "keywordMap[" + std::to_string(i) + "]";
          const json& row = val[i];
          if (!row.is_array() || row.size() != 2) fail(where, "expected [keyword, fieldName]");
          rows.emplace_back(text(row[0], where + "[0]"), text(row[1], where + "[1]"));
        }
        d.keywordMap = std::move(rows);
      } else if (key == "methods") {
        if (!val.is_object()) fail("methods", "expected an object");
        for (const auto& [name, v] : val.items()) {
          std::string where = "methods." + name;
          std::vector<std::u32string> body;
          if (v.is_string()) {
            body.push_back(checked(v.get<std::string>(), where));
          } else if (v.is_array()) {
            for (std::size_t i = 0; i < v.size(); ++i)
              body.push_back(text(v[i], where + "[" + std::to_string(i) + "]"));
          } else {
            fail(where, "expected a calculation or an array of calculations");
          }
          d.methods.emplace_back(checked(name, where), std::move(body));
        }
      } else if (key == "instance") {
        d.instance = text(val, "instance");
      } else {
        fail("", "unknown key '" + key + "' (expected variables, lists, keywordMap, methods or instance)");
      }
    }
    return d;
  }

  List list(const json& j, const std::string& where) const {
    if (!j.is_object()) fail(where, "expected an object with columns and rows");
    List l;
    for (const auto& [key, val] : j.items()) {
      if (key == "columns") {
        if (!val.is_array()) fail(where + ".columns", "expected an array of column names");
        for (std::size_t i = 0; i < val.size(); ++i) {
          std::string w = where + ".columns[" + std::to_string(i) + "]";
          std::u32string name = text(val[i], w);
          if (name.empty()) fail(w, "empty column name");
          if (name.find(U',') != std::u32string::npos) fail(w, "a column name cannot contain ','");
          l.columns.push_back(std::move(name));
        }
      } else if (key == "rows") {
        if (!val.is_array()) fail(where + ".rows", "expected an array of rows");
        for (std::size_t i = 0; i < val.size(); ++i) {
          std::string w = where + ".rows[" + std::to_string(i) + "]";
          if (!val[i].is_array()) fail(w, "expected an array of cells");
          std::vector<Value> row;
          for (std::size_t k = 0; k < val[i].size(); ++k)
            row.push_back(scalar(val[i][k], w + "[" + std::to_string(k) + "]"));
          l.rows.push_back(std::move(row));
        }
      } else {
        fail(where, "unknown key '" + key + "' (expected columns or rows)");
      }
    }
    for (std::size_t i = 0; i < l.rows.size(); ++i)
      if (l.rows[i].size() > l.columns.size())
        fail(where + ".rows[" + std::to_string(i) + "]", "more cells than columns");
    return l;
  }

 private:
  std::string source_;
  bool oneByte_;
};

}  // namespace

DataSet parseDataSet(const std::string& text, const std::string& source, bool oneByte) {
  json root;
  try {
    root = json::parse(text);
  } catch (const json::parse_error& e) {
    // e.what() reads "[json.exception.parse_error.101] parse error at line 3, column 5: ..."
    std::string what = e.what();
    auto p = what.find("] ");
    throw DataError(source + ": not valid JSON: " + (p == std::string::npos ? what : what.substr(p + 2)));
  }
  return Reader(source, oneByte).read(root);
}

DataSet loadDataSet(const std::string& path, bool oneByte) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw DataError(path + ": cannot be read");
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) throw DataError(path + ": cannot be read");
  return parseDataSet(ss.str(), path, oneByte);
}

}  // namespace moravel::tool
