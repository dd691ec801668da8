// Every allocation of a corpus of calls failed in turn, once (transient) and
// from then on (persistent): each failure answers its code, leaks nothing,
// keeps the record sound and "#S1" as it was, and the next call is normal.
#include <functional>
#include <iostream>

#include "support.h"

namespace moravel::test {
namespace {

// What a call left behind that a caller can see.
struct Outcome {
  int code = -1;
  std::u32string out;
  std::vector<std::u32string> rows;
  long openTagSize = 0, closeTagSize = 0, mappingCount = 0;
  bool operator==(const Outcome&) const = default;
};

enum class Kind { Substitute, TagList, Setup };

class OomSweep;

struct Scenario {
  const char* name;
  Kind kind;
  std::function<void(OomSweep&)> configure;  // setup calls after each load, never injected
  std::function<int(OomSweep&)> call;        // the call under test; its result code
  std::vector<int> failCodes{2};             // what a failed allocation may answer
  bool nested = false;                       // a nested call's failure stays inside the host
};

class OomSweep : public PluginTest {
 public:
  using PluginTest::expand;
  using PluginTest::host;
  using PluginTest::mapKeywords;
  using PluginTest::tagList;

 protected:
  void SetUp() override
  {
    PluginTest::SetUp();
    const std::u32string latin = U"\u00e9t\u00e9 \u00a9 \u00ff";
    host->setText(U"lName", U"Ann");
    host->setText(U"lLatin", latin);
    host->setNumber(U"n", 21);
    host->setText(U"mname", U"$greet");
    host->setText(U"lBracket", U"[n*2]");
    host->setText(U"lGreeting", U"Hello <FIELD>lName</FIELD> and <FIELD>+n+1</FIELD>");
    host->setText(U"lLong", std::u32string(40000, U'v') + U"<FIELD>lName</FIELD>" + std::u32string(300, U'w'));
    host->setText(U"lIndirect", U"lName");
    host->setText(U"lHuge", std::u32string(300000, U'h'));
    host->setText(U"innerT", U"(<FIELD>lName</FIELD>:<FIELD>lLatin</FIELD>)");
    host->setInstanceName(U"wMain");
    host->defineMethod(U"wMain.$greet", U"con('Hi ', lName)");
    host->defineMethod(U"$greet", U"con('Hey ', lName)");
    host->defineMethod(U"$tagged", U"con('<FIELD>lName</FIELD>', '-', '<FIELD>+n</FIELD>')");
    host->defineMethod(U"$inner", U"Moravel.DoSubstitutions(innerT, innerOut)");

    files = std::make_unique<ScratchDir>();
    files->write("plain.txt", "plain \xe9 file");
    files->write("tagged.txt", "[<FIELD>lName</FIELD>|<FIELD>FIELD=lLatin</FIELD>]");
    files->write("bracket.txt", "[n+100]");
    files->write("utf8.txt", "\xEF\xBB\xBF" "caf\xC3\xA9");
    files->write("utf16le.txt", std::string("\xFF\xFE" "A\0\xE9\0=\xD8\0\xDE", 8));
    files->write("utf16be.txt", std::string("\xFE\xFF\0A\0\xE9", 6));
    files->write("utf32.txt", std::string("\xFF\xFE\0\0" "A\0\0\0\x00\xF6\x01\0", 12));
    std::filesystem::create_directory(files->path() / "sub");
    files->write("sub/deep.txt", "deep");
    files->write("big.txt", std::string(70000, 'b') + "<FIELD>lName</FIELD>");
  }

  void TearDown() override
  {
    host->setAllocFailure(0);
    PluginTest::TearDown();
    files.reset();
  }


 public:
  void setFilesDirectory()
  {
    ASSERT_EQ(host->call(kSetFilesDirectory, {Arg::text(files->prefix())}).code(), 0);
  }

 protected:
  // A fresh record: unload, load, the scenario's setup.
  void reload(const Scenario& s)
  {
    host->setAllocFailure(0);
    if (host->loaded()) host->unload();
    host->load();
    ASSERT_NE(host->slot(), nullptr);
    if (s.configure) s.configure(*this);
  }

  Outcome perform(const Scenario& s)
  {
    host->setText(U"#S1", U"saved");
    host->setText(U"out", U"before");
    host->setText(U"innerOut", U"");
    host->setList(U"tags", List{{U"tag"}, {}});
    Outcome o;
    o.code = s.call(*this);
    o.out = out();
    const List list = host->list(U"tags").value_or(List{});
    for (auto& row : list.rows) o.rows.push_back(row.empty() ? U"" : row[0].asText());
    return o;
  }

