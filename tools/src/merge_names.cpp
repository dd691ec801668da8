// merge_names.cpp: the -o pattern of a merge's file names, and the separator's escapes.
#include "merge_names.h"

#include <algorithm>
#include <optional>

#include "expand.h"
#include "moravel/text.h"

namespace moravel::tool {

std::string unescapeSeparator(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    if (c == 'n') out += '\n';
    else if (c == '0') out += '\0';
    else if (c == 'f') out += '\f';
    else if (c == '\\') out += '\\';
    else throw Failure{kExitUsage, "--separator: unknown escape \\" + std::string(1, c) + " (expected \\n, \\0, \\f or \\\\)"};
  }
  return out;
}

NamePattern::NamePattern(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '}') bad(text, "a '}' without '{'");
    if (text[i] != '{') {
      std::size_t next = text.find_first_of("{}", i);
      parts_.push_back({Part::Text, text.substr(i, next == std::string::npos ? std::string::npos : next - i), 0});
      i = next == std::string::npos ? text.size() : next;
      continue;
    }
    std::size_t close = text.find('}', i);
    if (close == std::string::npos) bad(text, "a '{' without '}'");
    addField(text, text.substr(i + 1, close - i - 1));
    i = close + 1;
  }
}

void NamePattern::addField(const std::string& text, const std::string& field) {
  if (field == "n") {
    parts_.push_back({Part::Number, "", 0});
  } else if (field.rfind("n:0", 0) == 0 && field.size() > 3 && field.size() <= 5 &&
             field.find_first_not_of("0123456789", 3) == std::string::npos) {
    parts_.push_back({Part::Number, "", std::stoi(field.substr(3))});
  } else if (!field.empty() && field.find_first_of("{:") == std::string::npos) {
    parts_.push_back({Part::Variable, field, 0});
  } else {
    bad(text, "'{" + field + "}' is none of {n}, {n:05} or {name}");
  }
}

bool NamePattern::namesByValue() const {
  for (const Part& p : parts_)
    if (p.kind == Part::Variable) return true;
  return false;
}

bool NamePattern::reads(const std::string& name) const {
  for (const Part& p : parts_)
    if (p.kind == Part::Variable && p.text == name) return true;
  return false;
}

std::string NamePattern::valueOf(const Part& p, const Host& host, bool unicode, const std::string& where) const {
  std::optional<Value> v = host.value(toText(p.text, unicode, "-o"));
  if (!v) throw Failure{kExitUsage, where + ": {" + p.text + "} has no value"};
  std::string text = unicode ? encodeUtf8(v->asText()) : toLatin1(v->asText());
  if (text == "." || text == ".." || text.find('/') != std::string::npos || text.find('\0') != std::string::npos)
    throw Failure{kExitUsage, where + ": {" + p.text + "} gives '" + text +
                                  "', which would lead out of the pattern's directory"};
  return text;
}

std::string NamePattern::expand(const Record& r, const Host& host, bool unicode, const std::string& where,
                                std::string& dirs) const {
  std::string name;
  std::size_t ownEnd = std::string::npos;  // where the first value begins
  for (const Part& p : parts_) {
    if (p.kind == Part::Text) {
      name += p.text;
    } else if (p.kind == Part::Number) {
      std::string n = std::to_string(r.number);
      if (n.size() < static_cast<std::size_t>(p.width)) n.insert(0, static_cast<std::size_t>(p.width) - n.size(), '0');
      name += n;
    } else {
      ownEnd = std::min(ownEnd, name.size());
      name += valueOf(p, host, unicode, where);
    }
  }
  std::size_t slash = name.substr(0, ownEnd).rfind('/');
  dirs = slash == std::string::npos || slash == 0 ? "" : name.substr(0, slash);
  if (name.empty() || name.back() == '/')
    throw Failure{kExitUsage, where + ": gives an empty file name ('" + name + "'); nothing written"};
  return name;
}

void NamePattern::bad(const std::string& text, const std::string& why) {
  throw Failure{kExitUsage, "-o " + text + ": " + why};
}

std::uint64_t hashOf(const std::string& s) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

}  // namespace moravel::tool
