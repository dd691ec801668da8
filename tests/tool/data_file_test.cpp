// The tool's data file: accepted shapes, and errors that name the place.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "data_file.h"
#include "flat_record.h"
#include "moravel/text.h"
#include "records.h"

using namespace moravel;
using moravel::tool::DataError;
using moravel::tool::parseDataSet;

namespace {

std::string errorOf(const std::string& json, bool oneByte = false) {
  try {
    parseDataSet(json, "data.json", oneByte);
  } catch (const DataError& e) {
    return e.what();
  }
  return "<accepted>";
}

TEST(DataFile, EveryKeyIsOptional) {
  auto d = parseDataSet("{}", "data.json", false);
  EXPECT_TRUE(d.variables.empty());
  EXPECT_TRUE(d.lists.empty());
  EXPECT_FALSE(d.keywordMap.has_value());
  EXPECT_TRUE(d.methods.empty());
  EXPECT_FALSE(d.instance.has_value());
}

TEST(DataFile, AllKeys) {
  auto d = parseDataSet(R"j({
    "variables": {"lName": "Ann", "n": 2.5, "caf\u00e9": "\u20ac"},
    "lists": {"people": {"columns": ["name", "age"], "rows": [["Ann", 30], ["Bob"]]}},
    "keywordMap": [["NAME", "lName"]],
    "methods": {"$one": "1+1", "$two": ["1", "con('a','b')"]},
    "instance": "wMain"
  })j", "data.json", false);
  ASSERT_EQ(d.variables.size(), 3u);
  bool sawText = false, sawNumber = false, sawUnicode = false;
  for (const auto& [name, v] : d.variables) {
    if (name == U"lName") sawText = v == Value::text(U"Ann");
    if (name == U"n") sawNumber = v == Value::number(2.5);
    if (name == U"caf\u00e9") sawUnicode = v == Value::text(U"\u20ac");
  }
  EXPECT_TRUE(sawText && sawNumber && sawUnicode);
  ASSERT_EQ(d.lists.size(), 1u);
  const List& l = d.lists[0].second;
  EXPECT_EQ(l.columns, (std::vector<std::u32string>{U"name", U"age"}));
  ASSERT_EQ(l.rows.size(), 2u);
  EXPECT_EQ(l.cell(1, 1), Value::number(30));
  EXPECT_EQ(l.cell(2, 1), Value());
  ASSERT_TRUE(d.keywordMap);
  EXPECT_EQ((*d.keywordMap)[0], std::make_pair(std::u32string(U"NAME"), std::u32string(U"lName")));
  ASSERT_EQ(d.methods.size(), 2u);
  EXPECT_EQ(d.methods[1].second.size(), 2u);
  EXPECT_EQ(*d.instance, U"wMain");
}

TEST(DataFile, ErrorsNameThePlace) {
  EXPECT_EQ(errorOf(R"j({"variables": {"lName": [1]}})j"),
            "data.json: variables.lName: expected text, a number, true, false or null");
  EXPECT_EQ(errorOf(R"j({"variables": {"a": 1, "d": 1e400}})j"), "data.json: variables.d: number out of range: 1e400");
  EXPECT_EQ(errorOf(R"j({"lists": {"l": {"columns": ["a"], "rows": [[1], [-1e999]]}}})j"),
            "data.json: lists.l.rows[1][0]: number out of range: -1e999");
  EXPECT_EQ(errorOf(R"j({"variables": {"a": "x\u0000y"}})j"),
            "data.json: variables.a: text holds a NUL character, which would end it early");
  EXPECT_EQ(errorOf(R"j({"variables": []})j"), "data.json: variables: expected an object");
  EXPECT_EQ(errorOf(R"j({"lists": {"l": {"columns": ["a"], "rows": [["x", "y"]]}}})j"),
            "data.json: lists.l.rows[0]: more cells than columns");
  EXPECT_EQ(errorOf(R"j({"lists": {"l": {"columns": ["a", 3]}}})j"), "data.json: lists.l.columns[1]: expected text");
  EXPECT_EQ(errorOf(R"j({"lists": {"l": {"columns": ["a,b"]}}})j"),
            "data.json: lists.l.columns[0]: a column name cannot contain ','");
  EXPECT_EQ(errorOf(R"j({"lists": {"l": {"columns": ["a"], "rows": [[{}]]}}})j"),
            "data.json: lists.l.rows[0][0]: expected text, a number, true, false or null");
  EXPECT_EQ(errorOf(R"j({"lists": {"l": {"cols": []}}})j"),
            "data.json: lists.l: unknown key 'cols' (expected columns or rows)");
  EXPECT_EQ(errorOf(R"j({"keywordMap": [["A", "b"], ["C"]]})j"), "data.json: keywordMap[1]: expected [keyword, fieldName]");
  EXPECT_EQ(errorOf(R"j({"keywordMap": [["A", 1]]})j"), "data.json: keywordMap[0][1]: expected text");
  EXPECT_EQ(errorOf(R"j({"keywordMap": {"A": "b"}})j"),
            "data.json: keywordMap: expected an array of [keyword, fieldName] pairs");
  EXPECT_EQ(errorOf(R"j({"methods": {"$m": 3}})j"), "data.json: methods.$m: expected a calculation or an array of calculations");
  EXPECT_EQ(errorOf(R"j({"methods": {"$m": ["1", 2]}})j"), "data.json: methods.$m[1]: expected text");
  EXPECT_EQ(errorOf(R"j({"instance": 1})j"), "data.json: instance: expected text");
  EXPECT_EQ(errorOf(R"j({"varaibles": {}})j"),
            "data.json: unknown key 'varaibles' (expected variables, lists, keywordMap, methods or instance)");
  EXPECT_EQ(errorOf("[1, 2]"), "data.json: expected a JSON object at the top level");
  EXPECT_EQ(errorOf(R"j({"variables": {"tiny": 1e-400, "zero": 0.0e-400}})j"),
            "data.json: variables.tiny: number out of range: 1e-400");
  // Nesting is refused at a fixed depth, in time and memory linear in the file.
  std::string deep = std::string(30000, '[') + std::string(30000, ']');
  EXPECT_EQ(errorOf("{\"lists\": " + deep + "}").rfind("data.json: lists", 0), 0u);
  EXPECT_NE(errorOf("{\"lists\": " + deep + "}").find(": nested more than 64 levels deep"), std::string::npos);
}

