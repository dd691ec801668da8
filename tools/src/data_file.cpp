// data_file.cpp: reading and checking the tool's data files, and merging them.
#include "data_file.h"

#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "exit_status.h"
#include "moravel/text.h"
#include "text_io.h"

namespace moravel::tool {

namespace {

using nlohmann::json;

// A place in a data file as messages name it: variables.lName, lists.l.rows[0][1].
std::string member(const std::string& where, const std::string& key) {
  return where.empty() ? key : where + "." + key;
}
std::string element(const std::string& where, std::size_t i) { return where + "[" + std::to_string(i) + "]"; }

bool isIntegerSyntax(const std::string& s) {
  std::size_t i = !s.empty() && s[0] == '-' ? 1 : 0;
  if (i == s.size()) return false;
  for (; i < s.size(); ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

// Builds the document from the parser's events. It knows the place of every
// value, so that an error the parser meets (a number out of range) names it,
// and it keeps the digits of each integer too long for a 64-bit integer.
class Builder : public nlohmann::json_sax<json> {
 public:
  explicit Builder(std::string source) : source_(std::move(source)) {}

  json root;
  std::map<std::string, std::string> longIntegers;  // place -> digits as written

  bool null() override { return add(json(nullptr)); }
  bool boolean(bool v) override { return add(json(v)); }
  bool number_integer(number_integer_t v) override { return add(json(v)); }
  bool number_unsigned(number_unsigned_t v) override { return add(json(v)); }
  bool number_float(number_float_t v, const string_t& s) override {
    std::string at = place();
    // A literal that is not 0 but reads as 0 lost every digit, as one that
    // reads as infinity would have.
    if (v == 0 && !isZeroLiteral(std::string_view(s)))
      throw DataError(source_ + ": " + at + (at.empty() ? "" : ": ") + "number out of range: " + s);
    add(json(v));
    if (isIntegerSyntax(s)) longIntegers[at] = s;
    return true;
  }
  bool string(string_t& v) override { return add(json(std::move(v))); }
  bool binary(binary_t&) override { return false; }  // not in JSON text
  bool start_object(std::size_t) override { return open(json::object()); }
  bool start_array(std::size_t) override { return open(json::array()); }

  // The deepest a data file needs is five levels (lists.name.rows[i][k]).
  static constexpr std::size_t kMaxDepth = 64;
  bool key(string_t& k) override {
    open_.back().key = k;
    return true;
  }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t, const std::string& token, const nlohmann::detail::exception& e) override {
    std::string at = place();
    if (e.id == 406) throw DataError(source_ + ": " + at + (at.empty() ? "" : ": ") + "number out of range: " + token);
    // e.what() reads "[json.exception.parse_error.101] parse error at line 3, column 5: ..."
    std::string what = e.what();
    auto p = what.find("] ");
    throw DataError(source_ + ": not valid JSON: " + (p == std::string::npos ? what : what.substr(p + 2)) +
                    (at.empty() ? "" : " (in " + at + ")"));
  }

 private:
  struct Open {
    json* value;
    std::string where;
    std::string key;
    std::size_t count = 0;
  };

  std::string place() const {
    if (open_.empty()) return "";
    const Open& o = open_.back();
    return o.value->is_array() ? element(o.where, o.count) : member(o.where, o.key);
  }

  json* add(json v) {
    if (open_.empty()) {
      root = std::move(v);
      return &root;
    }
    Open& o = open_.back();
    json* slot;
    if (o.value->is_array()) {
      o.value->push_back(std::move(v));
      slot = &o.value->back();
    } else {
      // A key given again: the later value wins, whatever the earlier held.
      if (o.value->contains(o.key)) forgetDigitsUnder(member(o.where, o.key));
      slot = &((*o.value)[o.key] = std::move(v));
    }
    ++o.count;
    return slot;
  }
  void forgetDigitsUnder(const std::string& at) {
    for (auto it = longIntegers.lower_bound(at); it != longIntegers.end() && it->first.compare(0, at.size(), at) == 0;) {
      char next = it->first.size() > at.size() ? it->first[at.size()] : '.';
      it = next == '.' || next == '[' ? longIntegers.erase(it) : std::next(it);
    }
  }

  bool open(json container) {
    if (open_.size() >= kMaxDepth)
      throw DataError(source_ + ": " + place() + ": nested more than " + std::to_string(kMaxDepth) +
                      " levels deep");
    std::string where = place();
    open_.push_back(Open{add(std::move(container)), std::move(where), {}, 0});
    return true;
  }
  bool close() {
    open_.pop_back();
    return true;
  }

  std::string source_;
  std::vector<Open> open_;
};

class Reader {
 public:
  Reader(std::string source, bool oneByte, const std::map<std::string, std::string>& longIntegers)
      : source_(std::move(source)), oneByte_(oneByte), longIntegers_(longIntegers) {}

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
    if (t.find(U'\0') != std::u32string::npos) fail(where, "text holds a NUL character, which would end it early");
    if (oneByte_)
      for (char32_t c : t)
        if (c > 0xFF) fail(where, "character above U+00FF cannot reach the 8-bit build");
    return t;
  }

  Value scalar(const json& j, const std::string& where) const {
    if (j.is_string()) return Value::text(checked(j.get<std::string>(), where));
    if (j.is_boolean()) return Value::number(j.get<bool>() ? 1 : 0);
    if (j.is_null()) return Value();
    if (j.is_number_unsigned()) return integerValue(j.get<std::uint64_t>(), false);
    if (j.is_number_integer()) {
      std::int64_t n = j.get<std::int64_t>();
      return n < 0 ? integerValue(0 - static_cast<std::uint64_t>(n), true)
                   : integerValue(static_cast<std::uint64_t>(n), false);
    }
    if (j.is_number()) {
      auto it = longIntegers_.find(where);
      if (it != longIntegers_.end()) return Value::text(fromLatin1(it->second));
      return Value::number(j.get<double>());
    }
    fail(where, "expected text, a number, true, false or null");
  }

  // A record of a mail merge given flat: each key a variable.
  DataSet flat(const json& root) const {
    DataSet d;
    for (const auto& [name, v] : root.items()) d.variables.emplace_back(checked(name, name), scalar(v, name));
    return d;
  }

  DataSet read(const json& root) const {
    if (!root.is_object()) fail("", "expected a JSON object at the top level");
    DataSet d;
    for (const auto& [key, val] : root.items()) {
      if (key == "variables") {
        if (!val.is_object()) fail("variables", "expected an object");
        for (const auto& [name, v] : val.items()) {
          std::string where = member("variables", name);
          d.variables.emplace_back(checked(name, where), scalar(v, where));
        }
      } else if (key == "lists") {
        if (!val.is_object()) fail("lists", "expected an object");
        for (const auto& [name, v] : val.items())
          d.lists.emplace_back(checked(name, member("lists", name)), list(v, member("lists", name)));
      } else if (key == "keywordMap") {
        d.keywordMap = keywordMap(val);
      } else if (key == "methods") {
        if (!val.is_object()) fail("methods", "expected an object");
        for (const auto& [name, v] : val.items()) d.methods.emplace_back(checked(name, member("methods", name)),
                                                                          method(v, member("methods", name)));
      } else if (key == "instance") {
        d.instance = text(val, "instance");
      } else {
        fail("", "unknown key '" + key + "' (expected variables, lists, keywordMap, methods or instance)");
      }
    }
    return d;
  }

  std::vector<std::pair<std::u32string, std::u32string>> keywordMap(const json& val) const {
    if (!val.is_array()) fail("keywordMap", "expected an array of [keyword, fieldName] pairs");
    std::vector<std::pair<std::u32string, std::u32string>> rows;
    for (std::size_t i = 0; i < val.size(); ++i) {
      std::string where = element("keywordMap", i);
      const json& row = val[i];
      if (!row.is_array() || row.size() != 2) fail(where, "expected [keyword, fieldName]");
      rows.emplace_back(text(row[0], element(where, 0)), text(row[1], element(where, 1)));
    }
    return rows;
  }

  std::vector<std::u32string> method(const json& v, const std::string& where) const {
    std::vector<std::u32string> body;
    if (v.is_string()) {
      body.push_back(checked(v.get<std::string>(), where));
    } else if (v.is_array()) {
      for (std::size_t i = 0; i < v.size(); ++i) body.push_back(text(v[i], element(where, i)));
    } else {
      fail(where, "expected a calculation or an array of calculations");
    }
    return body;
  }

  List list(const json& j, const std::string& where) const {
    if (!j.is_object()) fail(where, "expected an object with columns and rows");
    List l;
    for (const auto& [key, val] : j.items()) {
      std::string at = member(where, key);
      if (key == "columns") {
        if (!val.is_array()) fail(at, "expected an array of column names");
        for (std::size_t i = 0; i < val.size(); ++i) {
          std::string w = element(at, i);
          std::u32string name = text(val[i], w);
          if (name.empty()) fail(w, "empty column name");
          if (name.find(U',') != std::u32string::npos) fail(w, "a column name cannot contain ','");
          l.columns.push_back(std::move(name));
        }
      } else if (key == "rows") {
        if (!val.is_array()) fail(at, "expected an array of rows");
        for (std::size_t i = 0; i < val.size(); ++i) {
          std::string w = element(at, i);
          if (!val[i].is_array()) fail(w, "expected an array of cells");
          std::vector<Value> row;
          for (std::size_t k = 0; k < val[i].size(); ++k) row.push_back(scalar(val[i][k], element(w, k)));
          l.rows.push_back(std::move(row));
        }
      } else {
        fail(where, "unknown key '" + key + "' (expected columns or rows)");
      }
    }
    for (std::size_t i = 0; i < l.rows.size(); ++i)
      if (l.rows[i].size() > l.columns.size()) fail(element(member(where, "rows"), i), "more cells than columns");
    return l;
  }

 private:
  std::string source_;
  bool oneByte_;
  const std::map<std::string, std::string>& longIntegers_;
};

// Removes the entries whose names are in `names`.
template <class Entries>
void dropNamed(Entries& entries, const std::set<std::u32string>& names) {
  std::erase_if(entries, [&](const auto& e) { return names.count(e.first) > 0; });
}

}  // namespace

Value integerValue(std::uint64_t magnitude, bool negative) {
  double d = static_cast<double>(magnitude);
  bool exact = d < 18446744073709551616.0 && static_cast<std::uint64_t>(d) == magnitude;
  if (exact) return Value::number(negative ? -d : d);
  std::string digits = std::to_string(magnitude);
  if (negative) digits.insert(digits.begin(), '-');
  return Value::text(fromLatin1(digits));
}

namespace {

// The parser takes a NUL byte for the end of its input, and would read a
// text cut there without a word; no JSON text holds one.
void refuseNul(std::string_view text, const std::string& source) {
  std::size_t at = text.find('\0');
  if (at != std::string_view::npos)
    throw DataError(source + ": not valid JSON: a NUL character (byte " + std::to_string(at + 1) + ")");
}

}  // namespace

DataSet parseDataSet(std::string_view text, const std::string& source, bool oneByte) {
  refuseNul(text, source);
  Builder b(source);
  json::sax_parse(text, &b);
  return Reader(source, oneByte, b.longIntegers).read(b.root);
}

namespace {

// Whether a record is of the data file's shape: its every key is one of the
// data file's, and "variables" and "lists" hold objects. Any other object
// is a flat record.
bool isDataFileShape(const json& root) {
  for (const auto& [key, val] : root.items()) {
    if (key == "variables" || key == "lists") {
      if (!val.is_object()) return false;
    } else if (key != "keywordMap" && key != "methods" && key != "instance") {
      return false;
    }
  }
  return true;
}

}  // namespace

DataSet parseRecord(std::string_view text, const std::string& source, bool oneByte) {
  refuseNul(text, source);
  Builder b(source);
  json::sax_parse(text, &b);
  Reader reader(source, oneByte, b.longIntegers);
  if (b.root.is_object() && !isDataFileShape(b.root)) return reader.flat(b.root);
  DataSet d = reader.read(b.root);
  if (!d.methods.empty() || d.keywordMap || d.instance)
    throw DataError(source + ": a record of the data file's shape holds variables and lists only");
  return d;
}

DataSet loadDataSet(const std::string& path, bool oneByte) {
  std::string what = path == "-" ? "standard input" : path;
  Text bytes = readFileText(path, "the data file", kExitUsage);
  std::string_view view(reinterpret_cast<const char*>(bytes.narrowData()), bytes.size());
  return parseDataSet(view, what, oneByte);
}

void merge(DataSet& into, DataSet later) {
  if (into.variables.empty() && into.lists.empty() && into.methods.empty()) {
    auto map = std::move(into.keywordMap);
    auto instance = std::move(into.instance);
    into = std::move(later);
    if (!into.keywordMap) into.keywordMap = std::move(map);
    if (!into.instance) into.instance = std::move(instance);
    return;
  }
  std::set<std::u32string> names, methods;
  for (const auto& v : later.variables) names.insert(v.first);
  for (const auto& l : later.lists) names.insert(l.first);
  for (const auto& m : later.methods) methods.insert(m.first);
  dropNamed(into.variables, names);
  dropNamed(into.lists, names);
  dropNamed(into.methods, methods);
  for (auto& v : later.variables) into.variables.push_back(std::move(v));
  for (auto& l : later.lists) into.lists.push_back(std::move(l));
  for (auto& m : later.methods) into.methods.push_back(std::move(m));
  if (later.keywordMap) into.keywordMap = std::move(later.keywordMap);
  if (later.instance) into.instance = std::move(later.instance);
}

}  // namespace moravel::tool
