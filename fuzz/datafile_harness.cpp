// datafile_harness.cpp: libFuzzer entry for the tool's data files (parseDataSet).
//
// Input: one byte whose lowest bit chooses the one-byte build, then the file.
//
// Oracles besides the sanitizers: a refusal is a DataError with status 64;
// what is read equals an independent reading (plain_json.h, neither of the
// tool's JSON libraries), which refuses exactly what the reader refuses.
#include <cstdint>
#include <map>
#include <string>

#include "data_file.h"
#include "plain_json.h"

using namespace moravel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size == 0) return 0;
  bool oneByte = data[0] & 1;
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  // A byte-order mark at the start is skipped.
  std::string_view json(bytes);
  if (json.substr(0, 3) == "\xEF\xBB\xBF") json.remove_prefix(3);
  std::optional<PlainJson> parsed = PlainJsonReader::Read(json);
  std::optional<PlainData> want = parsed ? PlainDataRules(oneByte).DataFile(*parsed) : std::nullopt;

  tool::DataSet got;
  try {
    got = tool::parseDataSet(bytes, "data.json", oneByte);
  } catch (const tool::DataError& e) {
    if (e.status != tool::kExitUsage) Fail("a refusal with status " + std::to_string(e.status));
    if (want) Fail(std::string("refused what the independent reading takes: ") + e.what());
    return 0;
  }
  if (!want) Fail("took what the independent reading refuses");
  std::map<std::u32string, Value> variables(got.variables.begin(), got.variables.end());
  std::map<std::u32string, List> lists(got.lists.begin(), got.lists.end());
  std::map<std::u32string, std::vector<std::u32string>> methods(got.methods.begin(), got.methods.end());
  if (variables.size() != got.variables.size() || lists.size() != got.lists.size() ||
      methods.size() != got.methods.size())
    Fail("a name read twice");
  if (variables != want->variables) Fail("the variables differ");
  if (lists != want->lists) Fail("the lists differ");
  if (methods != want->methods) Fail("the methods differ");
  if (got.keywordMap != want->keywordMap) Fail("the keyword map differs");
  if (got.instance != want->instance) Fail("the instance differs");
  return 0;
}
