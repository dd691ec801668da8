// jsonl_harness.cpp: libFuzzer entry for the tool's JSON Lines records (RecordReader),
// flat and of the data file's shape, in the one-byte or the Unicode build.
//
// Input: one byte whose lowest bit chooses the one-byte build, then the bytes
// of the file.
//
// Oracles besides the sanitizers: a refusal is a DataError with status 64;
// there are at most as many records as line breaks plus one; every record
// read, with its number and line, holds the variables and lists that an
// independent reading gives (lines split plainly, JSON read by
// plain_json.h, neither of the tool's JSON libraries), which refuses exactly
// the line where the reader does, one longer than the limit included (made
// small in the fuzz build, as are the pieces a line is read in).
#include <cstdint>
#include <map>
#include <sstream>
#include <string>

#include "plain_json.h"
#include "records.h"

using namespace moravel;

namespace {

struct Expected {
  long line;
  PlainData data;
};

// The records of `bytes` up to the first line refused; `refused` says whether there is one.
std::vector<Expected> ReadPlainly(const std::string& bytes, bool oneByte, bool& refused)
{
  std::vector<Expected> out;
  refused = false;
  PlainDataRules rules(oneByte);
  size_t start = 0;
  for (long line = 1; start < bytes.size(); ++line) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string text = bytes.substr(start, end - start);
    start = end + 1;
    if (static_cast<long>(text.size()) > tool::kMaxRecordBytes) {
      refused = true;
      return out;
    }
    while (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    if (text.find('\0') != std::string::npos) {
      refused = true;
      return out;
    }
    if (text.find_first_not_of(" \t\r") == std::string::npos) continue;
    std::optional<PlainJson> json = PlainJsonReader::Read(text);
    std::optional<PlainData> data = json ? rules.Record(*json) : std::nullopt;
    if (!data) {
      refused = true;
      return out;
    }
    out.push_back({line, *data});
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size == 0) return 0;
  bool oneByte = data[0] & 1;
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  bool expectRefusal = false;
  std::vector<Expected> expected = ReadPlainly(bytes, oneByte, expectRefusal);

  std::istringstream in(bytes);
  tool::RecordReader reader(in, "records", tool::RecordFormat::JsonLines, oneByte);
  tool::Record r;
  size_t read = 0;
  bool refused = false;
  try {
    while (reader.next(r)) {
      if (read == expected.size()) Fail("a record beyond the independent reading's");
      const Expected& want = expected[read];
      ++read;
      std::string which = "record " + std::to_string(read);
      if (r.number != static_cast<long>(read)) Fail(which + " numbered " + std::to_string(r.number));
      if (r.line != want.line) Fail(which + " on line " + std::to_string(r.line));
      // A name given twice holds its later value, as the merge lays them over the data.
      std::map<std::u32string, Value> variables;
      for (size_t i = 0; i < r.fields.count; ++i) variables[r.fields.all[i].name] = r.fields.all[i].value;
      for (const auto& [name, v] : r.data.variables) variables[name] = v;
      if (variables != want.data.variables) Fail(which + ": its variables differ");
      std::map<std::u32string, List> lists(r.data.lists.begin(), r.data.lists.end());
      if (lists != want.data.lists) Fail(which + ": its lists differ");
      if (r.data.keywordMap || r.data.instance || !r.data.methods.empty()) Fail(which + ": more than variables and lists");
    }
  } catch (const tool::DataError& e) {
    if (e.status != tool::kExitUsage) Fail("a refusal with status " + std::to_string(e.status));
    refused = true;
  }
  if (refused != expectRefusal)
    Fail(refused ? "refused what the independent reading takes" : "took what the independent reading refuses");
  if (read != expected.size()) Fail("fewer records than the independent reading");
  size_t breaks = 0;
  for (char c : bytes) breaks += c == '\n';
  if (read > breaks + 1) Fail("more records than line breaks plus one");
  return 0;
}
