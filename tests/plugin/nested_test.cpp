// Calls made from inside a call: each hands the outer call back its buffers, sizes, options and handle.
#include "fixture.h"

namespace moravel::test {
namespace {

using Nested = PluginTest;
MORAVEL_BOTH_WIDTHS(Nested);

TEST_P(Nested, TheOuterCallKeepsItsOwnOptions)
{
  host->setNumber(U"n", 4);
  host->setText(U"br", U"[1+1]");
  host->setText(U"innerOut", U"");
  host->defineMethod(U"$inner", U"Moravel.DoSubstitutions('<FIELD>n*2</FIELD>', innerOut, 0, 1, 1, 1)");
  const std::u32string outer =
      U"<FIELD>METHOD=$inner</FIELD>|<FIELD>n*10</FIELD>|<FIELD>FIELD=br</FIELD>|<FIELD>EVAL=con('a',\n'b')</FIELD>";
  EXPECT_EQ(expanded(outer), U"0||[1+1]|ab");
  EXPECT_EQ(host->text(U"innerOut"), U"8") << "the inner call ran with forceEval";
  EXPECT_EQ(host->log().calcTexts.back(), U"con('a',\n'b')") << "line breaks are the outer call's to keep";
  EXPECT_EQ(host->log().maxDepth, 2);

  // And the other way round: an outer call with the options, an inner one without.
  host->defineMethod(U"$plain", U"Moravel.DoSubstitutions('<FIELD>n*2</FIELD>', innerOut)");
  EXPECT_EQ(expanded(U"<FIELD>METHOD=$plain</FIELD>|<FIELD>n*10</FIELD>|<FIELD>FIELD=br</FIELD>",
                     {Arg::number(0), Arg::number(1), Arg::number(1), Arg::number(1)}),
            U"0|40|[1+1]");
  EXPECT_EQ(host->text(U"innerOut"), U"");
}

TEST_P(Nested, RequestsAfterTheInnerCallReachTheOuterHandle)
{
  host->setText(U"innerOut", U"");
  host->setText(U"x", U"X");
  host->defineMethod(U"$inner", U"Moravel.DoSubstitutions('<FIELD>x</FIELD>', innerOut)");
  host->clearLog();
  EXPECT_EQ(expanded(U"<FIELD>METHOD=$inner</FIELD><FIELD>x</FIELD><FIELD>+1</FIELD>"), U"0X1");
  EXPECT_EQ(host->log().staleHandles, 0);
  EXPECT_EQ(host->log().maxDepth, 2);
  EXPECT_EQ(host->text(U"innerOut"), U"X");
}

TEST_P(Nested, AnInnerCallThatGrowsItsBuffersLeavesTheOuterOnesIntact)
{
  const std::u32string big(100000, U'b');
  host->setText(U"bigText", big);
  host->setText(U"innerOut", U"");
  host->setText(U"x", U"X");
  host->defineMethod(U"$grow", std::vector<std::u32string>{
                                   U"Moravel.DoSubstitutions(con(bigText, '<FIELD>+1</FIELD>'), innerOut, 2)",
                                   U"'<FIELD>x</FIELD>'"});
  std::u32string tail(50000, U't');
  RecordInfo before = info();
  EXPECT_EQ(expanded(U"\u00e9<FIELD>TAGGEDMETHOD=$grow</FIELD>" + tail, {Arg::number(2)}), U"&#233;X" + tail);
  EXPECT_EQ(host->text(U"innerOut"), big + U"1");
  RecordInfo after = info();
  EXPECT_EQ(after.callBuffers, 0);
  EXPECT_GE(after.bufferSize, before.bufferSize);
  EXPECT_EQ(host->log().staleHandles, 0);
  // Setup calls made from inside a call act on the library's shared settings.
  host->defineMethod(U"$retag", U"Moravel.SetTags('{', '}')");
  EXPECT_EQ(expanded(U"<FIELD>METHOD=$retag</FIELD> {x} <FIELD>x</FIELD>"), U"0 X <FIELD>x</FIELD>");
}

}  // namespace
}  // namespace moravel::test
