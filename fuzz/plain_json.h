// plain_json.h: the fuzz oracles' own JSON reading (RFC 8259) and the tool's rules for
// data files and records over it, written plainly and apart from the tool's readers.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "moravel/text.h"
#include "moravel/value.h"
#include "plain_text.h"

// An integer literal is its exact number when a double holds it, else its
// digits as text; any other literal is the double nearest it, refused when
// that is infinite or 0 from digits that are not all zeros.
inline std::optional<moravel::Value> PlainNumber(const std::string& literal)
{
  bool negative = literal[0] == '-';
  std::string digits = literal.substr(negative ? 1 : 0);
  if (digits.find_first_not_of("0123456789") == std::string::npos) {
    // Exact when the digits hold at most 53 significant bits.
    unsigned __int128 m = 0;
    bool huge = digits.size() > 30;
    for (char c : digits) m = m * 10 + static_cast<unsigned>(c - '0');
    if (!huge) {
      unsigned __int128 odd = m;
      while (odd != 0 && odd % 2 == 0) odd /= 2;
      bool exact = odd < (static_cast<unsigned __int128>(1) << 53) && m < (static_cast<unsigned __int128>(1) << 64);
      if (negative && m > (static_cast<unsigned __int128>(1) << 63)) exact = false;
      if (exact) {
        double d = static_cast<double>(static_cast<uint64_t>(m));
        return moravel::Value::number(negative && m != 0 ? -d : d);
      }
    }
    if (!std::isfinite(strtod(literal.c_str(), nullptr))) return std::nullopt;
    return moravel::Value::text(moravel::fromLatin1(literal));
  }
  double d = strtod(literal.c_str(), nullptr);
  if (!std::isfinite(d)) return std::nullopt;
  if (d == 0) {
    for (char c : literal) {
      if (c == 'e' || c == 'E') break;
      if (c >= '1' && c <= '9') return std::nullopt;
    }
  }
  return moravel::Value::number(d);
}

// A JSON value. An object keeps the last value of a key given twice.
struct PlainJson {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool boolean = false;
  std::string text;  // String: its UTF-8 bytes; Number: the literal
  std::vector<PlainJson> items;
  std::map<std::string, PlainJson> members;
};

class PlainJsonReader {
 public:
  // The value of the whole of `in`, whitespace around it; nullopt when it is not JSON.
  static std::optional<PlainJson> Read(std::string_view in)
  {
    PlainJsonReader r(in);
    PlainJson v;
    r.Space();
    if (!r.Value(v, 0)) return std::nullopt;
    r.Space();
    if (r.at_ != in.size()) return std::nullopt;
    return v;
  }

 private:
  explicit PlainJsonReader(std::string_view in) : in_(in) {}

  bool More() const { return at_ < in_.size(); }
  char Peek() const { return More() ? in_[at_] : '\0'; }
  void Space()
  {
    while (More() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) at_++;
  }
  bool Word(std::string_view w)
  {
    if (in_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }
  static bool Digit(char c) { return c >= '0' && c <= '9'; }

  bool Value(PlainJson& v, int depth)
  {
    if (depth > 200) return false;
    char c = Peek();
    if (c == '{') return ObjectValue(v, depth);
    if (c == '[') {
      at_++;
      v.kind = PlainJson::Array;
      Space();
      if (Peek() == ']') {
        at_++;
        return true;
      }
      for (;;) {
        v.items.emplace_back();
        Space();
        if (!Value(v.items.back(), depth + 1)) return false;
        Space();
        if (Peek() == ',') {
          at_++;
          continue;
        }
        if (Peek() == ']') {
          at_++;
          return true;
        }
        return false;
      }
    }
    if (c == '"') {
      v.kind = PlainJson::String;
      return StringValue(v.text);
    }
    if (Word("true")) {
      v.kind = PlainJson::Bool;
      v.boolean = true;
      return true;
    }
    if (Word("false")) {
      v.kind = PlainJson::Bool;
      return true;
    }
    if (Word("null")) return true;
    return NumberValue(v);
  }

  bool ObjectValue(PlainJson& v, int depth)
  {
    at_++;
    v.kind = PlainJson::Object;
    Space();
    if (Peek() == '}') {
      at_++;
      return true;
    }
    for (;;) {
      Space();
      std::string key;
      if (Peek() != '"' || !StringValue(key)) return false;
      Space();
      if (Peek() != ':') return false;
      at_++;
      Space();
      PlainJson member;
      if (!Value(member, depth + 1)) return false;
      v.members[key] = std::move(member);
      Space();
      if (Peek() == ',') {
        at_++;
        continue;
      }
      if (Peek() == '}') {
        at_++;
        return true;
      }
      return false;
    }
  }

  bool NumberValue(PlainJson& v)
  {
    size_t start = at_;
    if (Peek() == '-') at_++;
    if (Peek() == '0') {
      at_++;
    } else if (Digit(Peek())) {
      while (Digit(Peek())) at_++;
    } else {
      return false;
    }
    if (Peek() == '.') {
      at_++;
      if (!Digit(Peek())) return false;
      while (Digit(Peek())) at_++;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      at_++;
      if (Peek() == '+' || Peek() == '-') at_++;
      if (!Digit(Peek())) return false;
      while (Digit(Peek())) at_++;
    }
    v.kind = PlainJson::Number;
    v.text = std::string(in_.substr(start, at_ - start));
    // A number a double cannot hold is refused wherever it stands, even
    // under a key given again.
    return PlainNumber(v.text).has_value();
  }

  int Hex4()
  {
    if (in_.size() - at_ < 4) return -1;
    int n = 0;
    for (int k = 0; k < 4; k++) {
      char c = in_[at_ + k];
      int d = Digit(c) ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) return -1;
      n = n * 16 + d;
    }
    at_ += 4;
    return n;
  }

