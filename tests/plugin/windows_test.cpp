// Windows only: paths with the Windows delimiter, the status codes of the
// Windows file functions, and the catalogue as resources of the DLL itself.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <filesystem>
#include <fstream>

#include "../expected_catalogue.h"
#include "fixture.h"

namespace moravel::test {
namespace {

namespace fs = std::filesystem;

class WindowsFiles : public PluginTest {
 protected:
  void SetUp() override
  {
    PluginTest::SetUp();
    root = fs::temp_directory_path() /
           ("moravel-win-" + std::to_string(GetCurrentProcessId()) + "-" + (unicode() ? "u" : "8"));
    fs::remove_all(root);
    fs::create_directories(root / "Site");
    fs::create_directories(root / "cwd");
    cwd = fs::current_path();
    fs::current_path(root / "cwd");
  }
  void TearDown() override
  {
    fs::current_path(cwd);
    std::error_code ec;
    fs::remove_all(root, ec);
    PluginTest::TearDown();
  }
  void write(const fs::path& path, const std::string& bytes)
  {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::u32string site() const { return u32(NativePath((root / "Site").string())) + U"\\"; }
  int setDir(const std::u32string& d) { return host->call(kSetFilesDirectory, {Arg::text(d)}).code(); }
  std::u32string include(const std::u32string& name)
  {
    int code = expand(U"<FIELD>FILE=" + name + U"</FIELD>");
    return code == 0 ? out() : U"<" + formatNumberU(code) + U">";
  }
  void setFileFailure(int step) { host->setFileFailure(step); }
  long openFiles() { return host->openFiles(); }

  fs::path root, cwd;
};
MORAVEL_BOTH_WIDTHS(WindowsFiles);

// The worked examples of joining a name with the files directory; each file's
// content tells which path was opened.
TEST_P(WindowsFiles, NamesAreJoinedWithTheWindowsDelimiter)
{
  write(root / "Site" / "page.html", "site page");
  write(root / "Site" / "parts" / "head.html", "site head");
  write(root / "Site" / "x.html", "site x");
  write(root / "Site" / "Other" / "x.html", "site other");
  write(root / "Site" / "sub" / "dir" / "x.html", "site mixed");
  write(root / "cwd" / "parts" / "head.html", "cwd head");
  write(root / "cwd" / "Other" / "x.html", "cwd other");
  write(root / "cwd" / "sub" / "dir" / "x.html", "cwd mixed");
  write(root / "abs" / "x.html", "absolute");
  ASSERT_EQ(setDir(site()), 0);

  EXPECT_EQ(include(U"page.html"), U"site page");
  EXPECT_EQ(include(U":parts:head.html"), U"site head");
  EXPECT_EQ(include(U"/parts/head.html"), U"site head");
  EXPECT_EQ(include(U"\\parts\\head.html"), U"site head");
  EXPECT_EQ(include(U"parts/head.html"), U"cwd head") << "parts\\head.html, used as it stands";
  EXPECT_EQ(include(U"Other:x.html"), U"cwd other") << "Other\\x.html, used as it stands";
  EXPECT_EQ(include(u32(NativePath((root / "abs").string())) + U"\\x.html"), U"absolute");
  EXPECT_EQ(include(U":x.html"), U"site x") << "Site\\\\x.html";
  EXPECT_EQ(include(U"sub/dir\\x.html"), U"cwd mixed") << "a \"\\\" after the first character: not joined";
  EXPECT_EQ(include(U"missing.html"), U"<4>");

  ASSERT_EQ(setDir(U""), 0);
  EXPECT_EQ(include(U"page.html"), U"<4>") << "without a files directory the name is opened as written";
  EXPECT_EQ(include(U"parts/head.html"), U"cwd head");
}

TEST_P(WindowsFiles, StatusCodesOfTheWindowsFileFunctions)
{
  fs::path file = root / "Site" / "f.txt";
  write(file, "content");
  ASSERT_EQ(setDir(site()), 0);
  EXPECT_EQ(include(U"f.txt"), U"content");
  EXPECT_EQ(include(U"nothing.txt"), U"<4>");
  EXPECT_EQ(include(site() + U"parts"), U"<4>") << "a directory is no file";
  fs::create_directories(root / "Site" / "parts");
  EXPECT_EQ(include(U"parts"), U"<4>");
  EXPECT_EQ(include(U"NUL"), U"<5>") << "a device opens but is not read";

  // Others may read the file meanwhile, but nobody may write it.
  std::wstring wide = file.wstring();
  HANDLE reader = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(include(U"f.txt"), U"content") << "another reader";
  CloseHandle(reader);
  HANDLE writer = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(include(U"f.txt"), U"<4>") << "a writer holds the file";
  CloseHandle(writer);
  HANDLE exclusive =
      CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(include(U"f.txt"), U"<4>") << "shared with nobody";
  CloseHandle(exclusive);
  EXPECT_EQ(include(U"f.txt"), U"content");
}

TEST_P(WindowsFiles, EachFailingStepGivesItsStatusAndClosesTheFile)
{
  write(root / "Site" / "f.txt", "content");
  ASSERT_EQ(setDir(site()), 0);
  const int expected[] = {0, 4, 5, 5, 5, 5};
  for (int step = 1; step <= 5; ++step) {
    SCOPED_TRACE(step);
    setFileFailure(step);
    EXPECT_EQ(expand(U"a<FIELD>FILE=f.txt</FIELD>b"), expected[step]);
    EXPECT_EQ(out(), U"");
    EXPECT_EQ(openFiles(), 0);
  }
  setFileFailure(0);
  EXPECT_EQ(include(U"f.txt"), U"content");
  EXPECT_EQ(openFiles(), 0);
}

TEST_P(WindowsFiles, NamesBeyondTheAnsiCodePage)
{
  if (!unicode()) GTEST_SKIP() << "the 8-bit build passes its names' bytes through the code page";
  std::u32string name = U"caf\u00e9 \u20ac \U0001F600.txt";
  std::string utf8 = u8(name);
  fs::path path = root / "Site" / fs::path(std::u8string(utf8.begin(), utf8.end()));
  write(path, "\xEF\xBB\xBF" "wide");
  ASSERT_EQ(setDir(site()), 0);
  EXPECT_EQ(include(name), U"wide");
}

// The catalogue as the DLL carries it, read with the resource functions.
class WindowsResources : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override
  {
    module = LoadLibraryExA(NativePath(GetParam()).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << GetParam();
  }
  void TearDown() override
  {
    if (module) FreeLibrary(module);
  }
  bool unicode() const { return GetParam().find("MoravelU") != std::string::npos; }
  HMODULE module = nullptr;
};

TEST_P(WindowsResources, StringTableHoldsTheCatalogue)
{
  for (UINT id = 30704; id < 30720; ++id) {
    SCOPED_TRACE(id);
    wchar_t buf[512] = {};
    int n = LoadStringW(module, id, buf, 512);
    std::string text(buf, buf + n);
    if (id >= 30708 && id <= 30714)
      EXPECT_EQ(text, kExpectedCatalogue[id - 30708]);
    else
      EXPECT_EQ(n, 0) << "the rest of the block is empty";
  }
  // The block of ids 30704 to 30719 in English (United States).
  EXPECT_NE(FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(30704 / 16 + 1), 1033), nullptr);
}

TEST_P(WindowsResources, Q7infRecord)
{
  HRSRC res = FindResourceExW(module, MAKEINTRESOURCEW(10), L"Q7INF", 1033);
  ASSERT_NE(res, nullptr);
  ASSERT_EQ(SizeofResource(module, res), 14u);
  HGLOBAL data = LoadResource(module, res);
  ASSERT_NE(data, nullptr);
  const auto* bytes = static_cast<const unsigned char*>(LockResource(data));
  std::vector<unsigned char> got(bytes, bytes + 14);
  std::vector<unsigned char> want{'7', 'C', 'M', 'D', 0xF4, 0x77, 0, 0, 0, 0, 0, 0, 0, 0};
  if (unicode()) want[0] = 'U';
  EXPECT_EQ(got, want);
}

INSTANTIATE_TEST_SUITE_P(Dlls, WindowsResources,
                         ::testing::Values(MORAVEL_LIB_BYTE, MORAVEL_LIB_UNICODE, MORAVEL_LIB_BYTE_SHIPPED,
                                           MORAVEL_LIB_UNICODE_SHIPPED),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = fs::path(info.param).stem().string();
                           return name;
                         });

// Design information from the shipped DLLs, whose catalogue comes from their
// string table through LoadString.
TEST(WindowsDesignInfo, ShippedDllsAnswerFromTheirOwnStrings)
{
  for (auto [path, width] : {std::pair{MORAVEL_LIB_BYTE_SHIPPED, Width::Byte},
                             std::pair{MORAVEL_LIB_UNICODE_SHIPPED, Width::Unicode}}) {
    SCOPED_TRACE(path);
    Host host(NativePath(path), width);
    host.load();
    DesignAnswer a = host.describe(kDoSubstitutions, design::kAskParameters);
    EXPECT_EQ(u8(a.label),
              "Parms: (taggedText,expandedText [,utfType [,forceEval [,stripAllLinebreaks [,senseBrackets]]]])");
    EXPECT_EQ(a.label.size(), 95u);
    EXPECT_EQ(u8(host.describe(kSetTags, design::kAskParameters).label), "Parms: (openTag,closeTag)");
    EXPECT_EQ(u8(host.describe(kVersion, design::kAskReturnValue).label), "Return Code :");
    EXPECT_EQ(host.call(kVersion, {}).returnValue.asText(), U"" MORAVEL_PROJECT_VERSION);
    host.unload();
  }
}

}  // namespace
}  // namespace moravel::test
