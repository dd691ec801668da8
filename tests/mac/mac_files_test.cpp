// Mac build, file inclusion: HFS paths joined with ":" first, the counted
// path buffer, the File Manager's answers as status codes.
#include <sys/stat.h>

#include <filesystem>

#include "file_fixture.h"
#include "macsubst.h"

namespace moravel::test {
namespace {

namespace fs = std::filesystem;

class MacFiles : public FileTest {
 protected:
  MacFiles() : FileTest("moravel-mac-") {}
  void SetUp() override
  {
    FileTest::SetUp();
    fs::create_directories(root / "volumes" / "Disk" / "Site" / "parts");
    fs::create_directories(root / "default");
    macsubst::setVolumesDirectory((root / "volumes").string());
    macsubst::setDefaultDirectory((root / "default").string());
    macsubst::forceOpenError(0);
  }
  void TearDown() override
  {
    macsubst::forceOpenError(0);
    fileFailure(0);
    EXPECT_EQ(macsubst::openFiles(), 0) << "a file was left open";
    FileTest::TearDown();
  }
  void fileFailure(int step) { host->setFileFailure(step); }
};
MORAVEL_BOTH_WIDTHS(MacFiles);

TEST_P(MacFiles, TheWorkedExamplesGiveTheMacPaths)
{
  write("volumes/Disk/Site/page.html", "page");
  write("volumes/Disk/Site/parts/head.html", "head");
  write("volumes/Other/x.html", "other");
  write("volumes/D/\\x.html", "drive");
  write("volumes/Disk/x.html", "up");
  ASSERT_EQ(setDir(U"Disk:Site:"), 0);
  struct Row {
    std::u32string name;
    std::string path;     // the name HOpen is given
    std::u32string text;  // what the tag gives
  };
  const Row rows[] = {
      {U"page.html", "Disk:Site:page.html", U"page"},
      {U":parts:head.html", "Disk:Site:parts:head.html", U"head"},
      {U"/parts/head.html", "Disk:Site:parts:head.html", U"head"},
      {U"\\parts\\head.html", "Disk:Site:parts:head.html", U"head"},
      {U"parts/head.html", "parts:head.html", U"<4>"},  // a full path on a volume that is not there
      {U"Other:x.html", "Other:x.html", U"other"},
      {U"D:\\x.html", "D:\\x.html", U"drive"},
      {U":x.html", "Disk:Site::x.html", U"up"},  // "::" is the parent directory in HFS
  };
  for (const Row& r : rows) {
    long before = macsubst::openCalls();
    EXPECT_EQ(include(r.name), r.text) << u8(r.name);
    EXPECT_EQ(macsubst::openCalls(), before + 1) << u8(r.name);
    EXPECT_EQ(macsubst::lastOpenName(), r.path) << u8(r.name);
  }
}

TEST_P(MacFiles, WithoutAFilesDirectoryNamesAreOpenedAsWritten)
{
  write("default/page.html", "default page");
  write("default/parts/head.html", "default head");
  EXPECT_EQ(include(U"page.html"), U"default page");
  EXPECT_EQ(macsubst::lastOpenName(), "page.html");
  EXPECT_EQ(include(U":parts:head.html"), U"default head");
  EXPECT_EQ(macsubst::lastOpenName(), ":parts:head.html");
  EXPECT_EQ(include(U"/parts/head.html"), U"<4>") << "separators are not converted without a directory";
  EXPECT_EQ(macsubst::lastOpenName(), "/parts/head.html");
}

TEST_P(MacFiles, TaggedFilesAreFoundAndExpanded)
{
  host->setText(U"lName", U"Ann");
  write("volumes/Disk/Site/parts/t.html", "Dear <FIELD>lName</FIELD>, <FIELD>FILE=:parts:sig.txt</FIELD>");
  write("volumes/Disk/Site/parts/sig.txt", "Bo");
  ASSERT_EQ(setDir(U"Disk:Site:"), 0);
  EXPECT_EQ(expanded(U"<FIELD>TAGGEDFILE=/parts/t.html</FIELD>!"), U"Dear Ann, Bo!");
  EXPECT_EQ(macsubst::lastOpenName(), "Disk:Site:parts:sig.txt");
}

TEST_P(MacFiles, OpenFailuresGiveFourExceptPermissionAndOpenForWriting)
{
  write("volumes/Disk/Site/page.html", "page");
  ASSERT_EQ(setDir(U"Disk:Site:"), 0);
  const std::pair<short, std::u32string> cases[] = {
      {-54, U"<5>"},  // permission error
      {-49, U"<5>"},  // file already open for writing
      {-43, U"<4>"},  // file not found
      {-35, U"<4>"},  // no such volume
      {-36, U"<4>"},  // I/O error
      {-120, U"<4>"}, // directory not found
      {-37, U"<4>"},  // bad name
  };
  for (const auto& [err, want] : cases) {
    macsubst::forceOpenError(err);
    host->setText(U"out", U"before");
    EXPECT_EQ(include(U"page.html"), want) << err;
    EXPECT_EQ(out(), U"") << err;
  }
  macsubst::forceOpenError(0);
  EXPECT_EQ(include(U"page.html"), U"page");
  EXPECT_EQ(include(U"missing.html"), U"<4>");
  EXPECT_EQ(include(U"parts"), U"<4>") << "a directory is not a file";
}

TEST_P(MacFiles, AFileWithoutReadPermissionGivesFive)
{
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not hold for the superuser";
  write("volumes/Disk/Site/secret.html", "secret");
  fs::permissions(root / "volumes/Disk/Site/secret.html", fs::perms::none);
  ASSERT_EQ(setDir(U"Disk:Site:"), 0);
  EXPECT_EQ(include(U"secret.html"), U"<5>");
}

TEST_P(MacFiles, StepsAfterTheOpenFailWithFiveAndCloseTheFile)
{
  write("volumes/Disk/Site/page.html", "page");
  ASSERT_EQ(setDir(U"Disk:Site:"), 0);
  const std::pair<int, std::u32string> steps[] = {{1, U"<4>"}, {2, U"<5>"}, {3, U"<5>"}, {4, U"<5>"}, {5, U"<5>"}};
  for (const auto& [step, want] : steps) {
    fileFailure(step);
    EXPECT_EQ(include(U"page.html"), want) << "step " << step;
    EXPECT_EQ(macsubst::openFiles(), 0) << "step " << step;
  }
  fileFailure(0);
  EXPECT_EQ(include(U"page.html"), U"page");
}

// A combined path that a length byte cannot count is refused with 4 before
// anything is opened: cut to fit, it would name some other file.
TEST_P(MacFiles, APathLongerThan255CharactersIsNotOpened)
{
  std::string dir(240, 'd');
  write("volumes/Disk/" + dir + "/page.html", "long page");
  write("volumes/Disk/" + dir + "/page2.htm", "cut");
  ASSERT_EQ(setDir(u32("Disk:" + dir + ":")), 0);
  // 5 + 240 + 1 + 9 = 255 characters: opened.
  EXPECT_EQ(include(U"page.html"), U"long page");
  EXPECT_EQ(macsubst::lastOpenName().size(), 255u);
  // 256 characters: refused, though its first 255 name an existing file.
  long before = macsubst::openCalls();
  EXPECT_EQ(include(U"page2.html"), U"<4>");
  EXPECT_EQ(macsubst::openCalls(), before) << "HOpen was called";
  // A long name without a files directory, and a long files directory.
  ASSERT_EQ(setDir(U""), 0);
  EXPECT_EQ(include(std::u32string(300, U'x')), U"<4>");
  ASSERT_EQ(setDir(u32("Disk:" + std::string(1000, 'e') + ":")), 0);
  EXPECT_EQ(include(U"page.html"), U"<4>");
  EXPECT_EQ(macsubst::openCalls(), before);
}

// One byte per character cannot hold a character above 0xFF; its low byte
// would name another file, so the name is refused.
TEST_P(MacFiles, ANameWithACharacterBeyondOneByteIsNotOpened)
{
  write("volumes/Disk/Site/\x09.html", "tab");
  ASSERT_EQ(setDir(U"Disk:Site:"), 0);
  long before = macsubst::openCalls();
  EXPECT_EQ(include(U"\u0109.html"), U"<4>");
  EXPECT_EQ(macsubst::openCalls(), before);
}

TEST_P(MacFiles, BytesAreDecodedByTheirMark)
{
  ASSERT_EQ(setDir(U"Disk:Site:"), 0);
  auto with = [&](const std::string& bytes) {
    write("volumes/Disk/Site/f.txt", bytes);
    return include(U"f.txt");
  };
  EXPECT_EQ(with("\xEF\xBB\xBF" "abc"), U"abc");
  EXPECT_EQ(with(std::string("\xFF\xFE" "A\0B\0", 6)), U"AB");
  EXPECT_EQ(with(std::string("\xFE\xFF\0A\0B", 6)), U"AB");
  EXPECT_EQ(with(std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6)), U"\U0001F600");
  EXPECT_EQ(with(std::string("\xFF\xFE\0\0" "A\0\0\0", 8)), U"A");
  EXPECT_EQ(with(std::string("\0\0\xFE\xFF\0\0\0B", 8)), U"B");
  EXPECT_EQ(with("\xE9"), U"\u00E9") << "no mark: ISO 8859-1, no Mac Roman";
  EXPECT_EQ(with(""), U"");
  EXPECT_EQ(with("\xFF\xFE"), U"");
}

}  // namespace
}  // namespace moravel::test
