// The scanner: plain text, the matching rule for tags, unclosed tags and "#S1".
#include "fixture.h"

namespace moravel::test {
namespace {

using Scanner = PluginTest;
MORAVEL_BOTH_WIDTHS(Scanner);

TEST_P(Scanner, PlainTextAndEmptyTextPassUnchanged)
{
  EXPECT_EQ(expanded(U"no tags here\r\n\tat all"), U"no tags here\r\n\tat all");
  EXPECT_EQ(expanded(U""), U"");
  EXPECT_EQ(expanded(U"lone </FIELD> close"), U"lone </FIELD> close");
}

TEST_P(Scanner, TagsMatchInAnyCaseButTheFirstUnitAsStored)
{
  host->setText(U"X", U"[x]");
  EXPECT_EQ(expanded(U"<field>X</Field>"), U"[x]");
  ASSERT_EQ(setTags(U"field:", U";"), 0);
  EXPECT_EQ(expanded(U"a Field:X; b"), U"a [x] b");
  EXPECT_EQ(expanded(U"a FIELD:X; b"), U"a [x] b");
  EXPECT_EQ(expanded(U"a field:X; b"), U"a field:X; b");
}

TEST_P(Scanner, UnclosedTagsAndTheirRestAreCopiedUnchanged)
{
  host->setText(U"x", U"X");
  EXPECT_EQ(expand(U"abc<FIELD>def"), 0);
  EXPECT_EQ(out(), U"abc<FIELD>def");
  EXPECT_EQ(expanded(U"abc<FIE"), U"abc<FIE");
  EXPECT_EQ(expanded(U"<FIELD>x</FIELD>-<FIELD>x</FIEL"), U"X-<FIELD>x</FIEL");
}

TEST_P(Scanner, TagsDoNotNestAndCandidatesOverlap)
{
  host->setText(U"a<FIELD>b", U"first");
  host->setText(U"X", U"x");
  EXPECT_EQ(expanded(U"<FIELD>a<FIELD>b</FIELD>c</FIELD>"), U"firstc</FIELD>");
  EXPECT_EQ(expanded(U"<<FIELD>X</FIELD>"), U"<x");
  EXPECT_EQ(expanded(U"<FI<FIELD>X</FIELD>"), U"<FIx");
  EXPECT_EQ(expanded(U"<FIELD>X<</FIELD>"), U"");  // tag text "X<" names no variable
}

TEST_P(Scanner, LongTagTextsAndLongOutputsAreDeliveredWhole)
{
  std::u32string name(3000, U'n');
  host->setText(name, U"found");
  EXPECT_EQ(expanded(U"<FIELD>" + name + U"</FIELD>"), U"");  // names reach the host cut to 254
  host->setText(name.substr(0, 254), U"cut");
  EXPECT_EQ(expanded(U"<FIELD>" + name + U"</FIELD>"), U"cut");
  EXPECT_EQ(info().tagBufSize, bytes(BufferUnits::kTagBuf + BufferUnits::kChunk)) << "the tag buffer keeps its growth";

  host->setText(U"v", std::u32string(1000, U'v'));
  std::u32string text, want;
  for (int i = 0; i < 100; i++) {
    text += U"<FIELD>v</FIELD>.";
    want += std::u32string(1000, U'v') + U".";
  }
  EXPECT_EQ(expanded(text), want);
  EXPECT_EQ(info().bufOutSize, bytes(BufferUnits::kBufOut + 2 * BufferUnits::kChunk));
}

// The output's capacity after plain text is what appending it one unit at a
// time, growing by a chunk whenever the buffer is full, would leave.
TEST_P(Scanner, PlainTextLeavesTheCapacityOfOneUnitAppends)
{
  EXPECT_EQ(expanded(std::u32string(65535, U'a')).size(), 65535u);
  EXPECT_EQ(info().bufOutSize, bytes(BufferUnits::kBufOut));
  EXPECT_EQ(expanded(std::u32string(65536, U'a')).size(), 65536u);
  EXPECT_EQ(info().bufOutSize, bytes(BufferUnits::kBufOut + BufferUnits::kChunk));
  EXPECT_EQ(expanded(std::u32string(200000, U'a')).size(), 200000u);
  EXPECT_EQ(info().bufOutSize, bytes(BufferUnits::kBufOut + 5 * BufferUnits::kChunk));
}

TEST_P(Scanner, S1IsRestoredAfterEveryCall)
{
  host->setText(U"#S1", U"application value");
  host->setText(U"x", U"X");
  EXPECT_EQ(expanded(U"<FIELD>+1+2</FIELD><FIELD>EVAL=con('a','b')</FIELD>"), U"3ab");
  EXPECT_EQ(host->text(U"#S1"), U"application value");
  EXPECT_EQ(expand(U"<FIELD>FILE=/no/such/file</FIELD>"), 4);
  EXPECT_EQ(host->text(U"#S1"), U"application value");
  EXPECT_EQ(out(), U"") << "a failed call delivers nothing";
}

TEST_P(Scanner, AFailedCalculationLeavesWhatS1Held)
{
  host->setText(U"#S1", U"before");
  EXPECT_EQ(expanded(U"<FIELD>+1+</FIELD>|<FIELD>+2</FIELD>|<FIELD>+)</FIELD>"), U"before|2|2");
  EXPECT_EQ(host->text(U"#S1"), U"before");
}

}  // namespace
}  // namespace moravel::test
