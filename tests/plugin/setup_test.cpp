// SetTags, SetFilesDirectory and MapKeywordsToFields.
#include "fixture.h"

namespace moravel::test {
namespace {

using SetupFunctions = PluginTest;
MORAVEL_BOTH_WIDTHS(SetupFunctions);

TEST_P(SetupFunctions, SetTagsStoresCapitalsAndTheirLengths)
{
  host->setText(U"x", U"X");
  ASSERT_EQ(setTags(U"<f>", U"</f>"), 0);
  EXPECT_EQ(info().openTagSize, 3);
  EXPECT_EQ(info().closeTagSize, 4);
  EXPECT_EQ(expanded(U"<F>x</f> <f>x</F> <FIELD>x</FIELD>"), U"X X <FIELD>x</FIELD>");
  if (unicode()) {
    // Only a to z change case.
    ASSERT_EQ(setTags(U"\u00e9{", U"}"), 0);
    EXPECT_EQ(expanded(U"\u00e9{x} \u00c9{x}"), U"X \u00c9{x}");
  }
}

TEST_P(SetupFunctions, SetTagsKeepsTheFirstCharactersOfALongTag)
{
  std::u32string open(kMaxTagUnits + 45, U'[');
  ASSERT_EQ(setTags(open, U"]"), 0);
  EXPECT_EQ(info().openTagSize, static_cast<long>(kMaxTagUnits));
  host->setText(U"x", U"X");
  EXPECT_EQ(expanded(std::u32string(kMaxTagUnits, U'[') + U"x]"), U"X");
}

TEST_P(SetupFunctions, AnEmptyTagDisablesExpansionUntilTagsAreSetAgain)
{
  EXPECT_EQ(setTags(U"", U"</x>"), 3);
  EXPECT_EQ(info().openTagSize, 0);
  EXPECT_EQ(expand(U"text"), 3);
  int code = 0;
  tagList(U"text", &code);
  EXPECT_EQ(code, 3);
  EXPECT_EQ(setTags(U"<x>", U""), 3);
  EXPECT_EQ(host->call(kSetTags, {Arg::text(U"<x>")}).code(), 3);
  EXPECT_EQ(host->call(kSetFilesDirectory, {Arg::text(U"/tmp/")}).code(), 0) << "works without tags";
  EXPECT_EQ(setTags(U"<x>", U"</x>"), 0);
  EXPECT_EQ(expanded(U"text"), U"text");
}

TEST_P(SetupFunctions, SetFilesDirectoryAcceptsAnyText)
{
  EXPECT_EQ(host->call(kSetFilesDirectory, {Arg::text(U"")}).code(), 0);
  EXPECT_EQ(host->call(kSetFilesDirectory, {}).code(), 3);
  EXPECT_EQ(host->call(kSetFilesDirectory, {Arg::text(std::u32string(2000, U'd'))}).code(), 0);
}

TEST_P(SetupFunctions, MappingRowsFitTheDefaultTableUpTo19)
{
  std::vector<std::vector<std::u32string>> rows;
  for (int i = 0; i < 19; i++) rows.push_back({U"K" + formatNumberU(i) + U"X", U"f" + formatNumberU(i)});
  ASSERT_EQ(mapKeywords(rows), 0);
  EXPECT_EQ(info().kwdBufSize, bytes(BufferUnits::kKwdBuf));
  EXPECT_EQ(info().mappingCount, 19);
  rows.push_back({U"K19X", U"f19"});
  ASSERT_EQ(mapKeywords(rows), 0);
  EXPECT_EQ(info().kwdBufSize, unicode() ? 51200 : 20480);
  EXPECT_EQ(info().mappingCount, 20);
  host->setText(U"f19", U"nineteen");
  EXPECT_EQ(expanded(U"<FIELD>k19x</FIELD>"), U"nineteen");
}

TEST_P(SetupFunctions, ABadMappingListLeavesNoMapping)
{
  host->setText(U"f", U"mapped");
  ASSERT_EQ(mapKeywords({{U"K", U"f"}}), 0);
  EXPECT_EQ(mapKeywords({{U"A", U"f"}, {U"B", U""}, {U"C", U"f"}}), 3);
  EXPECT_EQ(info().mappingCount, 0);
  EXPECT_EQ(expanded(U"<FIELD>K</FIELD>"), U"");
  EXPECT_EQ(mapKeywords({{U"", U"f"}}), 3);
  EXPECT_EQ(mapKeywords({{U"K"}}, {U"keyword"}), 3) << "one column";
  EXPECT_EQ(mapKeywords({}), 3) << "no lines";
  ASSERT_EQ(mapKeywords({{U"K", U"f"}}), 0);
  EXPECT_EQ(host->call(kMapKeywordsToFields, {}).code(), 3);
  EXPECT_EQ(info().mappingCount, 1) << "without a parameter the mapping stays";
  EXPECT_EQ(host->log().outstanding(), 2) << "only the references of \"#LN\" and \"#S1\" are held";
}

TEST_P(SetupFunctions, ALineCountBeyondSixteenBitsIsRefused)
{
  List big{{U"keyword", U"field"}, {}};
  big.rows.assign(40000, {Value::text(U"K"), Value::text(U"f")});
  host->setList(U"big", big);
  EXPECT_EQ(host->call(kMapKeywordsToFields, {Arg::reference(U"big")}).code(), 3);
  EXPECT_EQ(info().mappingCount, 0);
  big.rows.resize(32767);
  host->setList(U"big", big);
  EXPECT_EQ(host->call(kMapKeywordsToFields, {Arg::reference(U"big")}).code(), 0);
  EXPECT_EQ(info().mappingCount, 32767);
}

TEST_P(SetupFunctions, KeywordsIgnoreTheCaseOfAtoZOnly)
{
  host->setText(U"f1", U"one");
  host->setText(U"f2", U"two");
  ASSERT_EQ(mapKeywords({{U"name", U"f1"}, {U"NAME", U"f2"}}), 0);
  EXPECT_EQ(expanded(U"<FIELD>Name</FIELD>"), U"one");
  if (unicode()) {
    ASSERT_EQ(mapKeywords({{U"\u00e9t\u00e9", U"f1"}}), 0);
    EXPECT_EQ(expanded(U"<FIELD>\u00e9T\u00e9</FIELD>|<FIELD>\u00c9T\u00c9</FIELD>"), U"one|");
  }
}

TEST_P(SetupFunctions, ListsWithManyColumnsAndListsPassedByValue)
{
  List wide;
  for (int i = 0; i < 30; i++) wide.columns.push_back(U"c" + formatNumberU(i));
  wide.rows.push_back(std::vector<Value>(30, Value::text(U"v")));
  host->setList(U"wide", wide);
  host->clearLog();
  EXPECT_EQ(host->call(kMapKeywordsToFields, {Arg::reference(U"wide")}).code(), 0);
  int columnRefs = 0;
  for (auto& name : host->log().fieldRefNames) columnRefs += name.starts_with(U"c");
  EXPECT_EQ(columnRefs, 24) << "at most 24 columns are looked up";
  EXPECT_EQ(host->log().outstanding(), 2) << "column references are released";

  List byValue{{U"keyword", U"field"}, {{Value::text(U"K"), Value::text(U"f")}}};
  host->setText(U"f", U"from a value");
  EXPECT_EQ(host->call(kMapKeywordsToFields, {Arg(byValue)}).code(), 0);
  EXPECT_EQ(expanded(U"<FIELD>K</FIELD>"), U"from a value");
}

}  // namespace
}  // namespace moravel::test