  void recordOutcome(Outcome& o)
  {
    RecordInfo r = info();
    o.openTagSize = r.openTagSize;
    o.closeTagSize = r.closeTagSize;
    o.mappingCount = r.mappingCount;
  }

  // How many allocations a call of an empty template makes: those a call
  // makes before it expands anything, after which a failure empties the
  // result instead of leaving it as it was.
  long allocationsBeforeExpanding()
  {
    long attempts = host->allocations();
    expand(U"");
    return host->allocations() - attempts;
  }

  void sweep(const Scenario& s)
  {
    SCOPED_TRACE(s.name);
    reload(s);
    const long untouchedUpTo = allocationsBeforeExpanding();
    reload(s);
    Outcome want = perform(s);
    recordOutcome(want);
    long allocationsPerCall = 0;
    long injected = 0;
    for (bool persistent : {false, true}) {
      for (long n = 1;; n++) {
        SCOPED_TRACE(std::string(persistent ? "persistent " : "transient ") + std::to_string(n));
        reload(s);
        if (HasFatalFailure()) return;
        RecordInfo before = info();
        long blocks = host->liveBlocks();
        long attempts = host->allocations();
        host->setAllocFailure(n, persistent);
        Outcome got = perform(s);
        host->setAllocFailure(0);
        long made = host->allocations() - attempts;
        recordOutcome(got);

        RecordInfo after = info();
        EXPECT_EQ(host->liveBlocks(), blocks) << "blocks left beyond the record's own";
        EXPECT_EQ(host->text(U"#S1"), U"saved");
        EXPECT_EQ(after.sig, MORAVEL_SIG_COOL);
        EXPECT_EQ(after.callBuffers, 0) << "per-call buffers outlive the call";
        EXPECT_EQ(after.hasCallback, 0);
        // A failed call leaves the sizes it found: a size raised for a block
        // that was never had would make every later call ask for it again.
        const auto sizes = [](const RecordInfo& r) {
          return std::vector<long>{r.bufferSize, r.bufOutSize, r.tagBufSize, r.subBufSize};
        };
        for (size_t i = 0; i < sizes(before).size(); i++) {
          if (got.code != 0) {
            EXPECT_EQ(sizes(after)[i], sizes(before)[i]) << "a failed call changed size " << i;
          }
          EXPECT_GE(sizes(after)[i], sizes(before)[i]);
        }
        EXPECT_GE(after.kwdBufSize, before.kwdBufSize);
        EXPECT_EQ(host->log().staleHandles, 0);

        if (made < n) {  // the call never met the failure: it must be the normal one
          EXPECT_EQ(got, want);
          allocationsPerCall = std::max(allocationsPerCall, made);
          break;
        }
        injected++;
        if (got.code == want.code && s.nested && got != want) {
          // A nested call's failure stays inside it: the outer call goes on
          // and shows the inner call's answer, 2, before the '|', and the
          // inner call delivers nothing after it.
          EXPECT_EQ(u8(got.out), "2|");
        } else if (got != want) {
          // A failure that is not absorbed (an absorbed one, where a path
          // falls back, gives the normal answer) answers with a failure code.
          EXPECT_NE(std::find(s.failCodes.begin(), s.failCodes.end(), got.code), s.failCodes.end())
              << "answer " << got.code;
          if (s.kind == Kind::Substitute) {
            EXPECT_TRUE(got.out.empty() || (got.out == U"before" && n <= untouchedUpTo))
                << "a failed expansion delivered " << u8(got.out.substr(0, 80));
          }
          if (s.kind == Kind::Setup && got.mappingCount != want.mappingCount) {
            EXPECT_EQ(got.mappingCount, 0) << "a failed mapping leaves no rows";
          }
          if (s.kind == Kind::TagList) {
            EXPECT_LE(got.rows.size(), want.rows.size());
          }
        }
        // The very next call, without injection, is the normal one.
        Outcome next = perform(s);
        recordOutcome(next);
        EXPECT_EQ(next, want) << "the call after the failure";
        EXPECT_EQ(host->liveBlocks(), blocks);
        ASSERT_LT(n, 2000) << "the call keeps allocating";
      }
    }
    EXPECT_GT(injected, 0) << "no allocation of the scenario was failed";
    std::cout << "[sweep] " << (unicode() ? "Unicode" : "Byte") << " " << s.name
              << ": allocations per call " << allocationsPerCall << ", failures injected " << injected
              << "\n";
  }

