// name_pattern.cpp: a mail merge's file names, each value kept inside the pattern's directory.
#include "name_pattern.h"

#include <algorithm>

#include "exit_status.h"

namespace moravel::tool {

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
    std::string field = text.substr(i + 1, close - i - 1);
    i = close + 1;
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
}

void NamePattern::bad(const std::string& text, const std::string& why) {
  throw Failure{kExitUsage, "-o " + text + ": " + why};
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

std::string NamePattern::expand(long number, const ValueOf& valueOf, const std::string& where,
                                std::string& dirs) const {
  std::string name;
  std::size_t ownEnd = std::string::npos;  // where the first value begins
  struct Placed {
    const Part* part;
    std::size_t from, to;  // where its value lies in the name
  };
  std::vector<Placed> values;
  for (const Part& p : parts_) {
    if (p.kind == Part::Text) {
      name += p.text;
    } else if (p.kind == Part::Number) {
      std::string n = std::to_string(number);
      if (n.size() < static_cast<std::size_t>(p.width)) n.insert(0, static_cast<std::size_t>(p.width) - n.size(), '0');
      name += n;
    } else {
      ownEnd = std::min(ownEnd, name.size());
      std::optional<std::string> text = valueOf(p.text);
      if (!text) throw Failure{kExitUsage, where + ": {" + p.text + "} has no value"};
      if (*text == "." || *text == ".." || text->find('/') != std::string::npos ||
          text->find('\0') != std::string::npos)
        throw Failure{kExitUsage, where + ": {" + p.text + "} gives '" + *text +
                                      "', which would lead out of the pattern's directory"};
      values.push_back({&p, name.size(), name.size() + text->size()});
      name += *text;
    }
  }
  if (name.empty() || name.back() == '/')
    throw Failure{kExitUsage, where + ": gives an empty file name ('" + name + "'); nothing written"};
  // A value with the text around it may still make a part of the path that
  // leads elsewhere: ".{a}." with an empty value is "..", "{a}/x" is "/x".
  for (const Placed& v : values) {
    std::size_t start = v.from == 0 ? std::string::npos : name.rfind('/', v.from - 1);
    start = start == std::string::npos ? 0 : start + 1;
    std::size_t end = std::min(name.find('/', v.to), name.size());
    std::string part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..")
      throw Failure{kExitUsage, where + ": {" + v.part->text + "} gives '" + name.substr(v.from, v.to - v.from) +
                                    "', which makes '" + name + "' lead out of the pattern's directory"};
  }
  std::size_t slash = name.substr(0, ownEnd).rfind('/');
  dirs = slash == std::string::npos || slash == 0 ? "" : name.substr(0, slash);
  return name;
}

}  // namespace moravel::tool
