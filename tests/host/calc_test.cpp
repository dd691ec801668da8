// Tests of the calculation language and the number/text conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "moravel/calc.h"
#include "moravel/text.h"

using namespace moravel;

namespace {

// Variables from a map; plug-in calls are recorded and answered with a
// fixed value.
class MapContext : public calc::Context {
 public:
  std::map<std::u32string, Value, std::less<>> vars;
  std::map<std::u32string, List, std::less<>> lists;
  struct Call {
    int packageId;
    std::vector<calc::PluginArg> args;
  };
  std::vector<Call> calls;
  std::optional<Value> pluginAnswer = Value::number(0);

  std::optional<Value> variable(std::u32string_view name) override {
    auto it = vars.find(name);
    if (it == vars.end()) return std::nullopt;
    return it->second;
  }
  bool hasVariable(std::u32string_view name) override {
    return vars.find(name) != vars.end() || lists.find(name) != lists.end();
  }
  std::optional<Value> callPlugin(int packageId, std::vector<calc::PluginArg> args) override {
    calls.push_back({packageId, std::move(args)});
    return pluginAnswer;
  }
};

class CalcTest : public ::testing::Test {
 protected:
  MapContext ctx;

  // The result as text; "<error>" when the calculation produced nothing.
  std::string eval(std::string_view src) {
    calc::Outcome o = calc::run(u32(src), ctx);
    return o.ok ? u8(o.value.asText()) : "<error>";
  }
  Value value(std::string_view src) {
    calc::Outcome o = calc::run(u32(src), ctx);
    EXPECT_TRUE(o.ok) << src << ": " << o.error;
    return o.value;
  }
};

TEST_F(CalcTest, ArithmeticFollowsUsualPrecedence) {
  EXPECT_EQ(eval("1+2*3"), "7");
  EXPECT_EQ(eval("(1+2)*3"), "9");
  EXPECT_EQ(eval("10-4-3"), "3");  // left to right
  EXPECT_EQ(eval("24/4/2"), "3");
  EXPECT_EQ(eval("-2*-3"), "6");
  EXPECT_EQ(eval("- (1 + 1)"), "-2");
  EXPECT_EQ(eval("1+2=3"), "1");  // comparison binds loosest
  EXPECT_EQ(eval(" 7 / 2 "), "3.5");
}

TEST_F(CalcTest, ResultsOfArithmeticAreNumbers) {
  EXPECT_TRUE(value("1+1").isNumber());
  EXPECT_TRUE(value("'a'").isText());
  EXPECT_TRUE(value("len('abc')").isNumber());
}

TEST_F(CalcTest, NumberTextIsShortestRoundTrip) {
  EXPECT_EQ(eval("3"), "3");
  EXPECT_EQ(eval("2.5"), "2.5");
  EXPECT_EQ(eval("-0.25"), "-0.25");
  EXPECT_EQ(eval("0.1+0.2"), "0.30000000000000004");
  EXPECT_EQ(eval("1/3"), "0.3333333333333333");
  EXPECT_EQ(eval("3.0"), "3");
  EXPECT_EQ(eval("1e3"), "1000");
  EXPECT_EQ(eval(".5"), "0.5");
  EXPECT_EQ(eval("0-0"), "0");
  EXPECT_EQ(formatNumber(-0.0), "0");
  for (double d : {0.1, 123456.789, -1e-7, 1e21, 5e-324})
    EXPECT_EQ(*parseNumber(formatNumberU(d)), d) << formatNumber(d);
}

TEST_F(CalcTest, StringsInEitherQuote) {
  EXPECT_EQ(eval("'single'"), "single");
  EXPECT_EQ(eval("\"double\""), "double");
  EXPECT_EQ(eval("'has \"double\" inside'"), "has \"double\" inside");
  EXPECT_EQ(eval("\"it's\""), "it's");
  EXPECT_EQ(eval("''"), "");
  EXPECT_EQ(eval("'caf\xC3\xA9'"), "caf\xC3\xA9");
}

TEST_F(CalcTest, PlusAddsNumbersAndNumericTextsOnly) {
  EXPECT_EQ(eval("'3'+4"), "7");
  EXPECT_EQ(eval("' 2.5'+'1'"), "3.5");
  EXPECT_EQ(eval("'a'+'b'"), "<error>");
  EXPECT_EQ(eval("'a'+1"), "<error>");
  EXPECT_EQ(eval("''+1"), "<error>");
  EXPECT_EQ(eval("'x'*2"), "<error>");
  EXPECT_EQ(eval("-'x'"), "<error>");
  EXPECT_EQ(eval("1/0"), "<error>");
}

TEST_F(CalcTest, ComparisonsGiveOneOrZero) {
  EXPECT_EQ(eval("2=2"), "1");
  EXPECT_EQ(eval("2<>2"), "0");
  EXPECT_EQ(eval("1<2"), "1");
  EXPECT_EQ(eval("2>1"), "1");
  EXPECT_EQ(eval("2<=2"), "1");
  EXPECT_EQ(eval("3>=4"), "0");
  EXPECT_EQ(eval("'10'=10"), "1");    // numeric when both sides are numeric
  EXPECT_EQ(eval("'10'>'9'"), "1");   // numeric texts compare as numbers
  EXPECT_EQ(eval("'abc'<'abd'"), "1");  // otherwise by code point
  EXPECT_EQ(eval("'B'<'a'"), "1");
  EXPECT_EQ(eval("'a'='A'"), "0");
  EXPECT_EQ(eval("''=0"), "0");
}

TEST_F(CalcTest, TextFunctions) {
  EXPECT_EQ(eval("con('a', 1, 'b', 2.5)"), "a1b2.5");
  EXPECT_EQ(eval("con()"), "");
  EXPECT_EQ(eval("upp('abc xyz 1')"), "ABC XYZ 1");
  EXPECT_EQ(eval("low('ABC Xyz')"), "abc xyz");
  EXPECT_EQ(eval("upp('\xC3\xA9')"), "\xC3\x89");  // Latin-1 letters too
  EXPECT_EQ(eval("len('hello')"), "5");
  EXPECT_EQ(eval("len('')"), "0");
  EXPECT_EQ(eval("len(12.5)"), "4");
  EXPECT_EQ(eval("mid('abcdef', 2, 3)"), "bcd");
  EXPECT_EQ(eval("mid('abcdef', 4)"), "def");
  EXPECT_EQ(eval("mid('abcdef', 0, 2)"), "ab");
  EXPECT_EQ(eval("mid('abcdef', 5, 10)"), "ef");
  EXPECT_EQ(eval("mid('abc', 7, 1)"), "");
  EXPECT_EQ(eval("mid('abc', 2, -1)"), "");
  EXPECT_EQ(eval("mid('abc', 'x', 1)"), "<error>");
  EXPECT_EQ(eval("CON('a','b')"), "ab");  // function names ignore case
  EXPECT_EQ(eval("con(upp(mid('hello',1,1)), mid('hello',2))"), "Hello");
}

TEST_F(CalcTest, VariablesAreLookedUpExactly) {
  ctx.vars[U"lName"] = Value::text(U"Ann");
  ctx.vars[U"#S1"] = Value::text(U"scratch");
  ctx.vars[U"row.col_1$x"] = Value::number(4);
  ctx.vars[U"n"] = Value::text(U"5");
  EXPECT_EQ(eval("lName"), "Ann");
  EXPECT_EQ(eval("lname"), "<error>");
  EXPECT_EQ(eval("#S1"), "scratch");
  EXPECT_EQ(eval("row.col_1$x*2"), "8");
  EXPECT_EQ(eval("n+1"), "6");
  EXPECT_EQ(eval("con(lName, ' ', n)"), "Ann 5");
  EXPECT_EQ(eval("missing"), "<error>");
  ctx.lists[U"aList"] = List{};
  EXPECT_EQ(eval("aList"), "<error>");
}

TEST_F(CalcTest, ParseFailures) {
  for (const char* bad : {"", "1+", "(1", "1)", "'open", "1 2", "con(1,", "con(1 2)", "nosuch(1)",
                          "upp()", "upp(1,2)", "mid('a')", "2e", "3x", "1 +* 2", "@", "a b",
                          "Moravel.NoSuch()", "=1"}) {
    calc::Outcome o = calc::run(u32(bad), ctx);
    EXPECT_FALSE(o.ok) << "'" << bad << "' parsed";
    EXPECT_FALSE(o.error.empty());
  }
}

TEST_F(CalcTest, ParseFailureHasNoSideEffects) {
  ctx.vars[U"t"] = Value::text(U"x");
  calc::Outcome o = calc::run(U"Moravel.Version() +", ctx);
  EXPECT_FALSE(o.ok);
  EXPECT_TRUE(ctx.calls.empty());
}

TEST_F(CalcTest, PluginCallsPassBareVariablesByReference) {
  ctx.vars[U"templ"] = Value::text(U"<FIELD>x</FIELD>");
  ctx.vars[U"out"] = Value::text(U"");
  ctx.pluginAnswer = Value::number(0);
  EXPECT_EQ(eval("Moravel.DoSubstitutions(templ, out, 1+1, con('a'))"), "0");
  ASSERT_EQ(ctx.calls.size(), 1u);
  EXPECT_EQ(ctx.calls[0].packageId, 3);
  const auto& a = ctx.calls[0].args;
  ASSERT_EQ(a.size(), 4u);
  EXPECT_TRUE(a[0].byReference);
  EXPECT_EQ(a[0].variable, U"templ");
  EXPECT_TRUE(a[1].byReference);
  EXPECT_EQ(a[1].variable, U"out");
  EXPECT_FALSE(a[2].byReference);
  EXPECT_EQ(a[2].value, Value::number(2));
  EXPECT_FALSE(a[3].byReference);
  EXPECT_EQ(a[3].value, Value::text(U"a"));
  // A variable in brackets is an expression: passed by value.
  ctx.calls.clear();
  eval("Moravel.SetTags((templ), '}')");
  ASSERT_EQ(ctx.calls.size(), 1u);
  EXPECT_FALSE(ctx.calls[0].args[0].byReference);
  EXPECT_EQ(ctx.calls[0].args[0].value.asText(), U"<FIELD>x</FIELD>");
}

TEST_F(CalcTest, PluginCallNamesAndFailures) {
  ctx.pluginAnswer = Value::text(U"1.5");
  EXPECT_EQ(eval("con('v', Moravel.Version())"), "v1.5");
  EXPECT_EQ(ctx.calls.back().packageId, 1);
  EXPECT_EQ(calc::packageIdOf(U"GetTagList"), 2);
  EXPECT_EQ(calc::packageIdOf(U"mapkeywordstofields"), 4);
  EXPECT_EQ(calc::packageIdOf(U"SetFilesDirectory"), 5);
  EXPECT_EQ(calc::packageIdOf(U"SetTags"), 6);
  EXPECT_EQ(calc::packageIdOf(U"Other"), 0);
  EXPECT_EQ(eval("Moravel.SetTags(undefinedVar, 'x')"), "<error>");
  ctx.pluginAnswer.reset();
  EXPECT_EQ(eval("Moravel.Version()"), "<error>");
}

TEST(TextTest, Utf8DecodingKeepsInvalidBytes) {
  std::size_t bad = 0;
  EXPECT_EQ(decodeUtf8("caf\xC3\xA9", &bad), U"caf\u00E9");
  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(decodeUtf8("a\xE9z", &bad), U"a\u00E9z");
  EXPECT_EQ(bad, 1u);
  // Truncated sequence, overlong form, surrogate, above U+10FFFF.
  EXPECT_EQ(decodeUtf8("\xE2\x82", &bad), std::u32string({0xE2, 0x82}));
  EXPECT_EQ(bad, 2u);
  EXPECT_EQ(decodeUtf8("\xC0\xAF", &bad), std::u32string({0xC0, 0xAF}));
  EXPECT_EQ(decodeUtf8("\xED\xA0\x80", &bad), std::u32string({0xED, 0xA0, 0x80}));
  EXPECT_EQ(decodeUtf8("\xF4\x90\x80\x80", &bad), std::u32string({0xF4, 0x90, 0x80, 0x80}));
  EXPECT_EQ(decodeUtf8("\xF0\x9F\x98\x80", &bad), U"\U0001F600");
  EXPECT_EQ(bad, 0u);
  std::string zero("a\0b", 3);
  EXPECT_EQ(decodeUtf8(zero), std::u32string(U"a\0b", 3));
}

TEST(TextTest, Utf8EncodingRoundTrips) {
  std::u32string all = U"A\u00E9\u20AC\U0001F600";
  EXPECT_EQ(decodeUtf8(encodeUtf8(all)), all);
  EXPECT_EQ(encodeUtf8(std::u32string(1, 0xD800)), "\xEF\xBF\xBD");
  EXPECT_EQ(toLatin1(fromLatin1("\xFF\x01")), "\xFF\x01");
  EXPECT_THROW(toLatin1(U"\u0100"), std::range_error);
}

TEST(TextTest, NumericTexts) {
  EXPECT_EQ(parseNumber(U"12"), 12.0);
  EXPECT_EQ(parseNumber(U" -1.5e2 "), -150.0);
  EXPECT_EQ(parseNumber(U"+3"), 3.0);
  EXPECT_FALSE(parseNumber(U""));
  EXPECT_FALSE(parseNumber(U"1.2.3"));
  EXPECT_FALSE(parseNumber(U"inf"));
  EXPECT_FALSE(parseNumber(U"0x10"));
  EXPECT_FALSE(parseNumber(U"."));
  EXPECT_FALSE(parseNumber(U"1e"));
  EXPECT_TRUE(std::isinf(*parseNumber(U"1e999")));
  EXPECT_EQ(*parseNumber(U"1e-999"), 0.0);
  EXPECT_EQ(Value::text(U"abc").asNumber(), 0.0);
  EXPECT_EQ(Value::number(2.5).asText(), U"2.5");
}

}  // namespace