  std::unique_ptr<ScratchDir> files;
};
MORAVEL_BOTH_WIDTHS(OomSweep);

std::function<int(OomSweep&)> Subst(std::u32string text, std::vector<Arg> options = {})
{
  return [text, options](OomSweep& t) { return t.expand(text, options); };
}

void WithFiles(OomSweep& t) { t.setFilesDirectory(); }

std::vector<std::vector<std::u32string>> ManyRows(int count)
{
  std::vector<std::vector<std::u32string>> rows;
  for (int i = 0; i < count; i++) rows.push_back({U"key" + u32(std::to_string(i)), U"lName"});
  rows.push_back({U"name", U"lName"});
  return rows;
}

std::vector<Scenario> Corpus()
{
  const std::u32string longOut = std::u32string(70000, U'p') + U"\u00e9\u00a0<FIELD>lLatin</FIELD>";
  std::vector<Scenario> c = {
      {"plain text", Kind::Substitute, nullptr, Subst(U"no tags at all")},
      {"empty text", Kind::Substitute, nullptr, Subst(U"")},
      {"field by name", Kind::Substitute, nullptr, Subst(U"a<FIELD>lName</FIELD>b")},
      {"field through the keyword map", Kind::Substitute,
       [](OomSweep& t) { ASSERT_EQ(t.mapKeywords({{U"nm", U"lName"}}), 0); }, Subst(U"<FIELD>nmX</FIELD>")},
      {"FIELD= and a value over the value buffer", Kind::Substitute, nullptr,
       Subst(U"<FIELD>FIELD=lLatin</FIELD><FIELD>FIELD=lHuge</FIELD>")},
      {"EVAL= and +", Kind::Substitute, nullptr, Subst(U"<FIELD>EVAL=n*2</FIELD>/<FIELD>+n+1</FIELD>")},
      {"METHOD= with $cinst.", Kind::Substitute, nullptr, Subst(U"<FIELD>METHOD=$cinst.$greet</FIELD>")},
      {"$cinst. overfilling the tag buffer", Kind::Substitute,
       [](OomSweep& t) { t.host->setInstanceName(std::u32string(99, U'w')); },
       Subst(U"<FIELD>METHOD=$cinst.$greet" + std::u32string(1000, U' ') + U"x</FIELD>")},
      {"METHOD=[x] and an indirect tag", Kind::Substitute, nullptr,
       Subst(U"<FIELD>METHOD=[mname]</FIELD>|<FIELD>[lIndirect]</FIELD>")},
      {"TAGGEDMETHOD=", Kind::Substitute, nullptr, Subst(U"<<FIELD>TAGGEDMETHOD=$tagged</FIELD>>")},
      {"TAGGEDFIELD= growing the input", Kind::Substitute, nullptr,
       Subst(U"x<FIELD>TAGGEDFIELD=lLong</FIELD>y<FIELD>TAGGEDFIELD=lGreeting</FIELD>z")},
      {"TAGGEDFIELD= with forceEval", Kind::Substitute, nullptr,
       Subst(U"<FIELD>TAGGEDFIELD=lGreeting</FIELD>", {Arg::number(0), Arg::number(1)})},
      {"FILE= with a files directory", Kind::Substitute, WithFiles,
       Subst(U"<FIELD>FILE=plain.txt</FIELD>|<FIELD>FILE=/sub/deep.txt</FIELD>|<FIELD>FILE=\\sub\\deep.txt</FIELD>")},
      {"FILE= decoding every mark", Kind::Substitute, WithFiles,
       Subst(U"<FIELD>FILE=utf8.txt</FIELD><FIELD>FILE=utf16le.txt</FIELD><FIELD>FILE=utf16be.txt</FIELD>"
             U"<FIELD>FILE=utf32.txt</FIELD>")},
      {"FILE= with senseBrackets", Kind::Substitute, WithFiles,
       Subst(U"<FIELD>FILE=bracket.txt</FIELD>", {Arg::number(0), Arg::number(0), Arg::number(0), Arg::number(1)})},
      {"TAGGEDFILE=", Kind::Substitute, WithFiles,
       Subst(U"a<FIELD>TAGGEDFILE=tagged.txt</FIELD>b<FIELD>TAGGEDFILE=big.txt</FIELD>c")},
      {"a missing file", Kind::Substitute, WithFiles, Subst(U"a<FIELD>FILE=missing.txt</FIELD>b"), {2, 4}},
      {"a file name longer than the value buffer", Kind::Substitute, WithFiles,
       Subst(U"<FIELD>FILE=" + std::u32string(294900, U'n') + U"</FIELD>"), {2, 4}},
      {"utfType 1", Kind::Substitute, nullptr, Subst(longOut, {Arg::number(1)})},
      {"utfType 2", Kind::Substitute, nullptr, Subst(longOut, {Arg::number(2)})},
      {"utfType 3", Kind::Substitute, nullptr, Subst(longOut, {Arg::number(3)})},
      {"forceEval", Kind::Substitute, nullptr, Subst(U"<FIELD>n*3</FIELD>", {Arg::number(0), Arg::number(1)})},
      {"stripAllLinebreaks", Kind::Substitute, nullptr,
       Subst(U"<FIELD>\r\nEVAL=n\n*2 </FIELD>", {Arg::number(0), Arg::number(0), Arg::number(1)})},
      {"senseBrackets on a field", Kind::Substitute, nullptr,
       Subst(U"<FIELD>FIELD=lBracket</FIELD>", {Arg::number(0), Arg::number(0), Arg::number(0), Arg::number(1)})},
      {"a tag text longer than the tag buffer", Kind::Substitute, nullptr,
       Subst(U"<FIELD>" + std::u32string(5000, U't') + U"</FIELD>.")},
      {"a tagged text longer than the input buffer", Kind::Substitute, nullptr,
       Subst(std::u32string(40000, U'i') + U"<FIELD>lName</FIELD>")},
      {"an unclosed tag after a long output", Kind::Substitute, nullptr,
       Subst(std::u32string(65530, U'o') + U"<FIELD>" + std::u32string(100, U'r'))},
      {"a nested call from a method", Kind::Substitute, nullptr,
       Subst(U"<FIELD>METHOD=$inner</FIELD>|<FIELD>innerOut</FIELD>"), {2}, true},
      {"a nested call from a calculation", Kind::Substitute, nullptr,
       Subst(U"<FIELD>EVAL=Moravel.DoSubstitutions(innerT, innerOut)</FIELD>|<FIELD>innerOut</FIELD>"), {2},
       true},
      {"GetTagList", Kind::TagList, nullptr,
       [](OomSweep& t) {
         int code = -1;
         t.tagList(U"<FIELD>a</FIELD> <field>" + std::u32string(3000, U'q') + U"</FIELD><FIELD>FILE=x",
                      &code);
         return code;
       }},
      {"SetTags", Kind::Setup, nullptr,
       [](OomSweep& t) {
         return t.host->call(kSetTags, {Arg::text(U"{{"), Arg::text(U"}}")}).code();
       }},
      {"SetFilesDirectory", Kind::Setup, nullptr,
       [](OomSweep& t) { return t.host->call(kSetFilesDirectory, {Arg::text(U"/tmp/")}).code(); }},
      {"MapKeywordsToFields of 3000 rows", Kind::Setup, nullptr,
       [](OomSweep& t) { return t.mapKeywords(ManyRows(3000)); }, {2, 3}},
      {"Version", Kind::Setup, nullptr,
       [](OomSweep& t) {
         CallResult r = t.host->call(kVersion, {});
         return r.returnValue == Value::text(U"" MORAVEL_PROJECT_VERSION) ? 0 : r.code();
       }},
  };
  return c;
}

TEST_P(OomSweep, EveryAllocationOfTheCorpusFailsCleanly)
{
  for (const Scenario& s : Corpus()) {
    sweep(s);
    if (HasFatalFailure()) return;
  }
}

// Unload needs no memory: with every allocation failing it still releases everything.
TEST_P(OomSweep, UnloadReleasesEverythingWithoutMemory)
{
  ASSERT_EQ(mapKeywords(ManyRows(50)), 0);
  long attempts = host->allocations();
  host->setAllocFailure(1, true);
  host->unload();
  host->setAllocFailure(0);
  EXPECT_EQ(host->allocations(), attempts);
  EXPECT_EQ(host->liveBlocks(), 0);
  EXPECT_EQ(host->log().outstanding(), 0);
  EXPECT_FALSE(host->atom(U"MORAVEL"));
  host->load();
}

}  // namespace
}  // namespace moravel::test
