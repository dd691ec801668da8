// The shipped Mac bundle's files as a Mac would find them: the executable's
// header, exports, libraries, imports and address fixups, and the resource
// file's catalogue.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "macho.h"
#include "macsubst.h"

#include "../../platform/mac_api.h"

namespace {

namespace fs = std::filesystem;
const fs::path kBundle = MORAVEL_MAC_BUNDLE;
const fs::path kExecutable = kBundle / "Contents" / "MacOS" / "MoravelMac";

const std::string kCarbon = "/System/Library/Frameworks/Carbon.framework/Versions/A/Carbon";
const std::string kSystem = "/usr/lib/libSystem.B.dylib";

macho::Image shipped() { return macho::read(kExecutable.string()); }

TEST(MacBundle, IsAnI386BundleForMacOS106ExportingOnlyMain) {
  for (const char* part : {"Contents/Info.plist", "Contents/Resources/MoravelMac.rsrc"})
    EXPECT_TRUE(fs::is_regular_file(kBundle / part)) << part;
  macho::Image img = shipped();
  EXPECT_EQ(img.cputype, macho::kCpuI386);
  EXPECT_EQ(img.filetype, macho::kBundle);
  EXPECT_TRUE(img.flags & macho::kTwoLevel);
  EXPECT_EQ(img.minVersion, 0x000A0600u) << "the compressed dyld information needs 10.6";
  EXPECT_EQ(img.dyldInfoLayoutFault(), "");
  auto exports = img.exports();
  ASSERT_EQ(exports.size(), 1u);
  EXPECT_EQ(exports[0].first, "_main");
  EXPECT_NE(fs::status(kExecutable).permissions() & fs::perms::owner_exec, fs::perms::none);
}

// Each import is bound two-level to Carbon or libSystem, and is a function
// the Mac platform layer names; the lazy ones are bound too.
TEST(MacBundle, ImportsComeFromCarbonAndLibSystemOnly) {
  macho::Image img = shipped();
  ASSERT_EQ(img.dylibs, (std::vector<std::string>{kCarbon, kSystem}));
  std::map<std::string, std::set<std::string>> imported;
  for (const auto& b : img.binds()) {
    ASSERT_GE(b.ordinal, 1) << b.symbol << " is left to flat or dynamic lookup";
    imported[img.dylibs.at(static_cast<std::size_t>(b.ordinal - 1))].insert(b.symbol);
  }
  for (std::uint32_t i = img.iundefsym; i < img.iundefsym + img.nundefsym; ++i) {
    const auto& sym = img.symbols.at(i);
    int ordinal = sym.libraryOrdinal();
    EXPECT_TRUE(ordinal == 1 || ordinal == 2) << sym.name << ": library ordinal " << ordinal;
    EXPECT_TRUE(imported[img.dylibs.at(1)].count(sym.name) || imported[img.dylibs.at(0)].count(sym.name))
        << sym.name << " has no bind entry";
  }
  EXPECT_EQ(imported[kCarbon],
            (std::set<std::string>{"_CreateTextEncoding", "_DisposePtr", "_GetIndString", "_HOpen",
                                   "_NewPtrClear", "_PBCloseSync", "_PBGetEOFSync", "_PBReadSync", "_SetFPos",
                                   "_SysBeep", "_TECConvertText", "_TECCreateConverter", "_TECFlushText",
                                   "_dtox80", "_x80tod"}));
  EXPECT_EQ(imported[kSystem], (std::set<std::string>{"___bzero", "_free", "_malloc", "_memcpy", "_memmove",
                                                      "_strlen", "_wcschr", "_wcslen", "_wmemchr",
                                                      "dyld_stub_binder"}));
  std::set<std::uint32_t> lazyBound;
  for (const auto& b : img.binds())
    if (b.lazy) lazyBound.insert(img.addressOf(b));
  for (const auto& seg : img.segments)
    for (const auto& s : seg.sections)
      if (s.type() == macho::kLazyPointers) {
        for (std::uint32_t a = s.addr; a < s.addr + s.size; a += 4) EXPECT_TRUE(lazyBound.count(a)) << a;
      }
}

// The same objects linked at another address hold the other address
// wherever the linker wrote an absolute address of the bundle's own, and
// each such place must be in the rebase table: a Mac loads a bundle where
// it can. (Bytes that differ otherwise are the header's addresses.) A
// section of a read-only segment holding such a place is marked for dyld,
// which otherwise leaves the segment read-only.
TEST(MacBundle, EveryAbsoluteAddressOfItsOwnIsRebased) {
  macho::Image a = shipped(), b = macho::read(MORAVEL_MAC_BUNDLE_REBASED);
  ASSERT_EQ(a.segments.size(), b.segments.size());
  std::uint32_t delta = b.base() - a.base();
  ASSERT_NE(delta, 0u);
  std::set<std::uint32_t> rebased;
  for (const auto& f : a.rebases()) {
    std::uint32_t at = a.addressOf(f);
    rebased.insert(at);
    EXPECT_EQ(b.read32(at + delta) - a.read32(at), delta) << "a rebase where no address of its own is: " << at;
    const auto& seg = a.segments.at(static_cast<std::size_t>(f.segment));
    if (seg.initprot & macho::kProtWrite) continue;
    for (const auto& s : seg.sections) {
      if (at - s.addr < s.size) {
        EXPECT_TRUE(s.flags & macho::kLocalRelocations) << s.name << " lacks S_ATTR_LOC_RELOC";
      }
    }
  }
  EXPECT_EQ(a.textRebaseFault(), "");
  EXPECT_EQ(b.rebases().size(), rebased.size());
  std::size_t headers = 28 + macho::get32(a.bytes, 20), addresses = 0;
  for (std::size_t i = 0; i < a.segments.size(); ++i) {
    const auto& sa = a.segments[i];
    if (sa.name == "__LINKEDIT") continue;
    ASSERT_EQ(sa.filesize, b.segments[i].filesize) << sa.name;
    for (std::uint32_t k = 0; k + 4 <= sa.filesize; ++k) {
      if (sa.fileoff + k < headers) continue;
      std::uint32_t x = macho::get32(a.bytes, sa.fileoff + k), y = macho::get32(b.bytes, b.segments[i].fileoff + k);
      if (y - x != delta) continue;
      ++addresses;
      EXPECT_TRUE(rebased.count(sa.vmaddr + k)) << sa.name << ": the address at " << sa.vmaddr + k << " is not rebased";
    }
  }
  EXPECT_EQ(addresses, rebased.size());
}

// Zero-fill sections that the linker placed inside the file must hold zeros there.
TEST(MacBundle, ZeroFillInsideTheFileIsZero) {
  macho::Image img = shipped();
  for (const auto& seg : img.segments)
    for (const auto& s : seg.sections)
      if (s.type() == macho::kZeroFill) {
        for (std::uint32_t a = s.addr; a < s.addr + s.size && a - seg.vmaddr < seg.filesize; ++a)
          ASSERT_EQ(img.bytes[seg.fileoff + (a - seg.vmaddr)], 0) << s.name << " at " << a;
      }
}

// The resource file read as the Resource Manager reads it: STR# 30708 holds
// the catalogue, entry for entry, in Mac Roman (ASCII here).
TEST(MacBundle, TheResourceFileHoldsTheCatalogue) {
  macsubst::useResourceFile((kBundle / "Contents" / "Resources" / "MoravelMac.rsrc").string());
  std::ifstream in(MORAVEL_CATALOGUE_FILE);
  std::vector<std::string> catalogue;
  for (std::string line; std::getline(in, line);) catalogue.push_back(line);
  ASSERT_FALSE(catalogue.empty());
  for (std::size_t i = 0; i <= catalogue.size(); ++i) {
    Str255 s{};
    GetIndString(s, 30708, static_cast<SInt16>(i + 1));
    std::string got(reinterpret_cast<const char*>(s + 1), s[0]);
    EXPECT_EQ(got, i < catalogue.size() ? catalogue[i] : "") << "entry " << i + 1;
  }
}

}  // namespace
