// Trimming of tag texts, stripAllLinebreaks, bracketed references and "$cinst.".
#include "fixture.h"

namespace moravel::test {
namespace {

using Trim = PluginTest;
MORAVEL_BOTH_WIDTHS(Trim);

TEST_P(Trim, SurroundingBlanksGoInnerOnesStay)
{
  host->setText(U"lName", U"Ann");
  host->setText(U"a b", U"spaced");
  EXPECT_EQ(expanded(U"<FIELD> \t\r\n lName \r\n\t </FIELD>|<FIELD>  a b </FIELD>|<FIELD> \t\n </FIELD>|"),
            U"Ann|spaced||");
  EXPECT_EQ(host->log().namedValueNames.back(), U"");
}

TEST_P(Trim, StripAllLinebreaksJoinsACalculationOnOneLine)
{
  const std::u32string text = U"<FIELD>EVAL=con('a',\r\n 'b',\n\t'c')</FIELD>";
  EXPECT_EQ(expanded(text, {Arg::number(0), Arg::number(0), Arg::number(1)}), U"abc");
  EXPECT_EQ(host->log().calcTexts.back(), U"con('a', 'b',\t'c')");
  expand(text);
  EXPECT_EQ(host->log().calcTexts.back(), U"con('a',\r\n 'b',\n\t'c')");
}

TEST_P(Trim, BracketedTagsTakeTheirTextFromTheNamedValue)
{
  host->setText(U"lName", U"EVAL=1+2");
  host->setText(U"[missing]", U"literal");
  EXPECT_EQ(expanded(U"<FIELD>[lName]</FIELD>|<FIELD>[missing]</FIELD>"), U"3|literal");
  // The option senseBrackets plays no part; a value is not searched for "$cinst.".
  host->setInstanceName(U"wMain");
  host->setText(U"m", U"METHOD=$cinst.$doIt");
  host->defineMethod(U"$cinst.$doIt", U"'unresolved'");
  host->defineMethod(U"wMain.$doIt", U"'resolved'");
  EXPECT_EQ(expanded(U"<FIELD>[m]</FIELD>"), U"unresolved");
}

TEST_P(Trim, ABracketedNameTooLongForItsBufferIsLeftUnresolved)
{
  std::u32string longName(150, U'n');
  host->setText(longName, U"EVAL=1");
  host->setText(U"[" + longName + U"]", U"as written");
  EXPECT_EQ(expanded(U"<FIELD>[" + longName + U"]</FIELD>"), U"as written");
  std::u32string fits(99, U'f');
  host->setText(fits, U"EVAL=2");
  EXPECT_EQ(expanded(U"<FIELD>[" + fits + U"]</FIELD>"), U"2");
}

TEST_P(Trim, MethodNamesInBracketsAndTheCurrentInstance)
{
  host->setText(U"x", U"$myMethod");
  host->defineMethod(U"$myMethod", U"'mine'");
  host->defineMethod(U"wMain.$doIt", U"'done'");
  host->defineMethod(U"wMain.$tagged", U"'<FIELD>+5</FIELD>'");
  host->setInstanceName(U"wMain");
  EXPECT_EQ(expanded(U"<FIELD>METHOD=[x]</FIELD>|<FIELD>TAGGEDMETHOD=[x]</FIELD>|<FIELD>METHOD=$cinst.$doIt</FIELD>|"
                     U"<FIELD>TAGGEDMETHOD=$cinst.$tagged</FIELD>"),
            U"mine|mine|done|5");
  // The method test of trimming is exact in case: method= is still a method
  // call, but its argument is passed on unchanged.
  host->clearLog();
  expand(U"<FIELD>method=$cinst.$doIt</FIELD>");
  ASSERT_EQ(host->log().procedureNames.size(), 1u);
  EXPECT_EQ(host->log().procedureNames[0], U"$cinst.$doIt");
  // Only the first occurrence is replaced; a long instance name grows the tag buffer.
  host->setInstanceName(std::u32string(90, U'w'));
  host->clearLog();
  expand(U"<FIELD>METHOD=$cinst.$a($cinst.x)</FIELD>");
  EXPECT_EQ(host->log().procedureNames[0], std::u32string(90, U'w') + U".$a($cinst.x)");
  // Without an instance name "$cinst." stays.
  host->setInstanceName(U"");
  host->clearLog();
  expand(U"<FIELD>METHOD=$cinst.$doIt</FIELD>");
  EXPECT_EQ(host->log().procedureNames[0], U"$cinst.$doIt");
}

TEST_P(Trim, CinstAtTheEndOfAFullTagBufferFits)
{
  std::u32string pad(1010, U'p');
  host->setInstanceName(std::u32string(99, U'i'));
  host->clearLog();
  expand(U"<FIELD>METHOD=" + pad + U"$cinst.</FIELD>");
  ASSERT_EQ(host->log().procedureNames.size(), 1u);
  EXPECT_EQ(host->log().procedureNames[0].size(), 254u);  // sent whole, cut by the counted string
}

TEST_P(Trim, AnInstanceNameThatOverfillsTheTagBufferGrowsIt)
{
  std::u32string pad(1000, U'p');
  host->setInstanceName(std::u32string(99, U'i'));
  host->defineMethod(std::u32string(99, U'i') + U".x", U"'never'");
  host->clearLog();
  EXPECT_EQ(info().tagBufSize, bytes(BufferUnits::kTagBuf));
  expand(U"<FIELD>METHOD=$cinst.x" + pad + U"</FIELD>");
  ASSERT_EQ(host->log().procedureNames.size(), 1u);
  EXPECT_EQ(host->log().procedureNames[0], (std::u32string(99, U'i') + U".x" + pad).substr(0, 254));
  EXPECT_EQ(info().tagBufSize, bytes(BufferUnits::kTagBuf + BufferUnits::kChunk)) << "1015 units became 1108";
}

}  // namespace
}  // namespace moravel::test
