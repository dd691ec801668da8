// Each step of reading an included file failed on demand: open answers 4,
// size, seek, read and close answer 5; nothing is left allocated or open.
#include "support.h"

namespace moravel::test {
namespace {

class FileFault : public PluginTest {
 protected:
  void SetUp() override
  {
    PluginTest::SetUp();
    faults = std::make_unique<FileFaults>(*host);
    files = std::make_unique<ScratchDir>();
    files->write("page.txt", "[<FIELD>lName</FIELD>]");
    files->write("bracket.txt", "[n+1]");
    host->setText(U"lName", U"Ann");
    host->setNumber(U"n", 1);
    ASSERT_EQ(host->call(kSetFilesDirectory, {Arg::text(files->prefix())}).code(), 0);
  }
  void TearDown() override
  {
    faults.reset();
    PluginTest::TearDown();
    files.reset();
  }

  std::unique_ptr<FileFaults> faults;
  std::unique_ptr<ScratchDir> files;
};
MORAVEL_BOTH_WIDTHS(FileFault);

struct Case {
  const char* name;
  std::u32string text;
  std::vector<Arg> options;
  std::u32string normal;
};

TEST_P(FileFault, EachFailedStepAnswersItsCodeAndReleasesEverything)
{
  const std::vector<Case> cases = {
      {"FILE=", U"a<FIELD>FILE=page.txt</FIELD>b", {}, U"a[<FIELD>lName</FIELD>]b"},
      {"TAGGEDFILE=", U"a<FIELD>TAGGEDFILE=page.txt</FIELD>b", {}, U"a[Ann]b"},
      {"FILE= with senseBrackets", U"<FIELD>FILE=bracket.txt</FIELD>",
       {Arg::number(1), Arg::number(0), Arg::number(0), Arg::number(1)}, U"2"},
      {"a second file after a first", U"<FIELD>FILE=bracket.txt</FIELD><FIELD>TAGGEDFILE=page.txt</FIELD>",
       {}, U"[n+1][Ann]"},
  };
  const std::pair<MoravelFileStep, int> steps[] = {
      {kFileStepOpen, 4}, {kFileStepSize, 5}, {kFileStepSeek, 5}, {kFileStepRead, 5}, {kFileStepClose, 5}};
  long injected = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (auto [step, code] : steps) {
      SCOPED_TRACE("step " + std::to_string(step));
      long blocks = host->liveBlocks();
      host->setText(U"#S1", U"saved");
      host->setText(U"out", U"before");
      long before = faults->injected();
      faults->fail(step);
      EXPECT_EQ(expand(c.text, c.options), code);
      faults->fail(kFileStepNone);
      EXPECT_EQ(faults->injected() - before, 1) << "the step failed once";
      injected += faults->injected() - before;
      EXPECT_EQ(out(), U"") << "nothing of a failed expansion is delivered";
      EXPECT_EQ(faults->openFiles(), 0) << "a descriptor left open";
      EXPECT_EQ(host->liveBlocks(), blocks) << "a block left allocated";
      EXPECT_EQ(host->text(U"#S1"), U"saved");
      EXPECT_EQ(info().callBuffers, 0);
      EXPECT_EQ(expanded(c.text, c.options), c.normal) << "the next call";
      EXPECT_EQ(faults->openFiles(), 0);
    }
  }
  std::cout << "[file-faults] " << (unicode() ? "Unicode" : "Byte") << ": " << injected << " faults injected\n";
}

// A file fault together with every allocation failure around it: the first
// failure decides the answer, and nothing leaks either way.
TEST_P(FileFault, AllocationFailuresAroundAFileRead)
{
  for (MoravelFileStep step : {kFileStepNone, kFileStepRead, kFileStepClose}) {
    for (long n = 1;; n++) {
      SCOPED_TRACE(std::to_string(step) + "/" + std::to_string(n));
      long blocks = host->liveBlocks();
      long attempts = host->allocations();
      host->setText(U"#S1", U"saved");
      faults->fail(step);
      host->setAllocFailure(n);
      int code = expand(U"<FIELD>TAGGEDFILE=page.txt</FIELD>");
      host->setAllocFailure(0);
      faults->fail(kFileStepNone);
      EXPECT_EQ(faults->openFiles(), 0);
      EXPECT_EQ(host->liveBlocks(), blocks);
      EXPECT_EQ(host->text(U"#S1"), U"saved");
      if (host->allocations() - attempts < n) {
        EXPECT_EQ(code, step == kFileStepNone ? 0 : 5);
        break;
      }
      if (step == kFileStepNone) {
        EXPECT_EQ(code, 2);
      } else {
        EXPECT_TRUE(code == 2 || code == 5) << code;
      }
      ASSERT_LT(n, 100);
    }
  }
}

}  // namespace
}  // namespace moravel::test
