// Loading, unloading, the call frame and the answers of a library that is not ready.
#include "fixture.h"

#include <fstream>
#include <string>

// Under AddressSanitizer every block comes from the C library, and the
// sanitizer maps memory of its own.
#if defined(__SANITIZE_ADDRESS__)
#define MORAVEL_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MORAVEL_UNDER_ASAN 1
#endif
#endif

namespace moravel::test {
namespace {

using Lifecycle = PluginTest;
MORAVEL_BOTH_WIDTHS(Lifecycle);

TEST_P(Lifecycle, LoadFillsTheDefaultsOfTheBuild)
{
  RecordInfo r = info();
  EXPECT_EQ(r.sig, MORAVEL_SIG_COOL);
  EXPECT_EQ(r.bufferSize, bytes(BufferUnits::kBuffer));
  EXPECT_EQ(r.bufOutSize, bytes(BufferUnits::kBufOut));
  EXPECT_EQ(r.tagBufSize, bytes(BufferUnits::kTagBuf));
  EXPECT_EQ(r.subBufSize, bytes(BufferUnits::kSubBuf));
  EXPECT_EQ(r.kwdBufSize, bytes(BufferUnits::kKwdBuf));
  EXPECT_EQ(r.openTagSize, 7);
  EXPECT_EQ(r.closeTagSize, 8);
  EXPECT_EQ(r.mappingCount, 0);
  EXPECT_EQ(r.forceEval + r.internStrip + r.senseBrackets, 0);
  EXPECT_EQ(r.hashLnRef, host->refOf(U"#LN"));
  EXPECT_EQ(r.hashS1Ref, host->refOf(U"#S1"));
  EXPECT_EQ(r.callBuffers, 0);
  ASSERT_TRUE(host->atom(U"MORAVEL"));
  EXPECT_EQ(*host->atom(U"MORAVEL"), reinterpret_cast<std::uintptr_t>(host->slot()));
  // The default tags work in any case.
  host->setText(U"x", U"X");
  EXPECT_EQ(expanded(U"<field>x</Field>"), U"X");
}

TEST_P(Lifecycle, VersionAnswersItsTextAndWritesNoCode)
{
  CallResult r = host->call(kVersion, {});
  EXPECT_EQ(r.returnValue, Value::text(U"" MORAVEL_PROJECT_VERSION));
  EXPECT_EQ(r.returnWrites, 1);
}

TEST_P(Lifecycle, ALibraryThatIsNotReadyAnswersTwoToEveryFunction)
{
  void* record = host->slot();
  host->setSlot(nullptr);
  for (int id : {int(kVersion), int(kDoSubstitutions), int(kSetTags), 0}) {
    CallResult r = host->call(id, {Arg::text(U"a"), Arg::text(U"b")});
    EXPECT_EQ(r.returnValue, Value::number(2)) << id;
  }
  host->setSlot(record);
  EXPECT_EQ(host->call(kVersion, {}).returnValue, Value::text(U"" MORAVEL_PROJECT_VERSION));
}

TEST_P(Lifecycle, ARefusedRegistrationLeavesARecordThatAnswersTwo)
{
  host->unload();
  host->refuseAtomStores(true);
  host->load();
  ASSERT_NE(host->slot(), nullptr);
  EXPECT_EQ(info().sig, MORAVEL_SIG_ERRR);
  EXPECT_EQ(host->call(kVersion, {}).returnValue, Value::number(2));
  EXPECT_EQ(host->call(kSetTags, {Arg::text(U"<a>"), Arg::text(U"</a>")}).returnValue, Value::number(2));
  host->unload();  // releases the record the slot held; the teardown counts blocks
  EXPECT_EQ(host->slot(), nullptr);
}

TEST_P(Lifecycle, PackageIdsWithoutAFunctionAnswerZeroAndChangeNothing)
{
  for (int id : {0, 7, 99, -3}) {
    CallResult r = host->call(id, {Arg::text(U"<a>"), Arg::text(U"</a>")});
    EXPECT_EQ(r.returnValue, Value::number(0)) << id;
  }
  EXPECT_EQ(info().openTagSize, 7);
  EXPECT_EQ(info().callBuffers, 0);
}

TEST_P(Lifecycle, UnknownMessagesDoNothing)
{
  void* record = host->slot();
  host->clearLog();
  host->send(5);
  host->send(-1);
  EXPECT_EQ(host->slot(), record);
  EXPECT_TRUE(host->log().requests.empty());
}

TEST_P(Lifecycle, UnloadReleasesEverythingAndTheRegistration)
{
  ASSERT_EQ(mapKeywords({{U"k", U"f"}}), 0);
  host->unload();
  EXPECT_EQ(host->slot(), nullptr);
  EXPECT_FALSE(host->atom(U"MORAVEL"));
  EXPECT_EQ(host->liveBlocks(), 0);
  EXPECT_EQ(host->log().outstanding(), 0);
#if defined(__linux__) && !defined(MORAVEL_UNDER_ASAN)
  // Nor is anything kept once the library is closed: hosts that load it,
  // expand, unload and close it leave none of the blocks the POSIX platform
  // maps for itself (the only mappings advised against huge pages, "nh").
  host.reset();
  auto keptKb = [] {
    std::ifstream smaps("/proc/self/smaps");
    long total = 0, size = 0;
    for (std::string line; std::getline(smaps, line);) {
      if (line.rfind("Size:", 0) == 0) size = std::stol(line.substr(5));
      if (line.rfind("VmFlags:", 0) == 0 && line.find(" nh") != std::string::npos) total += size;
    }
    return total;
  };
  auto cycle = [&] {
    Host h(LibraryPath(GetParam()), GetParam(), kFixtureForm);
    h.load();
    h.setText(U"out", U"");
    h.call(kDoSubstitutions, {Arg::text(std::u32string(100000, U'x')), Arg::reference(U"out")});
  };
  long before = keptKb();
  for (int i = 0; i < 20; ++i) cycle();
  EXPECT_EQ(keptKb(), before) << "kilobytes of the platform's own mappings left behind by 20 hosts";
#endif
}

TEST_P(Lifecycle, UnloadFindsItsRecordByRegistrationNotBySlot)
{
  host->setSlot(nullptr);
  host->unload();
  EXPECT_EQ(host->liveBlocks(), 0);
  EXPECT_FALSE(host->atom(U"MORAVEL"));
  // With nothing registered, unload only clears the slot.
  host->clearLog();
  host->send(kUnload);
  EXPECT_EQ(host->slot(), nullptr);
  EXPECT_EQ(host->log().count(47), 1) << "one look-up under the atom name, nothing else";
}

TEST_P(Lifecycle, SetupInformationSetsTheFlagAtOffset14)
{
  EXPECT_EQ(host->setupInfo(), 1);
}

TEST_P(Lifecycle, BuffersLiveOnlyDuringACall)
{
  long before = host->liveBlocks();
  host->setText(U"x", U"value");
  EXPECT_EQ(expanded(U"a<FIELD>x</FIELD>b"), U"avalueb");
  EXPECT_EQ(host->liveBlocks(), before);
  EXPECT_EQ(info().callBuffers, 0);
  EXPECT_EQ(info().hasCallback, 0) << "a call's host handle does not outlive the call";
}

TEST_P(Lifecycle, ALongTaggedTextRaisesTheInputSizeForLaterCalls)
{
  std::u32string text(40000, U'a');
  EXPECT_EQ(expanded(text), text);
  EXPECT_EQ(info().bufferSize, bytes(40000));
  EXPECT_EQ(expanded(U"short"), U"short");
  EXPECT_EQ(info().bufferSize, bytes(40000));
}

TEST_P(Lifecycle, ParameterChecksOfDoSubstitutions)
{
  host->setText(U"out", U"untouched");
  for (double bad : {4.0, -1.0, 70000.0}) {
    EXPECT_EQ(expand(U"x", {Arg::number(bad)}), 3) << bad;
    EXPECT_EQ(out(), U"untouched");
  }
  EXPECT_EQ(host->call(kDoSubstitutions, {Arg::text(U"x")}).code(), 3);
  EXPECT_EQ(host->call(kGetTagList, {Arg::text(U"x"), Arg::reference(U"out")}).code(), 3);
  EXPECT_EQ(out(), U"untouched");
  // A zero unit inside the template would end it early; at its end it hides nothing.
  const std::u32string zeroInside = U"a" + std::u32string(1, 0) + U"<FIELD>b</FIELD>";
  EXPECT_EQ(expand(zeroInside), 3);
  EXPECT_EQ(out(), U"untouched");
  int code = 0;
  EXPECT_TRUE(tagList(zeroInside, &code).empty());
  EXPECT_EQ(code, 3);
  EXPECT_EQ(expanded(U"a" + std::u32string(2, 0)), U"a");
}

TEST_P(Lifecycle, TwoParametersResetTheOptionsOfAnEarlierCall)
{
  host->setText(U"x", U"[1+1]");
  EXPECT_EQ(expanded(U"<FIELD>FIELD=x</FIELD>", {Arg::number(0), Arg::number(0), Arg::number(1),
                                                 Arg::number(1)}),
            U"2");
  EXPECT_EQ(info().senseBrackets, 1) << "the last options stay in the record between calls";
  EXPECT_EQ(info().internStrip, 1);
  EXPECT_EQ(expanded(U"<FIELD>FIELD=x</FIELD>"), U"[1+1]");
  RecordInfo r = info();
  EXPECT_EQ(r.forceEval + r.internStrip + r.senseBrackets, 0);
}

// Every allocation a load makes, failed in turn, once or from then on: a load
// that fails beeps, leaves the slot as it was and holds nothing. A failed
// copy of the name "#LN" or "#S1" costs only that reference: the load goes on
// without it, as it does when the host gives none.
TEST_P(Lifecycle, EachFailedAllocationOfALoadIsSurvived)
{
  host->unload();
  for (bool persistent : {false, true}) {
    for (long n = 1;; n++) {
      long beeps = host->beeps();
      long attempts = host->allocations();
      host->setAllocFailure(n, persistent);
      host->load();
      host->setAllocFailure(0);
      if (host->allocations() - attempts < n) {
        EXPECT_GE(host->allocations() - attempts, 3)
            << "a load needs the record, the keyword table and the files directory";
        ASSERT_NE(host->slot(), nullptr);
        EXPECT_EQ(info().sig, MORAVEL_SIG_COOL);
        host->unload();
        break;
      }
      if (host->slot()) {
        RecordInfo r = info();
        EXPECT_FALSE(persistent) << n;
        EXPECT_EQ(r.sig, MORAVEL_SIG_COOL) << n;
        EXPECT_EQ((r.hashLnRef == 0) + (r.hashS1Ref == 0), 1) << n << ": the failure fell on a name's copy";
        host->unload();
        EXPECT_EQ(host->liveBlocks(), 0) << n;
        continue;
      }
      EXPECT_EQ(host->beeps(), beeps + 1) << n;
      EXPECT_EQ(host->liveBlocks(), 0) << n;
      EXPECT_EQ(host->log().outstanding(), 0) << n;
      EXPECT_FALSE(host->atom(U"MORAVEL"));
      // Function calls of a library without a record answer 2.
      EXPECT_EQ(host->call(kVersion, {}).returnValue, Value::number(2));
      ASSERT_LT(n, 20);
    }
  }
  host->load();
}

// Every allocation of a function call failed in turn, once and from then on.
TEST_P(Lifecycle, EachFailedAllocationOfACallAnswersTwoAndReleasesItsBlocks)
{
  host->setText(U"x", U"\u00e9t\u00e9");
  const std::u32string text = U"a<FIELD>x</FIELD>b" + std::u32string(70000, U'c');
  const std::u32string want = U"a&#233;t&#233;b" + std::u32string(70000, U'c');
  for (bool persistent : {false, true}) {
    long baseline = host->liveBlocks();
    for (long n = 1;; n++) {
      host->setText(U"#S1", U"saved");
      host->setText(U"out", U"before");
      host->setAllocFailure(n, persistent);
      int code = expand(text, {Arg::number(2)});
      host->setAllocFailure(0);
      EXPECT_EQ(host->liveBlocks(), baseline) << n;
      EXPECT_EQ(host->text(U"#S1"), U"saved") << n;
      EXPECT_EQ(info().callBuffers, 0);
      if (code == 0) {
        EXPECT_EQ(out(), want);
        break;
      }
      EXPECT_EQ(code, 2) << n;
      EXPECT_TRUE(out() == U"" || out() == U"before") << n;
      EXPECT_EQ(expanded(text, {Arg::number(2)}), want) << "the next call after failure " << n;
      ASSERT_LT(n, 50);
    }
  }
}

// A length that the host reports so large that its byte size does not fit
// 32 bits is refused with 2, never turned into a small wrapped allocation.
TEST_P(Lifecycle, LengthsBeyondThirtyTwoBitByteSizesAnswerTwo)
{
  host->setText(U"v", U"value");
  host->setText(U"#S1", U"saved");
  const std::int32_t huge = unicode() ? 0x20000000 : INT32_MAX;
  for (const char32_t* text : {U"plain", U"<FIELD>TAGGEDFIELD=v</FIELD>", U"<FIELD>+1</FIELD>"}) {
    host->setText(U"out", U"before");
    host->misreportLengths(huge);
    int code = expand(text);
    host->misreportLengths(std::nullopt);
    EXPECT_EQ(code, 2) << u8(text);
    EXPECT_EQ(host->liveBlocks(), 3) << "the record, its keyword table and files directory only";
    EXPECT_EQ(host->text(U"#S1"), U"saved");
  }
  host->misreportLengths(-7);
  EXPECT_EQ(expand(U"x"), 0) << "a negative length reads as empty";
  // The text delivered is longer than reported: the scan ends at its
  // terminator, and the rest after an unclosed tag is copied whole.
  host->misreportLengths(2);
  EXPECT_EQ(expand(U"ab<FIELD>unclosed"), 0);
  host->misreportLengths(std::nullopt);
  EXPECT_EQ(out(), U"ab<FIELD>unclosed");
  EXPECT_EQ(expanded(U"<FIELD>v</FIELD>"), U"value");
}

}  // namespace
}  // namespace moravel::test
