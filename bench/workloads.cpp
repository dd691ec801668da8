// workloads.cpp: generating the benchmark's texts from a seed.
#include "workloads.h"

#include <unordered_set>

namespace moravel::bench {

void appendPlain(std::string& out, Lcg& r, std::size_t n) {
  static const char kChars[] = "etaoinshrdlucmfwypvbgkjqxz etaoinshr ETAOIN .,;:!?-'()0123456789\n";
  for (std::size_t i = 0; i < n; ++i) out.push_back(kChars[r.below(sizeof kChars - 1)]);
}

Fields makeFields(std::uint64_t seed, int count) {
  Lcg r(seed);
  Fields f;
  std::unordered_set<std::string> seen;
  while (static_cast<int>(f.names.size()) < count) {
    std::string name;
    for (std::uint32_t k = 0, n = 3 + r.below(10); k < n; ++k) name.push_back(static_cast<char>('a' + r.below(26)));
    if (!seen.insert(name).second) continue;
    std::string value;
    appendPlain(value, r, 10 + r.below(41));
    for (char& c : value)
      if (c == '\n') c = ' ';
    f.names.push_back(std::move(name));
    f.values.push_back(std::move(value));
  }
  return f;
}

std::string moravelMarker(const std::string& name) { return "<FIELD>" + name + "</FIELD>"; }

namespace {

void appendField(std::string& out, const Fields& fields, Lcg& r, const Marker& marker) {
  appendPlain(out, r, 60 + r.below(81));
  out += marker(fields.names[r.below(static_cast<std::uint32_t>(fields.names.size()))]);
}

}  // namespace

std::string makePage(const Fields& fields, std::uint64_t seed, std::size_t tags, const Marker& marker) {
  Lcg r(seed);
  std::string s;
  for (std::size_t t = 0; t < tags; ++t) appendField(s, fields, r, marker);
  appendPlain(s, r, 50);
  return s;
}

std::string makeSizedPage(const Fields& fields, std::uint64_t seed, std::size_t bytes) {
  Lcg r(seed);
  std::string s;
  s.reserve(bytes + 256);
  while (s.size() + 50 < bytes) appendField(s, fields, r, moravelMarker);
  appendPlain(s, r, 50);
  return s;
}

std::string dataFileOf(const Fields& fields) {
  std::string j = "{\"variables\": {";
  for (std::size_t i = 0; i < fields.names.size(); ++i) {
    if (i) j += ",\n";
    j += "\"" + fields.names[i] + "\": \"" + fields.values[i] + "\"";  // plain text needs no escapes
  }
  return j + "}}\n";
}

}  // namespace moravel::bench
