// The host driving the real plug-in (test builds) in both widths: re-entry
// through calculations and methods, handles, references and list exchange.
#include <gtest/gtest.h>

#include <memory>

#include "moravel/host.h"
#include "moravel/text.h"

using namespace moravel;

namespace {

struct Build {
  const char* name;
  const char* path;
  Width width;
};

class PluginSession : public ::testing::TestWithParam<Build> {
 protected:
  void SetUp() override {
    host = std::make_unique<Host>(GetParam().path, GetParam().width);
    host->load();
    ASSERT_NE(host->slot(), nullptr);
  }

  // Every request went through the right handle and made sense to the host.
  void expectCleanSession() {
    EXPECT_EQ(host->log().staleHandles, 0);
    for (const auto& p : host->log().problems) ADD_FAILURE() << "host problem: " << p;
  }

  std::u32string expand(std::u32string templ, int* code = nullptr) {
    CallResult r = host->call(kDoSubstitutions, {Arg::text(std::move(templ)), Arg::text(U"")});
    if (code) *code = r.code();
    return std::get<Value>(r.parameters.at(1)).asText();
  }

  std::unique_ptr<Host> host;
};

TEST_P(PluginSession, FieldsCalculationsAndMethods) {
  host->setText(U"lName", U"Ann");
  host->setNumber(U"n", 2.5);
  host->setInstanceName(U"wMain");
  host->defineMethod(U"wMain.$greet", std::vector<std::u32string>{U"0", U"con('Hi ', lName)"});
  int code = -1;
  EXPECT_EQ(expand(U"<FIELD>lName</FIELD>,<FIELD>n</FIELD>,<FIELD>EVAL=n*2</FIELD>,"
                   U"<FIELD>METHOD=$cinst.$greet</FIELD>",
                   &code),
            U"Ann,2.5,5,Hi Ann");
  EXPECT_EQ(code, 0);
  ASSERT_EQ(host->log().procedureNames.size(), 1u);
  EXPECT_EQ(host->log().procedureNames[0], U"wMain.$greet");
  EXPECT_EQ(host->log().calcTexts.at(0), U"n*2");
  expectCleanSession();
}

TEST_P(PluginSession, AnUnparsableCalculationLeavesTheScratchValue) {
  host->setText(U"#S1", U"kept");
  // The tag produces what #S1 holds; the plug-in restores #S1 afterwards.
  EXPECT_EQ(expand(U"[<FIELD>EVAL=con(</FIELD>]"), U"[kept]");
  EXPECT_EQ(host->text(U"#S1"), U"kept");
  EXPECT_EQ(host->log().calcFailures.size(), 1u);
}

TEST_P(PluginSession, ACalculationCallsThePluginAgain) {
  host->setText(U"lName", U"Ann");
  host->setText(U"inner", U"(<FIELD>lName</FIELD>)");
  host->setText(U"out", U"");
  int code = -1;
  EXPECT_EQ(expand(U"a<FIELD>EVAL=Moravel.DoSubstitutions(inner, out)</FIELD>b<FIELD>out</FIELD>c", &code),
            U"a0b(Ann)c");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(host->text(U"out"), U"(Ann)");
  EXPECT_EQ(host->log().maxDepth, 2);
  expectCleanSession();
}

TEST_P(PluginSession, AMethodCallsThePluginWhileATaggedMethodRuns) {
  host->setText(U"lName", U"Ann");
  host->setText(U"inner", U"<FIELD>lName</FIELD>");
  host->setText(U"out", U"");
  host->defineMethod(U"$build",
                     std::vector<std::u32string>{U"Moravel.DoSubstitutions(inner, out)", U"con('[', out, ']')"});
  EXPECT_EQ(expand(U"x<FIELD>TAGGEDMETHOD=$build</FIELD>y"), U"x[Ann]y");
  expectCleanSession();
}

TEST_P(PluginSession, AnInnerCallThatGrowsItsBuffersHandsTheOuterOnesBack) {
  // The inner call reads a text longer than the input buffer and produces an
  // output longer than the output buffer; the outer scan goes on unharmed.
  host->setText(U"lName", U"Ann");
  std::u32string big(70000, U'x');
  host->setText(U"bigT", big + U"<FIELD>lName</FIELD>");
  host->setText(U"out", U"");
  int code = -1;
  std::u32string got = expand(
      U"a<FIELD>EVAL=Moravel.DoSubstitutions(bigT, out)</FIELD>b<FIELD>lName</FIELD>c<FIELD>+len(out)</FIELD>",
      &code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(got, U"a0bAnnc70003");
  EXPECT_TRUE(host->text(U"out") == big + U"Ann") << "inner output has " << host->text(U"out").size() << " characters";
  expectCleanSession();
}

TEST_P(PluginSession, KeywordMapByReferenceAndTagListIntoAVariable) {
  host->setText(U"lName", U"Ann");
  host->setList(U"map", List{{U"keyword", U"fieldName"}, {{Value::text(U"name"), Value::text(U"lName")}}});
  CallResult m = host->call(kMapKeywordsToFields, {Arg::reference(U"map")});
  EXPECT_EQ(m.code(), 0);
  EXPECT_EQ(expand(U"<FIELD>NAME</FIELD>/<FIELD>Name</FIELD>"), U"Ann/Ann");

  host->setList(U"tags", List{{U"n", U"tag"}, {}});
  CallResult t = host->call(kGetTagList, {Arg::text(U"<FIELD>a</FIELD>-<FIELD> b </FIELD>"),
                                          Arg::reference(U"tags"), Arg::text(U"tag")});
  EXPECT_EQ(t.code(), 0);
  List tags = *host->list(U"tags");
  ASSERT_EQ(tags.rows.size(), 2u);
  EXPECT_EQ(tags.cell(1, 1), Value::text(U"a"));
  EXPECT_EQ(tags.cell(2, 1), Value::text(U" b "));
  expectCleanSession();
}

TEST_P(PluginSession, ReferencesAreBalancedAfterUnload) {
  host->setList(U"map", List{{U"keyword", U"fieldName"}, {{Value::text(U"K"), Value::text(U"f")}}});
  host->call(kMapKeywordsToFields, {Arg::reference(U"map")});
  expand(U"<FIELD>K</FIELD>");
  host->unload();
  EXPECT_EQ(host->slot(), nullptr);
  EXPECT_EQ(host->atomCount(), 0u);
  // Every reference handed out to the plug-in was given back.
  EXPECT_EQ(host->log().outstanding(), 0) << "references still held";
  ASSERT_TRUE(host->hasTestHooks()) << "the sessions run on test builds";
  EXPECT_EQ(host->liveBlocks(), 0);
  expectCleanSession();
}

TEST_P(PluginSession, DesignInformationThroughTheHostRecord) {
  DesignAnswer a = host->describe(kSetTags, design::kAskParameters);
  EXPECT_EQ(a.label, U"Parms: (openTag,closeTag)");
  EXPECT_EQ(a.useDefault, 0);
  DesignAnswer b = host->describe(kVersion, design::kAskReturnValue);
  EXPECT_EQ(b.label, U"Return Code :");
  EXPECT_FALSE(host->describe(kVersion, 7).changed);
}

TEST(HostLoading, FailuresToLoadAreReported) {
  EXPECT_THROW(Host("/nonexistent/libMoravelU.so", Width::Unicode), HostError);
  EXPECT_THROW(Host("libc.so.6", Width::Unicode), HostError);  // no entry point
}

TEST(HostLoading, ShippedBuildsHaveNoTestHooks) {
  Host shipped(MORAVEL_SHIPPED_PLUGIN_U, Width::Unicode);
  EXPECT_FALSE(shipped.hasTestHooks());
  EXPECT_THROW(shipped.setAllocFailure(1), HostError);
  EXPECT_THROW(shipped.liveBlocks(), HostError);
  Host test(MORAVEL_TEST_PLUGIN_U, Width::Unicode);
  EXPECT_TRUE(test.hasTestHooks());
  test.load();
  long before = test.allocations();
  test.call(kVersion, {});
  EXPECT_GT(test.allocations(), before);
  test.setAllocFailure(1, true);
  EXPECT_EQ(test.call(kDoSubstitutions, {Arg::text(U"x"), Arg::text(U"")}).code(), kNoMemoryOrNotReady);
  test.setAllocFailure(0);
  EXPECT_EQ(test.call(kDoSubstitutions, {Arg::text(U"x"), Arg::text(U"")}).code(), kOk);
  test.unload();
  EXPECT_EQ(test.liveBlocks(), 0);
}

#if defined(MORAVEL_TEST_PLUGIN_U) && defined(MORAVEL_TEST_PLUGIN_8)
INSTANTIATE_TEST_SUITE_P(Builds, PluginSession,
                         ::testing::Values(Build{"Unicode", MORAVEL_TEST_PLUGIN_U, Width::Unicode},
                                           Build{"OneByte", MORAVEL_TEST_PLUGIN_8, Width::Byte}),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

}  // namespace
