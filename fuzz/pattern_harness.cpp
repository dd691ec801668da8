// pattern_harness.cpp: libFuzzer entry for the file names of a merge's records (NamePattern).
//
// Input: lines: the pattern; the record's number; then "name=value" for each
// variable that has a value (any bytes but a line break).
//
// Oracles besides the sanitizers: every refusal is a Failure with status 64;
// the pattern is refused, and each name is refused or made, exactly as an
// independent reading of the pattern says, and the directories it may make
// are those its own text names; a name made never leads out of the
// directory the pattern's text puts it in: no value holds a '/' or a NUL,
// and no part of the name that holds a value is empty, "." or "..".
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "exit_status.h"
#include "name_pattern.h"
#include "plain_text.h"

using namespace moravel;

namespace {

struct PlainPart {
  enum Kind { Text, Number, Variable } kind;
  std::string text;
  int width = 0;
};

bool AllDigits(const std::string& s)
{
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

std::optional<std::vector<PlainPart>> ReadPattern(const std::string& p)
{
  std::vector<PlainPart> parts;
  std::string text;
  size_t i = 0;
  while (i < p.size()) {
    char c = p[i++];
    if (c == '}') return std::nullopt;
    if (c != '{') {
      text += c;
      continue;
    }
    if (!text.empty()) parts.push_back({PlainPart::Text, text, 0});
    text.clear();
    std::string field;
    while (i < p.size() && p[i] != '}') field += p[i++];
    if (i == p.size()) return std::nullopt;
    i++;
    if (field == "n") {
      parts.push_back({PlainPart::Number, "", 0});
    } else if (field.size() >= 4 && field.size() <= 5 && field.compare(0, 3, "n:0") == 0 && AllDigits(field.substr(3))) {
      parts.push_back({PlainPart::Number, "", std::stoi(field.substr(3))});
    } else if (!field.empty() && field.find('{') == std::string::npos && field.find(':') == std::string::npos) {
      parts.push_back({PlainPart::Variable, field, 0});
    } else {
      return std::nullopt;
    }
  }
  if (!text.empty()) parts.push_back({PlainPart::Text, text, 0});
  return parts;
}

struct Made {
  std::string name, dirs;
  std::vector<std::pair<size_t, size_t>> values;  // where each value lies in the name: [from, to)
};

std::optional<Made> MakeName(const std::vector<PlainPart>& parts, long number,
                             const std::map<std::string, std::string>& values)
{
  Made m;
  size_t firstValue = std::string::npos;
  for (const PlainPart& p : parts) {
    if (p.kind == PlainPart::Text) {
      m.name += p.text;
    } else if (p.kind == PlainPart::Number) {
      std::string n = std::to_string(number);
      while (n.size() < static_cast<size_t>(p.width)) n = "0" + n;
      m.name += n;
    } else {
      auto v = values.find(p.text);
      if (v == values.end()) return std::nullopt;
      if (v->second == "." || v->second == ".." || v->second.find('/') != std::string::npos ||
          v->second.find('\0') != std::string::npos)
        return std::nullopt;
      if (firstValue == std::string::npos) firstValue = m.name.size();
      m.values.push_back({m.name.size(), m.name.size() + v->second.size()});
      m.name += v->second;
    }
  }
  // No part of the path that holds a value may be empty, "." or "..".
  for (auto [from, to] : m.values) {
    size_t start = from;
    while (start > 0 && m.name[start - 1] != '/') start--;
    size_t end = to;
    while (end < m.name.size() && m.name[end] != '/') end++;
    std::string part = m.name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return std::nullopt;
  }
  if (m.name.empty() || m.name.back() == '/') return std::nullopt;
  size_t slash = m.name.substr(0, firstValue).rfind('/');
  if (slash != std::string::npos && slash != 0) m.dirs = m.name.substr(0, slash);
  return m;
}

// The parts of the name between slashes, each with where it lies.
std::vector<std::pair<size_t, size_t>> Components(const std::string& name)
{
  std::vector<std::pair<size_t, size_t>> out;
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); i++)
    if (i == name.size() || name[i] == '/') {
      out.push_back({start, i});
      start = i + 1;
    }
  return out;
}

void CheckInside(const Made& m)
{
  for (auto [from, to] : m.values)
    for (size_t i = from; i < to; i++)
      if (m.name[i] == '/' || m.name[i] == '\0') Fail("a value put a '/' or a NUL in " + Printable(m.name));
  for (auto [start, end] : Components(m.name)) {
    bool holdsValue = false;
    for (auto [from, to] : m.values) holdsValue = holdsValue || (from < end && to > start) || (from == to && from >= start && from <= end);
    std::string c = m.name.substr(start, end - start);
    if (holdsValue && (c.empty() || c == "." || c == ".."))
      Fail("a value made the part '" + Printable(c) + "' of " + Printable(m.name));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  std::string in(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t end = in.find('\n', start);
    lines.push_back(in.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  const std::string& patternText = lines[0];
  long number = 1;
  if (lines.size() > 1 && AllDigits(lines[1]) && lines[1].size() < 12) number = std::stol(lines[1]);
  std::map<std::string, std::string> values;
  for (size_t i = 2; i < lines.size(); i++) {
    size_t eq = lines[i].find('=');
    if (eq != std::string::npos) values[lines[i].substr(0, eq)] = lines[i].substr(eq + 1);
  }

  std::optional<std::vector<PlainPart>> parts = ReadPattern(patternText);
  std::optional<tool::NamePattern> pattern;
  try {
    pattern.emplace(patternText);
  } catch (const tool::Failure& f) {
    if (f.status != tool::kExitUsage) Fail("a pattern refused with status " + std::to_string(f.status));
    if (parts) Fail("refused a pattern the independent reading takes");
    return 0;
  }
  if (!parts) Fail("took a pattern the independent reading refuses");

  std::optional<Made> want = MakeName(*parts, number, values);
  auto valueOf = [&](const std::string& name) -> std::optional<std::string> {
    auto v = values.find(name);
    if (v == values.end()) return std::nullopt;
    return v->second;
  };
  std::string dirs, name;
  try {
    name = pattern->expand(number, valueOf, "records: record 1", dirs);
  } catch (const tool::Failure& f) {
    if (f.status != tool::kExitUsage) Fail("a name refused with status " + std::to_string(f.status));
    if (want) Fail("refused " + Printable(want->name) + ": " + f.what());
    return 0;
  }
  if (!want) Fail("made a name the independent reading refuses: " + Printable(name));
  if (name != want->name) Fail("made " + Printable(name) + ", expected " + Printable(want->name));
  if (dirs != want->dirs) Fail("would make the directories " + Printable(dirs));
  CheckInside(*want);
  return 0;
}
