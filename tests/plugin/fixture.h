// fixture.h: drives a test build of the plug-in, in each unit width, through the test host.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "moravel/host.h"
#include "moravel/text.h"
#include "moravel_testexports.h"

// Whether the plug-in under test is a Windows DLL: under wine, or run by the
// PE loader in a Linux process (which defines it).
#if defined(_WIN32) && !defined(MORAVEL_WINDOWS_PLUGIN)
#define MORAVEL_WINDOWS_PLUGIN 1
#endif

namespace moravel::test {

// What the record looked like, read through the test build's inspector.
using RecordInfo = MoravelRecordInfo;

// The buffers' sizes at load, in units in every build, and the least step
// by which a buffer grows.
struct BufferUnits {
  static constexpr long kBuffer = 32768, kBufOut = 65536, kTagBuf = 1024, kSubBuf = 262144, kKwdBuf = 10240;
  static constexpr long kChunk = 32768;
};

// A path of the build in the form the test's own system opens.
std::string NativePath(const std::string& path);
std::string LibraryPath(Width width);
std::string WidthName(const ::testing::TestParamInfo<Width>& info);

class PluginTest : public ::testing::TestWithParam<Width> {
 protected:
  void SetUp() override;
  void TearDown() override;

  bool unicode() const { return GetParam() == Width::Unicode; }
  long unit() const { return unicode() ? 4 : 1; }
  // The byte size of `units` units, as the record's sizes count.
  long bytes(long units) const { return units * unit(); }
  RecordInfo info() const;

  // DoSubstitutions of `text` into the variable "out", with the options as
  // further parameters (utfType, forceEval, stripAllLinebreaks, senseBrackets).
  int expand(const std::u32string& text, std::vector<Arg> options = {});
  std::u32string out() const { return host->text(U"out"); }
  // Expands and returns the text; fails the test when the result is not 0.
  std::u32string expanded(const std::u32string& text, std::vector<Arg> options = {});
  // GetTagList of `text` into the list "tags"; the rows' first column.
  std::vector<std::u32string> tagList(const std::u32string& text, int* code = nullptr);
  int setTags(const std::u32string& open, const std::u32string& close);
  int mapKeywords(std::vector<std::vector<std::u32string>> rows,
                  std::vector<std::u32string> columns = {U"keyword", U"field"});

  std::unique_ptr<Host> host;
};

#if MORAVEL_FIXTURE_MAC
// The Mac build: Unicode only, its host reached through the parameter block.
inline constexpr Form kFixtureForm = Form::Mac;
#define MORAVEL_BOTH_WIDTHS(Suite) \
  INSTANTIATE_TEST_SUITE_P(Mac, Suite, ::testing::Values(Width::Unicode), ::moravel::test::WidthName)
#else
inline constexpr Form kFixtureForm = Form::Windows;
#define MORAVEL_BOTH_WIDTHS(Suite)                                                              \
  INSTANTIATE_TEST_SUITE_P(Widths, Suite, ::testing::Values(Width::Byte, Width::Unicode), \
                           ::moravel::test::WidthName)
#endif

}  // namespace moravel::test