TEST(DataFile, AKeyGivenAgainTakesItsLaterValueInEveryForm) {
  auto d = parseDataSet(R"j({"variables": {"x": 123456789012345678901234, "x": 1.5, "y": 2.5,
    "y": 123456789012345678901234}, "lists": {"l": {"rows": [[123456789012345678901234]]},
    "l": {"columns": ["a"], "rows": [[0.25]]}}})j", "data.json", false);
  ASSERT_EQ(d.variables.size(), 2u);
  EXPECT_EQ(d.variables[0].second.asText(), U"1.5");
  EXPECT_EQ(d.variables[1].second.asText(), U"123456789012345678901234");
  ASSERT_EQ(d.lists.size(), 1u);
  EXPECT_EQ(d.lists[0].second.rows.at(0).at(0).asText(), U"0.25");
}

TEST(DataFile, InvalidJsonSaysWhere) {
  std::string e = errorOf("{\n  \"variables\": {\n    \"a\": 1,\n  }\n}");
  EXPECT_EQ(e.rfind("data.json: not valid JSON: ", 0), 0u) << e;
  EXPECT_NE(e.find("line 4"), std::string::npos) << e;
  EXPECT_EQ(errorOf("").rfind("data.json: not valid JSON", 0), 0u);
  // The parser would end the text at a NUL and take what stands before it.
  EXPECT_EQ(errorOf(std::string("{}\0{\"x\"", 7)), "data.json: not valid JSON: a NUL character (byte 3)");
}

TEST(DataFile, OneByteBuildTakesOnlyLatin1) {
  EXPECT_EQ(errorOf(R"j({"variables": {"e": "\u20ac"}})j", true),
            "data.json: variables.e: character above U+00FF cannot reach the 8-bit build");
  EXPECT_EQ(errorOf(R"j({"variables": {"e": "caf\u00e9"}})j", true), "<accepted>");
  EXPECT_EQ(errorOf(R"j({"methods": {"\u20ac": "1"}})j", true),
            "data.json: methods.\xE2\x82\xAC: character above U+00FF cannot reach the 8-bit build");
}

// A mail merge's record is of the data file's shape only when its every key
// is one of the data file's and variables and lists hold objects.
TEST(DataFile, ARecordIsFlatUnlessOfTheDataFilesShape) {
  auto shaped = tool::parseRecord(R"j({"variables": {"a": "A"}, "lists": {}})j", "r", false);
  ASSERT_EQ(shaped.variables.size(), 1u);
  EXPECT_EQ(shaped.variables[0].first, U"a");
  auto flat = tool::parseRecord(R"j({"n": 12345678901234567890, "variables": "v", "yes": true})j", "r", false);
  ASSERT_EQ(flat.variables.size(), 3u);
  EXPECT_EQ(flat.variables[0].second, Value::text(U"12345678901234567890"));
  EXPECT_EQ(flat.variables[1], std::make_pair(std::u32string(U"variables"), Value::text(U"v")));
  EXPECT_EQ(flat.variables[2].second, Value::number(1));
  auto refused = [](const std::string& json) {
    try {
      tool::parseRecord(json, "r", false);
    } catch (const DataError& e) {
      return std::string(e.what());
    }
    return std::string("<accepted>");
  };
  EXPECT_EQ(refused(R"j({"name": {"first": "Ann"}})j"), "r: name: expected text, a number, true, false or null");
  EXPECT_EQ(refused(R"j({"variables": {}, "instance": "w"})j"),
            "r: a record of the data file's shape holds variables and lists only");
}

