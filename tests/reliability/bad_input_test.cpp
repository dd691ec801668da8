// Hostile and oversized input: each gives the normal answer or a clear
// failure code, never a crash, a leak or a hang.
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "support.h"

namespace moravel::test {
namespace {

class BadInput : public PluginTest {
 protected:
  void SetUp() override
  {
    PluginTest::SetUp();
    files = std::make_unique<ScratchDir>();
    host->setText(U"lName", U"Ann");
  }
  void TearDown() override
  {
    PluginTest::TearDown();
    files.reset();
  }
  void useFilesDirectory()
  {
    ASSERT_EQ(host->call(kSetFilesDirectory, {Arg::text(files->prefix())}).code(), 0);
  }
  std::unique_ptr<ScratchDir> files;
};
MORAVEL_BOTH_WIDTHS(BadInput);

TEST_P(BadInput, ATemplateOfSeveralMegabytesInOneTag)
{
  const std::u32string body(3 << 20, U'm');
  const std::u32string text = U"<FIELD>" + body + U"</FIELD>!";
  host->setText(U"#S1", U"saved");
  // The name reaches the host cut to 254 characters, names nothing, and adds nothing.
  EXPECT_EQ(expanded(text), U"!");
  EXPECT_EQ(host->text(U"#S1"), U"saved");
  ASSERT_FALSE(host->log().namedValueNames.empty());
  EXPECT_LE(host->log().namedValueNames.back().size(), 254u);
  EXPECT_GE(info().tagBufSize, static_cast<long>(body.size()) * unit());

  int code = -1;
  std::vector<std::u32string> rows = tagList(text, &code);
  EXPECT_EQ(code, 0);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], body);

  // The same text as a value spliced back into the template.
  host->setText(U"lHuge", text + U"<FIELD>lName</FIELD>");
  EXPECT_EQ(expanded(U"<FIELD>TAGGEDFIELD=lHuge</FIELD>."), U"!Ann.");
}

// Buffers above 17 MiB: the output grows past the size of the blocks kept on
// small pages, and the next call takes the blocks the first released, which
// the builds with assertions check for zeros.
TEST_P(BadInput, APageOfSeventeenMebibytesTwice)
{
  const std::u32string plain(static_cast<std::size_t>((17l << 20) / unit()), U'p');
  const std::u32string text = U"<FIELD>lName</FIELD>" + plain + U"<FIELD>lName</FIELD>";
  const std::u32string want = U"Ann" + plain + U"Ann";
  EXPECT_EQ(expanded(text), want);
  EXPECT_EQ(expanded(text.substr(0, text.size() / 2)), want.substr(0, text.size() / 2 - 17));
  EXPECT_EQ(expanded(text), want);
}

TEST_P(BadInput, TagsOf255Characters)
{
  std::u32string open(254, U'{'), close(254, U'}');
  open = U"<" + open;
  close = U">" + close;
  ASSERT_EQ(setTags(open, close), 0);
  EXPECT_EQ(info().openTagSize, 255);
  EXPECT_EQ(info().closeTagSize, 255);
  EXPECT_EQ(expanded(U"a" + open + U"lName" + close + U"b"), U"aAnnb");
  // A tag cut short at the end of the text is copied unchanged.
  std::u32string cut = U"x" + open + U"lName" + close.substr(0, 200);
  EXPECT_EQ(expanded(cut), cut);
  EXPECT_EQ(tagList(open + U"t" + close + open), (std::vector<std::u32string>{U"t"}));

  // Longer tags are stored cut to 255 characters.
  ASSERT_EQ(setTags(open + U"{{{{", close + U"}}}}"), 0);
  EXPECT_EQ(info().openTagSize, 255);
  EXPECT_EQ(expanded(open + U"lName" + close), U"Ann");
}

