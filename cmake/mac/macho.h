// macho.h: reading a 32-bit Mach-O file (the Mac bundle and its stubs): segments, symbols, and dyld's rebase,
// bind and export information; writing a new rebase table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace macho {

constexpr std::uint32_t kMagic = 0xFEEDFACE;
constexpr std::uint32_t kCpuI386 = 7;
constexpr std::uint32_t kBundle = 8;       // MH_BUNDLE
constexpr std::uint32_t kTwoLevel = 0x80;  // MH_TWOLEVEL

// Section types (the low byte of the flags).
constexpr std::uint32_t kZeroFill = 1;
constexpr std::uint32_t kNonLazyPointers = 6;
constexpr std::uint32_t kLazyPointers = 7;
constexpr std::uint32_t kSymbolStubs = 8;
constexpr std::uint32_t kInitPointers = 9;
// Section attribute: the section holds places dyld rebases (S_ATTR_LOC_RELOC), so a read-only segment
// holding it is made writable while dyld rebases it.
constexpr std::uint32_t kLocalRelocations = 0x100;

// Segment protections.
constexpr std::uint32_t kProtRead = 1, kProtWrite = 2, kProtExecute = 4;

constexpr std::uint32_t kIndirectLocal = 0x80000000u;
constexpr std::uint32_t kIndirectAbsolute = 0x40000000u;

// Rebase and bind types.
constexpr std::uint8_t kPointer = 1;
constexpr std::uint8_t kTextAbsolute32 = 2;

struct Section {
  std::string segment, name;
  std::uint32_t addr = 0, size = 0, offset = 0, flags = 0, reserved1 = 0, reserved2 = 0;
  std::size_t headerOffset = 0;  // where its header is in the file
  std::uint32_t type() const { return flags & 0xFF; }
};

struct Segment {
  std::string name;
  std::uint32_t vmaddr = 0, vmsize = 0, fileoff = 0, filesize = 0, maxprot = 0, initprot = 0;
  std::vector<Section> sections;
  std::size_t commandOffset = 0;  // where its load command is in the file
};

struct Symbol {
  std::string name;
  std::uint8_t type = 0, sect = 0;
  std::uint16_t desc = 0;
  std::uint32_t value = 0;
  bool undefined() const { return (type & 0x0E) == 0; }
  int libraryOrdinal() const { return (desc >> 8) & 0xFF; }
};

// A location that dyld slides (rebase) or fills with an imported address (bind).
struct Fixup {
  int segment = 0;
  std::uint32_t offset = 0;  // in the segment
  std::uint8_t type = kPointer;
  int ordinal = 0;           // bind: the library, from 1
  std::string symbol;        // bind
  std::int32_t addend = 0;   // bind
  bool lazy = false;         // bind: from the lazy table
};

struct DyldInfo {
  std::uint32_t rebaseOff = 0, rebaseSize = 0, bindOff = 0, bindSize = 0, weakOff = 0, weakSize = 0,
                lazyOff = 0, lazySize = 0, exportOff = 0, exportSize = 0;
  std::size_t commandOffset = 0;
};

struct LoadCommand {
  std::uint32_t cmd = 0;
  std::size_t offset = 0;  // in the file
};

struct Image {
  std::vector<std::uint8_t> bytes;
  std::vector<LoadCommand> commands;
  std::uint32_t cputype = 0, filetype = 0, flags = 0;
  std::vector<Segment> segments;  // in load-command order
  std::vector<std::string> dylibs;
  std::vector<Symbol> symbols;
  std::vector<std::uint32_t> indirect;  // the indirect symbol table
  std::uint32_t nundefsym = 0, iundefsym = 0;
  DyldInfo info;
  bool hasInfo = false;
  std::uint32_t minVersion = 0, sdkVersion = 0;  // LC_VERSION_MIN_MACOSX: 0x000A0600 is 10.6

  // The lowest address of the image (its mach header) and the end of its highest segment.
  std::uint32_t base() const;
  std::uint32_t end() const;
  const Segment* segment(const std::string& name) const;
  const Section* section(const std::string& segment, const std::string& name) const;
  int segmentIndexOf(std::uint32_t addr) const;  // -1: none
  // The file offset of a mapped address with file contents, or throws.
  std::size_t fileOffset(std::uint32_t addr) const;
  std::uint32_t read32(std::uint32_t addr) const;
  std::uint32_t addressOf(const Fixup& f) const { return segments.at(static_cast<std::size_t>(f.segment)).vmaddr + f.offset; }

  std::vector<Fixup> rebases() const;
  std::vector<Fixup> binds() const;  // the non-lazy, weak and lazy tables
  std::vector<std::pair<std::string, std::uint32_t>> exports() const;  // name, offset from base()

  // How dyld 10.12 and later refuse the layout of the LC_DYLD_INFO tables: each inside __LINKEDIT, in the
  // order rebase, bind, weak bind, lazy bind, export, none overlapping the one before. Empty: none.
  std::string dyldInfoLayoutFault() const;
  // Why dyld could not apply the rebases to a segment that is not writable: none of its sections carries
  // kLocalRelocations, or its maximum protection forbids writing. Empty: none.
  std::string textRebaseFault() const;
};

// Reads and checks the structure of a file; throws std::runtime_error naming what is wrong.
Image read(const std::string& path);
Image parse(std::vector<std::uint8_t> bytes, const std::string& what);

// A rebase table for these entries, sorted by place, each run of places an equal step apart in one
// opcode; ends with DONE.
std::vector<std::uint8_t> encodeRebases(std::vector<Fixup> entries);

// Decodes one bind entry of the lazy table from `at`, an offset into that table, as dyld's lazy binder does.
Fixup lazyBindAt(const Image& img, std::uint32_t at);

std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t at);
void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v);

}  // namespace macho