  static void Put(std::string& out, char32_t c)
  {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }

  // A string's bytes, escapes resolved; the raw bytes must be UTF-8.
  bool StringValue(std::string& out)
  {
    at_++;
    size_t raw = at_;
    for (;;) {
      if (!More()) return false;
      unsigned char c = static_cast<unsigned char>(in_[at_]);
      if (c == '"') break;
      if (c < 0x20) return false;
      at_ += c == '\\' && at_ + 1 < in_.size() ? 2 : 1;
    }
    if (!PlainUtf8(in_.substr(raw, at_ - raw))) return false;
    at_ = raw;
    for (;;) {
      char c = in_[at_++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      char e = in_[at_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          int u = Hex4();
          if (u < 0 || (u >= 0xDC00 && u <= 0xDFFF)) return false;
          char32_t cp = static_cast<char32_t>(u);
          if (u >= 0xD800 && u <= 0xDBFF) {
            if (!Word("\\u")) return false;
            int low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + static_cast<char32_t>(low - 0xDC00);
          }
          Put(out, cp);
          break;
        }
        default:
          return false;
      }
    }
  }

  std::string_view in_;
  size_t at_ = 0;
};

// What the tool's data files and records hold, by the rules they are read by.
struct PlainData {
  std::map<std::u32string, moravel::Value> variables;
  std::map<std::u32string, moravel::List> lists;
  std::optional<std::vector<std::pair<std::u32string, std::u32string>>> keywordMap;
  std::map<std::u32string, std::vector<std::u32string>> methods;
  std::optional<std::u32string> instance;
};

class PlainDataRules {
 public:
  explicit PlainDataRules(bool oneByte) : oneByte_(oneByte) {}

  // A value: text, a number, true, false or null, in the host's forms.
  std::optional<moravel::Value> Scalar(const PlainJson& j) const
  {
    switch (j.kind) {
      case PlainJson::String: {
        auto t = PlainValueText(j.text, oneByte_);
        if (!t) return std::nullopt;
        return moravel::Value::text(*t);
      }
      case PlainJson::Bool:
        return moravel::Value::number(j.boolean ? 1 : 0);
      case PlainJson::Null:
        return moravel::Value();
      case PlainJson::Number:
        return PlainNumber(j.text);
      default:
        return std::nullopt;
    }
  }

  std::optional<std::u32string> Name(const std::string& bytes) const
  {
    auto t = PlainUtf8(bytes);
    if (!t) return std::nullopt;
    for (char32_t c : *t)
      if (c == 0 || (oneByte_ && c > 0xFF)) return std::nullopt;
    return t;
  }

  std::optional<std::u32string> Text(const PlainJson& j) const
  {
    if (j.kind != PlainJson::String) return std::nullopt;
    return PlainValueText(j.text, oneByte_);
  }

