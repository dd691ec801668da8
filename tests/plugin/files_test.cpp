// File inclusion: joining names with the files directory, reading and decoding files.
#include <filesystem>

#include "file_fixture.h"

namespace moravel::test {
namespace {

namespace fs = std::filesystem;

#if MORAVEL_WINDOWS_PLUGIN
constexpr char32_t kDelim = U'\\';
#else
constexpr char32_t kDelim = U'/';
#endif

class Files : public FileTest {
 protected:
  Files() : FileTest("moravel-files-") {}
  void SetUp() override
  {
    FileTest::SetUp();
    fs::create_directories(root / "site" / "parts");
    dir = u32((root / "site").string()) + kDelim;
  }

  std::u32string dir;
};
MORAVEL_BOTH_WIDTHS(Files);

TEST_P(Files, NamesAreJoinedWithTheFilesDirectory)
{
  write("site/page.html", "page");
  write("site/parts/head.html", "head");
  write("site/x.html", "x");
  ASSERT_EQ(setDir(dir), 0);
  EXPECT_EQ(include(U"page.html"), U"page");
  EXPECT_EQ(include(U"/parts/head.html"), U"head");
  EXPECT_EQ(include(U"\\parts\\head.html"), U"head");
  EXPECT_EQ(include(U":parts:head.html"), U"head");
  EXPECT_EQ(include(U":x.html"), U"x") << "a single leading delimiter is kept: site//x.html";
  EXPECT_EQ(include(U"missing.html"), U"<4>");
}

TEST_P(Files, FullPathsAreUsedAsTheyStand)
{
  write("parts/head.html", "relative to the process");
  write("Other/x.html", "other");
#if !MORAVEL_WINDOWS_PLUGIN  // a drive letter is a full path on Windows (WindowsPaths covers it)
  write("D:/x.html", "drive");
#endif
  ASSERT_EQ(setDir(dir), 0);
  auto cwd = fs::current_path();
  fs::current_path(root);
  EXPECT_EQ(include(U"parts/head.html"), U"relative to the process");
  EXPECT_EQ(include(U"Other:x.html"), U"other");
#if !MORAVEL_WINDOWS_PLUGIN
  EXPECT_EQ(include(U"D:\\x.html"), U"drive");
  // sub/dir\x.html: the first kind found is "/", so "\" is left alone.
  EXPECT_EQ(include(U"sub/dir\\x.html"), U"<4>");
#endif
  // Without a files directory a name is opened as written.
  ASSERT_EQ(setDir(U""), 0);
  EXPECT_EQ(include(U"parts/head.html"), U"relative to the process");
  EXPECT_EQ(include(U":parts:head.html"), U"<4>");
  fs::current_path(cwd);
}

TEST_P(Files, StatusCodesForFilesThatCannotBeRead)
{
  host->setText(U"#S1", U"saved");
  EXPECT_EQ(include(u32(root.string()) + U"/nothing"), U"<4>");
#if MORAVEL_WINDOWS_PLUGIN
  EXPECT_EQ(include(u32(root.string()) + U"/site"), U"<4>") << "a directory cannot be opened as a file";
#else
  EXPECT_EQ(include(u32(root.string()) + U"/site"), U"<5>") << "a directory opens but cannot be read";
#endif
  write("empty", "");
  EXPECT_EQ(include(u32(root.string()) + U"/empty"), U"");
  EXPECT_EQ(host->text(U"#S1"), U"saved");
  EXPECT_EQ(expand(U"kept? <FIELD>FILE=" + u32(root.string()) + U"/nothing</FIELD>"), 4);
  EXPECT_EQ(out(), U"");
}

TEST_P(Files, TaggedFilesAreExpandedAndBracketedFilesEvaluated)
{
  host->setText(U"lName", U"Ann");
  write("site/t.html", "Dear <FIELD>lName</FIELD>,");
  write("site/calc.txt", "[2*21]");
  write("site/calcnl.txt", "[2*21]\n");
  ASSERT_EQ(setDir(dir), 0);
  EXPECT_EQ(expanded(U"<FIELD>TAGGEDFILE=t.html</FIELD> hi"), U"Dear Ann, hi");
  EXPECT_EQ(include(U"t.html"), U"Dear <FIELD>lName</FIELD>,");
  std::vector<Arg> sense{Arg::number(0), Arg::number(0), Arg::number(0), Arg::number(1)};
  EXPECT_EQ(include(U"calc.txt", sense), U"42");
  EXPECT_EQ(include(U"calcnl.txt", sense), U"[2*21]\n");
  EXPECT_EQ(include(U"calc.txt"), U"[2*21]");
  EXPECT_EQ(expanded(U"<FIELD>TAGGEDFILE=calc.txt</FIELD>", sense), U"[2*21]");
}

// A text ends at its first zero unit: a file with a zero inside its text
// cannot be carried and ends the call with 5 (in the 8-bit build every
// UTF-16 or UTF-32 file holds zero bytes); zeros at its very end are dropped.
TEST_P(Files, AZeroInsideAFileEndsTheCallZerosAtItsEndAreDropped)
{
  host->setNumber(U"qty", 3);
  host->setText(U"#S1", U"saved");
  ASSERT_EQ(setDir(dir), 0);
  for (const std::string& bytes : {std::string("a\0b", 3), std::string("\xFF\xFE" "a\0\0\0b\0", 8),
                                   std::string("\xFE\xFF\0a\0\0\0b", 8),
                                   std::string("\xFF\xFE\0\0" "a\0\0\0\0\0\0\0b\0\0\0", 16)}) {
    write("site/nul.txt", bytes);
    for (const char32_t* directive : {U"FILE=", U"TAGGEDFILE="}) {
      host->setText(U"out", U"before");
      EXPECT_EQ(expand(U"x<FIELD>" + std::u32string(directive) + U"nul.txt</FIELD>y<FIELD>qty</FIELD>z"), 5)
          << u8(directive) << bytes.size();
      EXPECT_EQ(out(), U"");
    }
  }
  EXPECT_EQ(host->text(U"#S1"), U"saved");
  write("site/end.txt", std::string("ab\0\0", 4));
  EXPECT_EQ(expanded(U"x<FIELD>FILE=end.txt</FIELD>y<FIELD>TAGGEDFILE=end.txt</FIELD>z"), U"xabyabz");
}

TEST_P(Files, ATaggedFileThatIncludesItselfEndsTheCall)
{
  write("site/loop.html", "x<FIELD>TAGGEDFILE=loop.html</FIELD>");
  ASSERT_EQ(setDir(dir), 0);
  EXPECT_EQ(expand(U"<FIELD>TAGGEDFILE=loop.html</FIELD>"), 2);
  EXPECT_EQ(out(), U"");
}

TEST_P(Files, BytesAreDecodedByTheirMark)
{
  ASSERT_EQ(setDir(dir), 0);
  auto with = [&](const std::string& bytes) {
    write("site/f", bytes);
    return include(U"f");
  };
  if (!unicode()) {
    EXPECT_EQ(with("\xEF\xBB\xBF" "abc"), U"\u00ef\u00bb\u00bf" U"abc") << "the 8-bit build keeps the bytes";
    EXPECT_EQ(with("\xE9t\xE9"), U"\u00e9t\u00e9");
    EXPECT_EQ(with("caf\xC3\xA9"), U"caf\u00c3\u00a9") << "UTF-8 bytes stay bytes";
    return;
  }
  EXPECT_EQ(with("\xEF\xBB\xBF" "abc"), U"abc");
  EXPECT_EQ(with("\xEF\xBB\xBF" "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), U"caf\u00e9 \u20ac \U0001F600");
  EXPECT_EQ(with("\xEF\xBB\xBF" "a\xE9z\xC3"), U"a\u00e9z\u00c3") << "stray bytes stand for themselves";
  EXPECT_EQ(with("\xEF\xBB\xBF" "\xED\xA0\x80"), U"\u00ed\u00a0\u0080") << "no encoded surrogates";
  EXPECT_EQ(with("\xEF\xBB\xBF" "\xC0\xAF"), U"\u00c0\u00af") << "no overlong forms";
  EXPECT_EQ(with(std::string("\xFF\xFE" "A\0B\0", 6)), U"AB");
  EXPECT_EQ(with(std::string("\xFE\xFF\0A\0B", 6)), U"AB");
  EXPECT_EQ(with(std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6)), U"\U0001F600");
  EXPECT_EQ(with(std::string("\xFF\xFE" "A\0B\0C", 7)), U"ABC") << "an odd last byte is kept";
  EXPECT_EQ(with(std::string("\xFF\xFE" "A\0\0\0B\0", 8)), U"<5>") << "a zero unit inside: no text";
  EXPECT_EQ(with(std::string("\xFF\xFE" "A\0B\0\0\0", 8)), U"AB") << "a zero unit at the end is dropped";
  EXPECT_EQ(with(std::string("\xFF\xFE\0\0" "A\0\0\0", 8)), U"A") << "FF FE 00 00 is the UTF-32 mark";
  EXPECT_EQ(with(std::string("\xFF\xFE" "A\0\x00\xD8", 6)), std::u32string(U"A") + char32_t(1));
  EXPECT_EQ(with(std::string("\xFF\xFE\0\0" "A\0\0\0\0\xF6\x01\0", 12)), U"A\U0001F600");
  EXPECT_EQ(with(std::string("\0\0\xFE\xFF\0\0\0A\0\0\0B\0", 13)), U"AB") << "1 to 3 trailing bytes dropped";
  EXPECT_EQ(with("\xE9"), U"\u00e9");
  // Without a mark: UTF-8 when every byte is part of a well-formed sequence.
  EXPECT_EQ(with("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), U"caf\u00e9 \u20ac \U0001F600");
  EXPECT_EQ(with("caf\xE9 na\xEFve"), U"caf\u00e9 na\u00efve") << "ISO 8859-1 keeps its meaning";
  EXPECT_EQ(with("\xC3\xA9\xE9"), U"\u00c3\u00a9\u00e9") << "one stray byte: the whole file is ISO 8859-1";
  EXPECT_EQ(with("\xFF\xFE"), U"");
  EXPECT_EQ(with(""), U"");
}

}  // namespace
}  // namespace moravel::test
