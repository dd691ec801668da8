// Design information: each function's parameter list and return value, as the
// host shows them while a method is written, answered from the catalogue.
#include <cstring>

#include "fixture.h"

namespace moravel::test {
namespace {

class Catalogue : public PluginTest {
 protected:
  // The counted label as the record holds it: the stored length, and whether a
  // zero unit follows the text.
  struct Stored {
    unsigned long length = 0;
    bool terminated = false;
  };
  Stored stored() const
  {
    auto d = host->designRecord();
    Stored s;
    if (!unicode()) {
      s.length = d.at(design::kLabel);
      s.terminated = d.at(design::kLabel + 1 + s.length) == 0;
    } else {
      std::uint32_t n = 0, z = 1;
      std::memcpy(&n, &d.at(design::kLabel), 4);
      s.length = n;
      const std::size_t end = design::kLabel + 4 + 4 * static_cast<std::size_t>(n);
      if (end + 4 <= d.size()) std::memcpy(&z, &d[end], 4);
      s.terminated = z == 0;
    }
    return s;
  }
};
MORAVEL_BOTH_WIDTHS(Catalogue);

TEST_P(Catalogue, ParametersOfEachFunction)
{
  struct Row {
    int id;
    std::u32string label;
    unsigned long length;
  };
  const Row rows[] = {
      {kVersion, U"Parms: ()", 9},
      {kGetTagList, U"Parms: (taggedText,tagList,tagListColumn)", 41},
      {kDoSubstitutions,
       U"Parms: (taggedText,expandedText [,utfType [,forceEval [,stripAllLinebreaks [,senseBrackets]]]])", 95},
      {kMapKeywordsToFields, U"Parms: (mappingList)", 20},
      {kSetFilesDirectory, U"Parms: (dirPath)", 16},
      {kSetTags, U"Parms: (openTag,closeTag)", 25},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.id);
    DesignAnswer a = host->describe(row.id, design::kAskParameters);
    EXPECT_TRUE(a.changed);
    EXPECT_EQ(a.useDefault, 0);
    EXPECT_EQ(u8(a.label), u8(row.label));
    Stored s = stored();
    EXPECT_EQ(s.length, row.length);
    EXPECT_TRUE(s.terminated);
  }
}

TEST_P(Catalogue, ReturnValueIsTheSameForEveryFunction)
{
  for (int id = kVersion; id <= kSetTags; ++id) {
    SCOPED_TRACE(id);
    DesignAnswer a = host->describe(id, design::kAskReturnValue);
    EXPECT_EQ(u8(a.label), "Return Code :");
    EXPECT_EQ(a.useDefault, 0);
    EXPECT_EQ(stored().length, 13u);
    EXPECT_TRUE(stored().terminated);
  }
}

TEST_P(Catalogue, OtherQuestionsLeaveTheRecordUntouched)
{
  for (int qfldid : {0, 1, 4, 7, 255, -1}) {
    SCOPED_TRACE(qfldid);
    DesignAnswer a = host->describe(kDoSubstitutions, qfldid);
    EXPECT_FALSE(a.changed);
    EXPECT_EQ(a.useDefault, 1);
  }
}

TEST_P(Catalogue, PackageIdsWithoutAFunctionGiveOnlyThePrefix)
{
  // Id 0 names no string; id 7 names the library's own entry, which has no
  // parameter list.
  for (int id : {0, 7, 8, -3}) {
    SCOPED_TRACE(id);
    DesignAnswer a = host->describe(id, design::kAskParameters);
    EXPECT_EQ(u8(a.label), "Parms: ");
    EXPECT_EQ(stored().length, 7u);
  }
}

}  // namespace
}  // namespace moravel::test