  // A data file: an object of the five keys, each optional.
  std::optional<PlainData> DataFile(const PlainJson& root) const
  {
    if (root.kind != PlainJson::Object) return std::nullopt;
    PlainData d;
    for (const auto& [key, val] : root.members) {
      if (key == "variables") {
        if (val.kind != PlainJson::Object) return std::nullopt;
        for (const auto& [name, v] : val.members) {
          auto n = Name(name);
          auto s = Scalar(v);
          if (!n || !s) return std::nullopt;
          d.variables[*n] = *s;
        }
      } else if (key == "lists") {
        if (val.kind != PlainJson::Object) return std::nullopt;
        for (const auto& [name, v] : val.members) {
          auto n = Name(name);
          auto l = ListOf(v);
          if (!n || !l) return std::nullopt;
          d.lists[*n] = *l;
        }
      } else if (key == "keywordMap") {
        if (val.kind != PlainJson::Array) return std::nullopt;
        d.keywordMap.emplace();
        for (const auto& row : val.items) {
          if (row.kind != PlainJson::Array || row.items.size() != 2) return std::nullopt;
          auto k = Text(row.items[0]);
          auto f = Text(row.items[1]);
          if (!k || !f) return std::nullopt;
          d.keywordMap->emplace_back(*k, *f);
        }
      } else if (key == "methods") {
        if (val.kind != PlainJson::Object) return std::nullopt;
        for (const auto& [name, v] : val.members) {
          auto n = Name(name);
          if (!n) return std::nullopt;
          std::vector<std::u32string> body;
          if (v.kind == PlainJson::String) {
            auto t = Text(v);
            if (!t) return std::nullopt;
            body.push_back(*t);
          } else if (v.kind == PlainJson::Array) {
            for (const auto& line : v.items) {
              auto t = Text(line);
              if (!t) return std::nullopt;
              body.push_back(*t);
            }
          } else {
            return std::nullopt;
          }
          d.methods[*n] = body;
        }
      } else if (key == "instance") {
        auto t = Text(val);
        if (!t) return std::nullopt;
        d.instance = *t;
      } else {
        return std::nullopt;
      }
    }
    return d;
  }

  // A record: of the data file's shape (then variables and lists only) when
  // its every key is a data file's and variables and lists hold objects,
  // else flat, each key a variable.
  std::optional<PlainData> Record(const PlainJson& root) const
  {
    if (root.kind != PlainJson::Object) return std::nullopt;
    bool shaped = true;
    for (const auto& [key, val] : root.members) {
      if (key == "variables" || key == "lists") shaped = shaped && val.kind == PlainJson::Object;
      else shaped = shaped && (key == "keywordMap" || key == "methods" || key == "instance");
    }
    if (shaped) {
      auto d = DataFile(root);
      if (!d || d->keywordMap || d->instance || !d->methods.empty()) return std::nullopt;
      return d;
    }
    PlainData d;
    for (const auto& [name, v] : root.members) {
      auto n = Name(name);
      auto s = Scalar(v);
      if (!n || !s) return std::nullopt;
      d.variables[*n] = *s;
    }
    return d;
  }

 private:
  std::optional<moravel::List> ListOf(const PlainJson& j) const
  {
    if (j.kind != PlainJson::Object) return std::nullopt;
    moravel::List l;
    for (const auto& [key, val] : j.members) {
      if (key == "columns") {
        if (val.kind != PlainJson::Array) return std::nullopt;
        for (const auto& c : val.items) {
          auto t = Text(c);
          if (!t || t->empty() || t->find(U',') != std::u32string::npos) return std::nullopt;
          l.columns.push_back(*t);
        }
      } else if (key == "rows") {
        if (val.kind != PlainJson::Array) return std::nullopt;
        for (const auto& row : val.items) {
          if (row.kind != PlainJson::Array) return std::nullopt;
          std::vector<moravel::Value> cells;
          for (const auto& cell : row.items) {
            auto s = Scalar(cell);
            if (!s) return std::nullopt;
            cells.push_back(*s);
          }
          l.rows.push_back(cells);
        }
      } else {
        return std::nullopt;
      }
    }
    for (const auto& row : l.rows)
      if (row.size() > l.columns.size()) return std::nullopt;
    return l;
  }

  bool oneByte_;
};
