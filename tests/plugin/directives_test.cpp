// What each kind of tag produces: fields, the keyword map, calculations, methods and splices.
#include "fixture.h"

namespace moravel::test {
namespace {

using Directives = PluginTest;
MORAVEL_BOTH_WIDTHS(Directives);

TEST_P(Directives, KeywordsIgnoreTheCaseOfTheTagText)
{
  host->setText(U"lName", U"Ann");
  EXPECT_EQ(expanded(U"<FIELD>eval=1+2</FIELD> <FIELD>+1+2</FIELD> <FIELD>Eval=len('abc')</FIELD>"), U"3 3 3");
  EXPECT_EQ(expanded(U"<FIELD>field=lName</FIELD>/<FIELD>lName</FIELD>"), U"Ann/Ann");
  // The argument starts right after "=": a blank there is part of the name.
  EXPECT_EQ(expanded(U"<FIELD>FIELD= lName</FIELD>"), U"");
  EXPECT_EQ(host->log().namedValueNames.back(), U" lName");
}

TEST_P(Directives, FieldNamesThatOnlyLookLikeKeywords)
{
  host->setText(U"FIELDS", U"plural");
  host->setText(U"", U"");
  EXPECT_EQ(expanded(U"<FIELD>FIELDS</FIELD>|<FIELD>FIELD=</FIELD>|<FIELD>unknown</FIELD>|"), U"plural|||");
}

TEST_P(Directives, TheFirstMatchingKeywordOfTheMapWins)
{
  host->setText(U"lFirst", U"first");
  host->setText(U"lSecond", U"second");
  host->setText(U"EVAL=9", U"a field, not a calculation");
  ASSERT_EQ(mapKeywords({{U"NAME", U"lFirst"}, {U"NAMEFIRST", U"lSecond"}, {U"calc", U"EVAL=9"}}), 0);
  EXPECT_EQ(expanded(U"<FIELD>NAMEFIRST</FIELD>,<FIELD>name</FIELD>,<FIELD>Calc</FIELD>"),
            U"first,first,a field, not a calculation");
  // Directives come before the map.
  ASSERT_EQ(mapKeywords({{U"EVAL", U"lFirst"}}), 0);
  EXPECT_EQ(expanded(U"<FIELD>EVAL=2*3</FIELD>|<FIELD>EVALUATE</FIELD>"), U"6|first");
}

TEST_P(Directives, ForceEvalEvaluatesFieldsAsCalculations)
{
  host->setNumber(U"n", 4);
  ASSERT_EQ(mapKeywords({{U"TWICE", U"n*2"}}), 0);
  std::vector<Arg> force{Arg::number(0), Arg::number(1)};
  EXPECT_EQ(expanded(U"<FIELD>n*10</FIELD>|<FIELD>FIELD=n+1</FIELD>|<FIELD>twice</FIELD>", force), U"40|5|8");
  EXPECT_EQ(expanded(U"<FIELD>n*10</FIELD>|<FIELD>FIELD=n</FIELD>|<FIELD>twice</FIELD>"), U"|4|");
}

TEST_P(Directives, SenseBracketsEvaluatesBracketedFieldValuesOnly)
{
  host->setText(U"calc", U"[con('a','b')]");
  host->setText(U"half", U"[1+1");
  ASSERT_EQ(mapKeywords({{U"C", U"calc"}}), 0);
  std::vector<Arg> sense{Arg::number(0), Arg::number(0), Arg::number(0), Arg::number(1)};
  EXPECT_EQ(expanded(U"<FIELD>FIELD=calc</FIELD>|<FIELD>FIELD=half</FIELD>|<FIELD>C</FIELD>", sense),
            U"ab|[1+1|[con('a','b')]");
  EXPECT_EQ(expanded(U"<FIELD>FIELD=calc</FIELD>"), U"[con('a','b')]");
}

TEST_P(Directives, TaggedFieldsAreExpandedAgainPlainFieldsAreNot)
{
  host->setText(U"lGreeting", U"Hello <FIELD>lName</FIELD>");
  host->setText(U"lName", U"Ann");
  EXPECT_EQ(expanded(U"<FIELD>TAGGEDFIELD=lGreeting</FIELD>!"), U"Hello Ann!");
  EXPECT_EQ(expanded(U"<FIELD>FIELD=lGreeting</FIELD>!"), U"Hello <FIELD>lName</FIELD>!");
  host->setText(U"open", U"x <FIELD>lName");
  EXPECT_EQ(expanded(U"<FIELD>TAGGEDFIELD=open</FIELD> tail"), U"x <FIELD>lName tail");
  EXPECT_EQ(expanded(U"<FIELD>TAGGEDFIELD=nothing</FIELD>|"), U"|");
  std::vector<Arg> force{Arg::number(0), Arg::number(1)};
  EXPECT_EQ(expanded(U"<FIELD>TAGGEDFIELD=con('<FIE','LD>lName</FI','ELD>')</FIELD>.", force), U"Ann.");
}

TEST_P(Directives, ValuesLongerThanTheValueBufferAreNeverCut)
{
  std::u32string big(300000, U'b');
  host->setText(U"big", big);
  host->setText(U"small", U"s");
  ASSERT_EQ(mapKeywords({{U"LONG", U"big"}}), 0);
  EXPECT_EQ(expanded(U"<FIELD>TAGGEDFIELD=big</FIELD>"), big);
  std::size_t asked = host->log().namedValueNames.size();
  EXPECT_EQ(expanded(U"<FIELD>small</FIELD>"), U"s");
  EXPECT_EQ(host->log().namedValueNames.size(), asked + 1) << "one request for a value that fits";
  EXPECT_EQ(info().subBufSize, bytes(BufferUnits::kSubBuf));
  EXPECT_EQ(expanded(U"<FIELD>FIELD=big</FIELD>|<FIELD>big</FIELD>|<FIELD>long</FIELD>"),
            big + U"|" + big + U"|" + big);
  EXPECT_EQ(info().subBufSize, bytes(300000)) << "the grown value buffer stays";
}

TEST_P(Directives, MethodsLeaveTheirReturnValue)
{
  host->defineMethod(U"$greet", std::vector<std::u32string>{U"con('Hi ', 'there')"});
  host->defineMethod(U"$tagged", U"con('<FIELD>', '+6*7', '</FIELD>')");
  host->setText(U"#S1", U"kept");
  EXPECT_EQ(expanded(U"<FIELD>METHOD=$greet</FIELD>|<FIELD>TAGGEDMETHOD=$tagged</FIELD>|"
                     U"<FIELD>METHOD=$tagged</FIELD>"),
            U"Hi there|42|<FIELD>+6*7</FIELD>");
  // An unknown method leaves "#S1" as it was: the value of the previous tag.
  EXPECT_EQ(expanded(U"<FIELD>+1</FIELD><FIELD>METHOD=$none</FIELD>"), U"11");
  EXPECT_EQ(host->text(U"#S1"), U"kept");
}

TEST_P(Directives, NestingOfSplicedValues)
{
  // Legitimate nesting 150 levels deep expands.
  for (int i = 0; i < 150; i++)
    host->setText(U"v" + formatNumberU(i), U"(<FIELD>TAGGEDFIELD=v" + formatNumberU(i + 1) + U"</FIELD>)");
  host->setText(U"v150", U"core");
  EXPECT_EQ(expanded(U"<FIELD>TAGGEDFIELD=v0</FIELD>"),
            std::u32string(150, U'(') + U"core" + std::u32string(150, U')'));
  // Values side by side do not count as nested, however many there are.
  host->setText(U"leaf", U"<FIELD>+1</FIELD>");
  std::u32string flat;
  for (int i = 0; i < 2000; i++) flat += U"<FIELD>TAGGEDFIELD=leaf</FIELD>";
  EXPECT_EQ(expanded(flat), std::u32string(2000, U'1'));
}

TEST_P(Directives, AValueThatLeadsBackToItselfEndsTheCall)
{
  host->setText(U"#S1", U"saved");
  host->setText(U"self", U"<FIELD>TAGGEDFIELD=self</FIELD>");
  host->setText(U"a", U"x<FIELD>TAGGEDFIELD=b</FIELD>");
  host->setText(U"b", U"<FIELD>TAGGEDFIELD=a</FIELD>y");
  host->setText(U"two", U"<FIELD>TAGGEDFIELD=two</FIELD><FIELD>TAGGEDFIELD=two</FIELD>");
  host->defineMethod(U"$loop", U"'<FIELD>TAGGEDMETHOD=$loop</FIELD>'");
  for (const char32_t* name : {U"self", U"a", U"two"}) {
    host->setText(U"out", U"before");
    EXPECT_EQ(expand(U"start <FIELD>TAGGEDFIELD=" + std::u32string(name) + U"</FIELD>"), 2) << u8(name);
    EXPECT_EQ(out(), U"");
    EXPECT_EQ(host->text(U"#S1"), U"saved");
  }
  EXPECT_EQ(expand(U"<FIELD>TAGGEDMETHOD=$loop</FIELD>"), 2);
  EXPECT_EQ(expanded(U"after <FIELD>+1</FIELD>"), U"after 1");
}

}  // namespace
}  // namespace moravel::test
