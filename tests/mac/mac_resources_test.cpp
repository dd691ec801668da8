// Mac build, design information: the catalogue from string list 30708 of the
// bundle's Rez source, read in Mac Roman and converted to Unicode.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "../../platform/mac_api.h"
#include "fixture.h"
#include "macsubst.h"

namespace moravel::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> catalogueLines()
{
  std::ifstream in(std::string(MORAVEL_SOURCE_DIR) + "/resources/catalogue.txt");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string indString(int list, int index)
{
  Str255 s;
  GetIndString(s, static_cast<SInt16>(list), static_cast<SInt16>(index));
  return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
}

TEST(MacStringList, TheBundleResourceHoldsTheSevenCatalogueEntriesInOrder)
{
  macsubst::useResourceFile(MORAVEL_MAC_RESOURCES);
  std::vector<std::string> lines = catalogueLines();
  ASSERT_EQ(lines.size(), 7u);
  for (int i = 1; i <= 7; ++i) EXPECT_EQ(indString(30708, i), lines[static_cast<std::size_t>(i) - 1]) << i;
  EXPECT_EQ(indString(30708, 7), "*Moravel");
  EXPECT_EQ(indString(30708, 8), "");
  EXPECT_EQ(indString(30709, 1), "") << "no other list";
}

class MacDesign : public PluginTest {
 protected:
  void SetUp() override
  {
    macsubst::useResourceFile(MORAVEL_MAC_RESOURCES);
    macsubst::refuseConverters(false);
    PluginTest::SetUp();
  }
  void TearDown() override
  {
    macsubst::useResourceFile(MORAVEL_MAC_RESOURCES);
    macsubst::refuseConverters(false);
    if (!scratch.empty()) fs::remove_all(scratch);
    PluginTest::TearDown();
  }
  // A Rez source of one string list 30708 with these entries (Rez escapes allowed).
  void useList(const std::vector<std::string>& entries)
  {
    scratch = fs::temp_directory_path() / ("moravel-rez-" + std::to_string(getpid()) + ".r");
    std::ofstream out(scratch);
    out << "resource 'STR#' (30708, \"test\") {\n\t{\n";
    for (std::size_t i = 0; i < entries.size(); ++i) out << "\t\t\"" << entries[i] << (i + 1 < entries.size() ? "\",\n" : "\"\n");
    out << "\t}\n};\n";
    out.close();
    macsubst::useResourceFile(scratch.string());
  }
  fs::path scratch;
};
MORAVEL_BOTH_WIDTHS(MacDesign);

TEST_P(MacDesign, ParametersAndReturnValueAnswerTheCatalogue)
{
  const std::pair<int, std::u32string> answers[] = {
      {1, U"Parms: ()"},
      {2, U"Parms: (taggedText,tagList,tagListColumn)"},
      {3, U"Parms: (taggedText,expandedText [,utfType [,forceEval [,stripAllLinebreaks [,senseBrackets]]]])"},
      {4, U"Parms: (mappingList)"},
      {5, U"Parms: (dirPath)"},
      {6, U"Parms: (openTag,closeTag)"},
  };
  const std::size_t lengths[] = {9, 41, 95, 20, 16, 25};
  for (std::size_t i = 0; i < 6; ++i) {
    DesignAnswer a = host->describe(answers[i].first, design::kAskParameters);
    EXPECT_EQ(a.label, answers[i].second);
    EXPECT_EQ(a.label.size(), lengths[i]);
    EXPECT_EQ(a.useDefault, 0);
    DesignAnswer r = host->describe(answers[i].first, design::kAskReturnValue);
    EXPECT_EQ(r.label, U"Return Code :");
    EXPECT_EQ(r.useDefault, 0);
  }
  DesignAnswer other = host->describe(3, 7);
  EXPECT_FALSE(other.changed);
}

TEST_P(MacDesign, EntriesAreConvertedFromMacRomanByOneConverter)
{
  useList({"a", "b", "Moravel.X(caf\\$8E,\\$A5,\\$D2q\\$D3,\\$F0,\\$DB,\\\"s\\\"):30708002"});
  long before = macsubst::convertersCreated();
  DesignAnswer a = host->describe(3, design::kAskParameters);
  EXPECT_EQ(a.label, U"Parms: (caf\u00E9,\u2022,\u201Cq\u201D,\uF8FF,\u20AC,\"s\")");
  EXPECT_EQ(host->describe(1, design::kAskParameters).label, U"Parms: ") << "an entry without parameters";
  EXPECT_EQ(host->describe(3, design::kAskParameters).label, a.label);
  EXPECT_EQ(macsubst::convertersCreated(), before + 1) << "made on first use and kept";
  // An entry longer than the record's 254 characters is cut to fit it.
  useList({"a", "b", "(" + std::string(254, 'p')});
  EXPECT_EQ(host->describe(3, design::kAskParameters).label, U"Parms: (" + std::u32string(246, U'p'));
}

TEST_P(MacDesign, AMissingEntryOrConverterLeavesTheFixedPrefix)
{
  useList({"Moravel.A(x):1", "Moravel.B(y):2", "Moravel.C(z):3", "Moravel.D(w):4", "Moravel.E(v):5", "Moravel.F(u):6"});
  EXPECT_EQ(host->describe(6, design::kAskParameters).label, U"Parms: (u)");
  EXPECT_EQ(host->describe(7, design::kAskParameters).label, U"Parms: ") << "entry 7 of a list of six";
  host->unload();
  host.reset();
  macsubst::refuseConverters(true);
  host = std::make_unique<Host>(LibraryPath(GetParam()), GetParam(), Form::Mac);
  host->load();
  long before = macsubst::convertersCreated();
  EXPECT_EQ(host->describe(2, design::kAskParameters).label, U"Parms: ");
  EXPECT_EQ(host->describe(2, design::kAskReturnValue).label, U"Return Code :");
  EXPECT_EQ(macsubst::convertersCreated(), before);
}

}  // namespace
}  // namespace moravel::test
