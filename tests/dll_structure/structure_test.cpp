// The shipped DLLs as files: 32-bit x86 (and their 64-bit twins), the one
// export, system DLLs only, and the catalogue resources byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <ostream>
#include <string>

#include "../expected_catalogue.h"
#include "pe_file.h"

namespace moravel::pe {
namespace {

struct Dll {
  std::string path;
  bool unicode;
  bool wide;  // 64-bit twin
};

void PrintTo(const Dll& d, std::ostream* os) { *os << d.path; }

std::string Name(const ::testing::TestParamInfo<Dll>& info) {
  return std::string(info.param.unicode ? "MoravelU" : "Moravel") + (info.param.wide ? "_x64" : "_x86");
}

constexpr std::uint32_t kRtString = 6, kRtRcdata = 10, kEnglishUs = 1033;

class Structure : public ::testing::TestWithParam<Dll> {
 protected:
  void SetUp() override { file = std::make_unique<File>(GetParam().path); }
  std::vector<const Resource*> ofType(std::uint32_t type) const {
    std::vector<const Resource*> r;
    for (const Resource& res : file->resources())
      if (res.type == type) r.push_back(&res);
    return r;
  }
  std::unique_ptr<File> file;
};

TEST_P(Structure, MachineType) {
  const std::uint16_t kI386 = 0x14C, kAmd64 = 0x8664, kDllFlag = 0x2000;
  EXPECT_EQ(file->machine(), GetParam().wide ? kAmd64 : kI386);
  EXPECT_EQ(file->isPe32Plus(), GetParam().wide);
  EXPECT_TRUE(file->characteristics() & kDllFlag);
}

TEST_P(Structure, TheOnlyExportIsTheEntryUndecorated) {
  EXPECT_EQ(file->exportNames(), std::vector<std::string>{"Moravel"});
  EXPECT_EQ(file->exportCount(), 1u);
}

TEST_P(Structure, ImportsOnlySystemDlls) {
  std::vector<std::string> dlls;
  for (std::string d : file->importedDlls()) {
    std::transform(d.begin(), d.end(), d.begin(), [](unsigned char c) { return std::tolower(c); });
    dlls.push_back(d);
  }
  std::sort(dlls.begin(), dlls.end());
  // kernel32 for memory, files and the beep, user32 for LoadString, and the
  // system's C runtime; no compiler runtime DLLs.
  EXPECT_EQ(dlls, (std::vector<std::string>{"kernel32.dll", "msvcrt.dll", "user32.dll"}));
}

TEST_P(Structure, StringTableHoldsTheCatalogueInEnglishUs) {
  auto blocks = ofType(kRtString);
  ASSERT_EQ(blocks.size(), 1u) << "one block of sixteen strings, in one language";
  const Resource& b = *blocks[0];
  ASSERT_TRUE(b.id.has_value());
  EXPECT_EQ(*b.id, 30704u / 16 + 1) << "the block of ids 30704 to 30719";
  EXPECT_EQ(b.language, kEnglishUs);
  // Sixteen counted UTF-16 strings.
  std::vector<std::string> strings;
  std::size_t at = 0;
  auto unit = [&](std::size_t i) { return static_cast<unsigned>(b.data.at(i) | b.data.at(i + 1) << 8); };
  for (int k = 0; k < 16; ++k) {
    unsigned len = unit(at);
    at += 2;
    std::string s;
    for (unsigned i = 0; i < len; ++i, at += 2) {
      unsigned c = unit(at);
      ASSERT_LT(c, 0x80u);
      s.push_back(static_cast<char>(c));
    }
    strings.push_back(s);
  }
  for (int k = 0; k < 16; ++k) {
    SCOPED_TRACE(30704 + k);
    if (k >= 4 && k <= 10)
      EXPECT_EQ(strings[k], kExpectedCatalogue[k - 4]);
    else
      EXPECT_EQ(strings[k], "");
  }
}

TEST_P(Structure, Q7infRecord) {
  auto data = ofType(kRtRcdata);
  ASSERT_EQ(data.size(), 1u);
  const Resource& q = *data[0];
  EXPECT_FALSE(q.id.has_value());
  EXPECT_EQ(q.name, u"Q7INF");
  EXPECT_EQ(q.language, kEnglishUs);
  std::vector<std::uint8_t> want{'7', 'C', 'M', 'D', 0xF4, 0x77, 0, 0, 0, 0, 0, 0, 0, 0};
  if (GetParam().unicode) want[0] = 'U';
  EXPECT_EQ(q.data, want);
}

INSTANTIATE_TEST_SUITE_P(Dlls, Structure,
                         ::testing::Values(Dll{MORAVEL_DLL32_DIR "/Moravel.dll", false, false},
                                           Dll{MORAVEL_DLL32_DIR "/MoravelU.dll", true, false},
                                           Dll{MORAVEL_DLL64_DIR "/Moravel.dll", false, true},
                                           Dll{MORAVEL_DLL64_DIR "/MoravelU.dll", true, true}),
                         Name);

}  // namespace
}  // namespace moravel::pe
