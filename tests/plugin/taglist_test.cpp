// GetTagList: one row per tag, raw tag texts, in text order.
#include "fixture.h"

namespace moravel::test {
namespace {

using TagList = PluginTest;
MORAVEL_BOTH_WIDTHS(TagList);

using Rows = std::vector<std::u32string>;

TEST_P(TagList, RowsHoldTheRawTagTextsInOrder)
{
  host->clearLog();
  EXPECT_EQ(tagList(U"no tags"), Rows{});
  EXPECT_EQ(tagList(U""), Rows{});
  EXPECT_EQ(host->log().count(43), 0) << "no list operations without tags";
  EXPECT_EQ(tagList(U"<FIELD>name</FIELD>"), Rows{U"name"});
  EXPECT_EQ(tagList(U"<field> a b </Field>"), Rows{U" a b "});
  EXPECT_EQ(tagList(U"<FIELD></FIELD>"), Rows{U""});
  EXPECT_EQ(tagList(U"<FIELD>a</FIELD>x<FIELD>a</FIELD>"), (Rows{U"a", U"a"}));
  EXPECT_EQ(tagList(U"<FIELD>a<FIELD>b</FIELD>c</FIELD>"), Rows{U"a<FIELD>b"});
  EXPECT_EQ(tagList(U"<FIELD>FILE=x.html</FIELD><FIELD>line\nbreak</FIELD>"), (Rows{U"FILE=x.html", U"line\nbreak"}));
  int code = -1;
  EXPECT_EQ(tagList(U"<FIELD>a</FIELD><FIELD>b</FIEL", &code), Rows{U"a"});
  EXPECT_EQ(code, 0);
}

TEST_P(TagList, LongTagTextsAreCollectedWhole)
{
  std::u32string text(5000, U'x');
  EXPECT_EQ(tagList(U"<FIELD>" + text + U"</FIELD>"), Rows{text});
  EXPECT_EQ(info().tagBufSize, bytes(BufferUnits::kTagBuf + BufferUnits::kChunk));
}

TEST_P(TagList, TheFirstUnitOfALetterTagMustMatchAsStored)
{
  ASSERT_EQ(setTags(U"x{", U"}x"), 0);
  EXPECT_EQ(tagList(U"X{a}x"), Rows{U"a"});
  EXPECT_EQ(tagList(U"X{a}X"), Rows{U"a"});
  EXPECT_EQ(tagList(U"x{a}x"), Rows{});
}

TEST_P(TagList, TheColumnMayBeNamedOrNumbered)
{
  host->setList(U"two", List{{U"first", U"second"}, {}});
  EXPECT_EQ(host->call(kGetTagList, {Arg::text(U"<FIELD>a</FIELD><FIELD>b</FIELD>"), Arg::reference(U"two"),
                                     Arg::number(2)})
                .code(),
            0);
  auto list = *host->list(U"two");
  ASSERT_EQ(list.rows.size(), 2u);
  EXPECT_EQ(list.cell(1, 1), Value::text(U"a"));
  EXPECT_EQ(list.cell(2, 1), Value::text(U"b"));
}

// Without TAGGED directives, the rows are exactly the tag texts the
// expansion dispatched (before trimming).
TEST_P(TagList, RowsAgreeWithWhatAnExpansionLooksUp)
{
  const std::u32string text = U"a<FIELD>one</FIELD>b<field>two</FIELD><<FIELD>three</FIELD><FIELD>x";
  Rows rows = tagList(text);
  host->clearLog();
  expand(text);
  EXPECT_EQ(rows, host->log().namedValueNames);
}

}  // namespace
}  // namespace moravel::test