TEST_P(BadInput, AKeywordMapOfThousandsOfRows)
{
  std::vector<std::vector<std::u32string>> rows;
  for (int i = 0; i < 5000; i++) rows.push_back({U"k" + u32(std::to_string(i)) + U"_", U"f" + u32(std::to_string(i))});
  rows.push_back({U"last", U"lName"});
  ASSERT_EQ(mapKeywords(rows), 0);
  EXPECT_EQ(info().mappingCount, 5001);
  EXPECT_GE(info().kwdBufSize, 5001L * 516 * unit());
  host->setText(U"f4999", U"x4999");
  EXPECT_EQ(expanded(U"<FIELD>last</FIELD>,<FIELD>k4999_</FIELD>,<FIELD>k5000_</FIELD>"), U"Ann,x4999,");

  // More rows than a 16-bit line count holds: a clear refusal, and no rows.
  rows.resize(40000, {U"many", U"lName"});
  int code = mapKeywords(rows);
  EXPECT_TRUE(code == 0 || code == 3) << code;
  EXPECT_TRUE(code != 0 || info().mappingCount > 0);
  if (code != 0) {
    EXPECT_EQ(info().mappingCount, 0);
  }
}

TEST_P(BadInput, AFileThatIsADirectory)
{
  useFilesDirectory();
  std::filesystem::create_directory(files->path() / "adir");
  host->setText(U"out", U"before");
  EXPECT_EQ(expand(U"a<FIELD>FILE=adir</FIELD>b"), 5);
  EXPECT_EQ(out(), U"");
  EXPECT_EQ(expand(U"a<FIELD>TAGGEDFILE=adir</FIELD>b"), 5);
}

// A named pipe with no writer would block an open or a read for ever; the
// library must answer instead of hanging the host.
// What has no size to go by is read to its end: a named pipe without a
// writer ends at once, a file of the kernel's gives its text.
TEST_P(BadInput, FilesWithoutASizeAreReadToTheirEnd)
{
  useFilesDirectory();
  const std::string fifo = (files->path() / "pipe").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto call = std::async(std::launch::async, [&] { return expanded(U"a<FIELD>FILE=pipe</FIELD>b"); });
  if (call.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "the expansion hangs on a named pipe";
    int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // releases the blocked reader
    if (fd >= 0) close(fd);
  }
  EXPECT_EQ(call.get(), U"ab");
  ASSERT_EQ(host->call(kSetFilesDirectory, {Arg::text(U"")}).code(), 0);
  std::u32string status = expanded(U"<FIELD>FILE=/proc/self/status</FIELD>");
  EXPECT_EQ(status.rfind(U"Name:", 0), 0u);
  EXPECT_NE(status.find(U"\nPid:"), std::u32string::npos);
}

TEST_P(BadInput, AFileThatShrinksWhileItIsRead)
{
  useFilesDirectory();
  const std::string big(4 << 20, 's');
  const std::filesystem::path p = files->write("shrinking.txt", big);
  std::atomic<bool> stop{false};
  std::thread shrinker([&] {
    while (!stop) {
      std::filesystem::resize_file(p, 10);
      std::filesystem::resize_file(p, big.size());
    }
  });
  // A read may catch the zeros a regrown file holds before older bytes: that
  // text is refused (5); any text delivered is the file's own.
  int shortReads = 0, refused = 0;
  for (int i = 0; i < 40; i++) {
    int code = expand(U"<FIELD>FILE=shrinking.txt</FIELD>");
    ASSERT_TRUE(code == 0 || code == 5) << code;
    if (code == 5) {
      refused++;
      continue;
    }
    std::u32string got = out();
    ASSERT_LE(got.size(), big.size());
    for (char32_t c : got) ASSERT_EQ(c, U's') << static_cast<long>(c);
    if (got.size() < big.size()) shortReads++;
  }
  stop = true;
  shrinker.join();
  std::cout << "[bad-input] shrinking file: " << shortReads << " of 40 reads saw a changed size, " << refused
            << " a zero inside\n";
}

