// workloads.h: the benchmark's generated texts: prose-like plain text and pages whose fields have random names and values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace moravel::bench {

// A small generator, so that one seed always gives the same texts.
struct Lcg {
  std::uint64_t s;
  explicit Lcg(std::uint64_t seed) : s(seed * 2862933555777941757ULL + 3037000493ULL) {}
  std::uint32_t next() {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(s >> 33);
  }
  std::uint32_t below(std::uint32_t n) { return next() % n; }
};

// Prose-like plain text: letters, spaces, punctuation, digits and line
// breaks; never '<', '{', '}', '"' or '\'.
void appendPlain(std::string& out, Lcg& r, std::size_t n);

// The fields a page draws on: distinct names of 3 to 12 lowercase letters
// and values of 10 to 50 characters of plain text without line breaks.
struct Fields {
  std::vector<std::string> names, values;
};
Fields makeFields(std::uint64_t seed, int count);

// How a page marks a field, given its name: "<FIELD>name</FIELD>" and the like.
using Marker = std::function<std::string(const std::string&)>;
std::string moravelMarker(const std::string& name);

// A page: runs of 60 to 140 characters of plain text, each followed by a
// field chosen at random, `tags` of them, then a last run of text.
std::string makePage(const Fields& fields, std::uint64_t seed, std::size_t tags, const Marker& marker);
// The same kind of page with Moravel's tags, as many fields as make it at
// least `bytes` long.
std::string makeSizedPage(const Fields& fields, std::uint64_t seed, std::size_t bytes);

// The fields as the moravel tool's data file: {"variables": {name: value}}.
std::string dataFileOf(const Fields& fields);

}  // namespace moravel::bench