// A record read on demand holds what the full reading gives, or is left to it.
TEST(DataFile, ARecordReadOnDemandHoldsWhatTheFullReadingGives) {
  if (!tool::FlatRecordReader::readsOnDemand()) GTEST_SKIP() << "built without simdjson: no line is read on demand";
  auto full = [](const std::string& json, bool oneByte) {
    std::map<std::u32string, Value> m;
    for (auto& [name, v] : tool::parseRecord(json, "r", oneByte).variables) m[name] = v;
    return m;
  };
  for (bool oneByte : {false, true}) {
    tool::FlatRecordReader reader(oneByte);
    tool::Fields fields;
    for (std::string line : {
             R"j({"a": "x", "n": 9007199254740993, "m": -9223372036854775808, "u": 18446744073709551615})j",
             R"j({"z": -0, "f": -0.0, "g": 1.5e-300, "h": 4e-320, "t": true, "no": false, "e": null, "a": "1", "a": 2})j",
             R"j({"variables": {"caf\u00e9": "\u00e9\"\\", "b": 12345678901234567890}})j",
             R"j({"w": "\u4e2d", "s": "\ud83d\ude00"})j", R"j({})j", R"j({"variables": {}})j",
             R"j({"short": 0.7199250737095519e4})j"}) {
      SCOPED_TRACE(line);
      std::map<std::u32string, Value> expected;
      try {
        expected = full(line, oneByte);
      } catch (const DataError&) {
        EXPECT_FALSE(reader.read(line, fields));
        continue;
      }
      ASSERT_TRUE(reader.read(line, fields));
      std::map<std::u32string, Value> got;
      for (std::size_t i = 0; i < fields.count; ++i) got[fields.all[i].name] = fields.all[i].value;
      EXPECT_EQ(got, expected);
    }
    // Left to the full reading, which says what is wrong.
    for (std::string line : {R"j({"a": "\u0000"})j", R"j({"a": 1e400})j", R"j({"a": 1e-400})j",
                             R"j({"a": 1} {"b": 2})j", R"j({"a": [1]})j", R"j({"a": 1, "variables": {}})j",
                             R"j({"variables": {"a": 1}, "variables": {"b": 2}})j", R"j({"lists": {}})j",
                             R"j({"a": 123456789012345678901234567890})j", R"j({"a": 01})j", R"j([1])j",
                             R"j({"a": 0.7199250737095519551615e4})j"})
      EXPECT_FALSE(reader.read(line, fields)) << line;
  }
}

// Every file of the vendored suite of CSV edge cases (npm package csv-spectrum
// 2.0.0, in tests/tool/data/csv-edge-cases) reads
// as its JSON says.
TEST(Records, CsvEdgeCaseSuiteReadsAsItsJsonSays) {
  namespace fs = std::filesystem;
  fs::path suite = fs::path(MORAVEL_SOURCE_DIR) / "tests/tool/data/csv-edge-cases";
  // The suite's location_coordinates.json disagrees with its own CSV: it gives
  // the phone number "1234567890" where the CSV holds "2095257564". Python's
  // csv module reads the CSV's own number, as the reader must.
  const std::map<std::string, std::pair<std::string, std::string>> corrected = {
      {"location_coordinates", {"Contact Phone Number", "2095257564"}}};
  int files = 0;
  for (const auto& entry : fs::directory_iterator(suite / "csvs")) {
    std::string name = entry.path().stem().string();
    SCOPED_TRACE(name);
    ++files;
    std::ifstream expectedFile(suite / "json" / (name + ".json"));
    nlohmann::json expected = nlohmann::json::parse(expectedFile);
    if (expected.is_object()) expected = nlohmann::json::array({expected});
    if (auto c = corrected.find(name); c != corrected.end())
      for (auto& row : expected) row[c->second.first] = c->second.second;
    nlohmann::json got = nlohmann::json::array();
    tool::RecordReader reader(entry.path().string(), tool::RecordFormat::Csv, false);
    tool::Record r;
    try {
      while (reader.next(r)) {
        nlohmann::json row = nlohmann::json::object();
        for (std::size_t i = 0; i < r.fields.count; ++i)
          row[encodeUtf8(r.fields.all[i].name)] = encodeUtf8(r.fields.all[i].value.asText());
        got.push_back(row);
      }
    } catch (const DataError& e) {
      ADD_FAILURE() << e.what();
    }
    EXPECT_EQ(got, expected);
  }
  EXPECT_EQ(files, 12);
}

TEST(DataFile, UnreadableFile) {
  try {
    tool::loadDataSet("/nonexistent/data.json", false);
    FAIL() << "accepted";
  } catch (const tool::Failure& e) {
    EXPECT_EQ(e.status, tool::kExitUsage);
    EXPECT_EQ(std::string(e.what()), "/nonexistent/data.json: cannot read the data file: No such file or directory");
  }
}

}  // namespace