TEST_P(BadInput, Utf16FilesWithLoneSurrogatesAndOddLengths)
{
  useFilesDirectory();
  struct File {
    const char* name;
    std::string bytes;
    std::u32string unicode;  // what the Unicode builds read; <5>: refused
  };
  const std::vector<File> cases = {
      {"high-at-end.txt", std::string("\xFF\xFE" "A\0\x00\xD8", 6), U"A\x01"},
      {"low-alone.txt", std::string("\xFF\xFE\x00\xDC" "B\0" "C\0", 8), U"\x02" U"BC"},
      {"odd.txt", std::string("\xFF\xFE" "A\0B", 5), U"AB"},
      {"odd-be.txt", std::string("\xFE\xFF\0A\xD8", 5), U"A\u00D8"},
      {"mark-and-one.txt", std::string("\xFF\xFE\x41", 3), U"A"},
      {"zero-unit.txt", std::string("\xFF\xFE" "A\0\0\0B\0", 8), U"<5>"},
      {"pair.txt", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), U"\U0001F600"},
      {"utf32-odd.txt", std::string("\xFF\xFE\0\0" "A\0\0\0" "xy", 10), U"A"},
  };
  for (const File& f : cases) {
    SCOPED_TRACE(f.name);
    files->write(f.name, f.bytes);
    // The 8-bit build takes the bytes as they are: all but one case hold a
    // zero byte before other bytes.
    std::u32string want = unicode() ? f.unicode : f.bytes.size() == 3 ? fromLatin1(f.bytes) : U"<5>";
    int code = expand(U"<FIELD>FILE=" + u32(f.name) + U"</FIELD>");
    EXPECT_EQ(code == 0 ? out() : U"<" + formatNumberU(code) + U">", want);
  }
}

TEST_P(BadInput, ACalculationTextOf10000Characters)
{
  std::u32string calc = U"1";
  while (calc.size() < 10000) calc += U"+1";
  host->setText(U"#S1", U"saved");
  // The host receives at most 254 characters, which end in "+" and do not parse:
  // the tag produces what "#S1" held.
  EXPECT_EQ(expanded(U"<FIELD>EVAL=" + calc + U"</FIELD>"), U"saved");
  EXPECT_EQ(expanded(U"<FIELD>+" + calc + U"</FIELD>"), U"saved");
  EXPECT_EQ(expanded(U"<FIELD>" + calc + U"</FIELD>", {Arg::number(0), Arg::number(1)}), U"saved");
  EXPECT_EQ(expanded(U"<FIELD>METHOD=" + calc + U"</FIELD>"), U"saved");
  for (const auto& text : host->log().calcTexts) EXPECT_LE(text.size(), 254u);
  EXPECT_EQ(host->text(U"#S1"), U"saved");
}

// A value that splices its own tag back in would expand for ever; the
// nesting limit ends it with a failure instead of exhausting memory.
TEST_P(BadInput, AValueThatSplicesItselfEndsWithAFailure)
{
  host->setText(U"lLoop", U"x<FIELD>TAGGEDFIELD=lLoop</FIELD>");
  host->setText(U"out", U"before");
  host->setText(U"#S1", U"saved");
  EXPECT_EQ(expand(U"<FIELD>TAGGEDFIELD=lLoop</FIELD>"), 2);
  EXPECT_EQ(out(), U"");
  EXPECT_EQ(host->text(U"#S1"), U"saved");
  host->defineMethod(U"$loop", U"'<FIELD>TAGGEDMETHOD=$loop</FIELD>'");
  EXPECT_EQ(expand(U"<FIELD>TAGGEDMETHOD=$loop</FIELD>"), 2);
  // Deep but finite nesting is expanded whole.
  for (int i = 0; i < 200; i++)
    host->setText(U"v" + u32(std::to_string(i)), U"<FIELD>TAGGEDFIELD=v" + u32(std::to_string(i + 1)) + U"</FIELD>.");
  host->setText(U"v200", U"end");
  EXPECT_EQ(expanded(U"<FIELD>TAGGEDFIELD=v0</FIELD>"), U"end" + std::u32string(200, U'.'));
}

}  // namespace
}  // namespace moravel::test
