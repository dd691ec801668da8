// HTML character references for characters from 160 up.
#include "fixture.h"

namespace moravel::test {
namespace {

class Encode : public PluginTest {
 protected:
  std::u32string enc(const std::u32string& text, int type)
  {
    return expand(text, {Arg::number(type)}) == 0 ? out() : U"<failed>";
  }
};
MORAVEL_BOTH_WIDTHS(Encode);

TEST_P(Encode, TheThreeFormsOfReference)
{
  const std::u32string text = U"\u00a0x\u00e9\u00ff";
  EXPECT_EQ(enc(text, 0), text);
  EXPECT_EQ(enc(text, 1), U"&nbsp;x&eacute;&yuml;");
  EXPECT_EQ(enc(text, 2), U"&#160;x&#233;&#255;");
  EXPECT_EQ(enc(text, 3), U"&#xA0;x&#xE9;&#xFF;");
  EXPECT_EQ(enc(U"", 1), U"");
}

TEST_P(Encode, TheEntityTableHasEveryNameInPlace)
{
  const char* names[96] = {
      "nbsp", "iexcl", "cent", "pound", "curren", "yen", "brvbar", "sect", "uml", "copy", "ordf", "laquo",
      "not", "shy", "reg", "macr", "deg", "plusmn", "sup2", "sup3", "acute", "micro", "para", "middot",
      "cedil", "sup1", "ordm", "raquo", "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute",
      "Acirc", "Atilde", "Auml", "Aring", "AElig", "Ccedil", "Egrave", "Eacute", "Ecirc", "Euml",
      "Igrave", "Iacute", "Icirc", "Iuml", "ETH", "Ntilde", "Ograve", "Oacute", "Ocirc", "Otilde",
      "Ouml", "times", "Oslash", "Ugrave", "Uacute", "Ucirc", "Uuml", "Yacute", "THORN", "szlig",
      "agrave", "aacute", "acirc", "atilde", "auml", "aring", "aelig", "ccedil", "egrave", "eacute",
      "ecirc", "euml", "igrave", "iacute", "icirc", "iuml", "eth", "ntilde", "ograve", "oacute",
      "ocirc", "otilde", "ouml", "divide", "oslash", "ugrave", "uacute", "ucirc", "uuml", "yacute",
      "thorn", "yuml"};
  std::u32string all, want;
  for (int c = 160; c < 256; c++) {
    all += static_cast<char32_t>(c);
    want += U"&" + u32(names[c - 160]) + U";";
  }
  EXPECT_EQ(enc(all, 1), want);
}

TEST_P(Encode, BelowOneSixtyNothingIsTouched)
{
  std::u32string low;
  for (char32_t c = 1; c < 160; c++) low += c;
  for (int type : {1, 2, 3}) EXPECT_EQ(enc(low, type), low) << type;
  EXPECT_EQ(enc(U"&amp; <b>\"\u00e9\u00e9\"", 1), U"&amp; <b>\"&eacute;&eacute;\"");
}

TEST_P(Encode, ValuesAreEncodedLikePlainText)
{
  host->setText(U"v", U"caf\u00e9");
  EXPECT_EQ(enc(U"\u00e9<FIELD>v</FIELD>", 2), U"&#233;caf&#233;");
}

TEST_P(Encode, CharactersAboveTwoFiftyFive)
{
  if (!unicode()) GTEST_SKIP() << "an 8-bit unit holds no such character";
  EXPECT_EQ(enc(U"\u20ac", 2), U"&#8364;");
  EXPECT_EQ(enc(U"\u20ac", 3), U"&#x20AC;");
  EXPECT_EQ(enc(U"\U0001F600", 3), U"&#x1F600;");
  // The named form has no name for them and writes the decimal reference.
  EXPECT_EQ(enc(U"\u20ac\u00e9\u0100", 1), U"&#8364;&eacute;&#256;");
}

// Encoding grows the output as one reference at a time would, by whole
// chunks, and delivers the whole text.
TEST_P(Encode, AFullOutputGrowsAndIsEncodedWhole)
{
  std::u32string text(65530, U'a');
  text += U"\u00e9\u00e9";
  std::u32string want(65530, U'a');
  want += U"&#233;&#233;";
  EXPECT_EQ(enc(text, 2), want);
  EXPECT_EQ(info().bufOutSize, bytes(BufferUnits::kBufOut + BufferUnits::kChunk));

  std::u32string dense(100000, U'\u00e9');
  std::u32string got = enc(dense, 1);
  EXPECT_EQ(got.size(), 800000u);
  EXPECT_EQ(got.substr(0, 16), U"&eacute;&eacute;");
  // Each time the text reaches the capacity it grows by one chunk: from the
  // capacity left above, 22 chunks reach the first capacity above 800,000.
  EXPECT_EQ(info().bufOutSize, bytes(BufferUnits::kBufOut + 23 * BufferUnits::kChunk));
}

TEST_P(Encode, NothingIsEncodedAfterAFailure)
{
  EXPECT_EQ(expand(U"\u00e9<FIELD>FILE=/no/such/file</FIELD>", {Arg::number(1)}), 4);
  EXPECT_EQ(out(), U"");
}

}  // namespace
}  // namespace moravel::test
