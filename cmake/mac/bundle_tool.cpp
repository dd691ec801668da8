// bundle_tool.cpp: build steps of the Mac bundle that no tool here provides.
//
//   mac_bundle_tool fix BUNDLE            completes the linker's rebase table
//   mac_bundle_tool rsrc CATALOGUE OUT    writes the catalogue as a classic resource file
//
// fix: the linker leaves two kinds of absolute address without a rebase
// entry, and a Mac always loads a bundle away from its link address: the
// operand of each import stub (jmp *lazy_pointer) and the two operands of
// the stub helper's head (push $cache; jmp *binder). Each gets a
// TEXT_ABSOLUTE32 entry, and the sections holding them are marked for
// dyld (S_ATTR_LOC_RELOC), which makes a read-only segment writable while it
// rebases it only then. The table is written compactly in the linker's slot,
// in the order of tables dyld checks. Pointer slots the linker leaves empty
// cannot be mended here, since the output no longer says which symbol each
// was for: they fail the step with a message.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "macho.h"

namespace {

using macho::Fixup;
using macho::Image;

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

struct Rebases {
  const Image& img;
  std::vector<Fixup> entries;
  std::set<std::pair<int, std::uint32_t>> places;

  explicit Rebases(const Image& i) : img(i), entries(i.rebases()) {
    for (const auto& f : entries) places.insert({f.segment, f.offset});
  }
  bool has(std::uint32_t addr) const {
    int seg = img.segmentIndexOf(addr);
    return places.count({seg, addr - img.segments[static_cast<std::size_t>(seg)].vmaddr}) > 0;
  }
  // Adds a text rebase for the absolute operand at `addr`, which must refer into the image.
  void addOperand(std::uint32_t addr, const std::string& what) {
    std::uint32_t target = img.read32(addr);
    if (target < img.base() || target >= img.end()) fail(what + " does not refer into the bundle");
    if (has(addr)) return;
    int seg = img.segmentIndexOf(addr);
    Fixup f;
    f.segment = seg;
    f.offset = addr - img.segments[static_cast<std::size_t>(seg)].vmaddr;
    f.type = macho::kTextAbsolute32;
    entries.push_back(f);
    places.insert({f.segment, f.offset});
  }
};

void expectBytes(const Image& img, std::uint32_t addr, std::initializer_list<std::uint8_t> want, const std::string& what) {
  std::size_t at = img.fileOffset(addr);
  std::size_t i = 0;
  for (std::uint8_t b : want)
    if (img.bytes.at(at + i++) != b) fail(what + ": not the instruction the linker is known to write");
}

void rebaseStubs(const Image& img, Rebases& r) {
  for (const auto& seg : img.segments)
    for (const auto& s : seg.sections) {
      if (s.type() != macho::kSymbolStubs) continue;
      if (s.reserved2 != 6) fail("stubs of " + std::to_string(s.reserved2) + " bytes; expected jmp *addr32 (6)");
      for (std::uint32_t at = s.addr; at + 6 <= s.addr + s.size; at += 6) {
        expectBytes(img, at, {0xFF, 0x25}, "stub");
        r.addOperand(at + 2, "a stub's operand");
      }
    }
  if (const auto* h = img.section("__TEXT", "__stub_helper"); h && h->size) {
    expectBytes(img, h->addr, {0x68}, "stub helper");
    expectBytes(img, h->addr + 5, {0xFF, 0x25}, "stub helper");
    r.addOperand(h->addr + 1, "the stub helper's cache operand");
    r.addOperand(h->addr + 7, "the stub helper's binder operand");
  }
}

// Every pointer slot must be bound to an import or be a rebased address of the bundle's own.
void checkPointerSlots(const Image& img, const Rebases& r) {
  std::set<std::uint32_t> bound;
  for (const auto& b : img.binds()) bound.insert(img.addressOf(b));
  for (const auto& seg : img.segments)
    for (const auto& s : seg.sections) {
      bool pointers = s.type() == macho::kNonLazyPointers || s.type() == macho::kLazyPointers;
      if (s.name == "__pointers" && s.type() == 0 && s.size)
        fail(std::to_string(s.size / 4) + " pointers to the bundle's own globals (" + s.segment + "," + s.name +
             ") were left empty by the linker: declare the globals that other units use hidden");
      if (!pointers) continue;
      for (std::uint32_t i = 0; i < s.size / 4; ++i) {
        std::uint32_t addr = s.addr + 4 * i;
        std::uint32_t sym = img.indirect.at(s.reserved1 + i);
        if (sym == macho::kIndirectAbsolute || bound.count(addr)) continue;
        if (!r.has(addr)) fail(s.segment + "," + s.name + ": a slot is neither bound nor rebased");
      }
    }
}

// Replaces the file whole; one that was there keeps its permissions.
void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) fail(temp + ": cannot be written");
  }
  std::error_code ec;
  auto perms = std::filesystem::status(path, ec).permissions();
  if (!ec) std::filesystem::permissions(temp, perms, ec);
  if (std::rename(temp.c_str(), path.c_str()) != 0) fail(path + ": cannot be replaced");
}

// Where each field that holds a file offset into __LINKEDIT lies in a load command of this kind.
std::vector<std::size_t> linkeditFields(std::uint32_t cmd) {
  switch (cmd) {
    case 0x2: return {8, 16};                           // LC_SYMTAB: symbols, strings
    case 0xB: return {32, 40, 48, 56, 64, 72};          // LC_DYSYMTAB
    case 0x22: case 0x80000022: return {8, 16, 24, 32, 40};  // LC_DYLD_INFO(_ONLY)
    case 0x1D: case 0x1E: case 0x26: case 0x29: case 0x2B: case 0x2E: return {8};  // linkedit_data_command
    case 0x1: case 0xC: case 0xD: case 0xE: case 0x1B: case 0x24: case 0x2A: case 0x32:
    case 0x80000018: case 0x8000001C: case 0x8000001F: return {};
    default: fail("load command " + std::to_string(cmd) + " is not known here: __LINKEDIT cannot be laid out again");
  }
}

// Puts the rebase table in the linker's slot for it, first of dyld's tables. When it does not fit, what
// follows the slot moves further into __LINKEDIT, keeping the order rebase, bind, weak bind, lazy bind, export.
void placeRebases(const Image& img, std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& table) {
  const macho::Segment* link = img.segment("__LINKEDIT");
  std::uint32_t slot = img.info.rebaseSize ? img.info.rebaseOff : link->fileoff;
  std::uint32_t slotEnd = slot + img.info.rebaseSize;
  std::uint32_t grow = 0;
  if (table.size() > img.info.rebaseSize) {
    grow = (static_cast<std::uint32_t>(table.size()) - img.info.rebaseSize + 7) & ~7u;
    out.insert(out.begin() + slotEnd, grow, 0);
    for (const auto& c : img.commands)
      for (std::size_t field : linkeditFields(c.cmd)) {
        std::uint32_t v = macho::get32(out, c.offset + field);
        if (v >= slotEnd) macho::put32(out, c.offset + field, v + grow);
      }
    std::uint32_t filesize = link->filesize + grow;
    macho::put32(out, link->commandOffset + 36, filesize);
    macho::put32(out, link->commandOffset + 28, (filesize + 4095) & ~4095u);
  }
  std::fill(out.begin() + slot, out.begin() + slotEnd + grow, 0);
  std::copy(table.begin(), table.end(), out.begin() + slot);
  macho::put32(out, img.info.commandOffset + 8, slot);
  macho::put32(out, img.info.commandOffset + 12, static_cast<std::uint32_t>(table.size()));
}

// A section of a read-only segment that dyld rebases carries S_ATTR_LOC_RELOC, so that dyld makes the
// segment writable while it rebases it.
void markTextRebases(const Image& img, std::vector<std::uint8_t>& out, const std::vector<Fixup>& entries) {
  for (const auto& f : entries) {
    const auto& seg = img.segments.at(static_cast<std::size_t>(f.segment));
    if (seg.initprot & macho::kProtWrite) continue;
    if (!(seg.maxprot & macho::kProtWrite)) fail(seg.name + " is rebased, but its maximum protection forbids writing");
    std::uint32_t addr = img.addressOf(f);
    auto s = std::find_if(seg.sections.begin(), seg.sections.end(),
                          [&](const macho::Section& c) { return addr >= c.addr && addr - c.addr < c.size; });
    if (s == seg.sections.end()) fail(seg.name + " is rebased outside its sections");
    macho::put32(out, s->headerOffset + 56, s->flags | macho::kLocalRelocations);
  }
}

// The mended file must read back with exactly these rebases, laid out as dyld wants.
void verify(const std::vector<std::uint8_t>& out, const std::vector<Fixup>& entries, const std::string& path) {
  Image img = macho::parse(out, path);
  for (const std::string& fault : {img.dyldInfoLayoutFault(), img.textRebaseFault()})
    if (!fault.empty()) fail(path + ": " + fault);
  auto key = [](const Fixup& f) { return std::make_tuple(f.segment, f.offset, f.type); };
  std::set<std::tuple<int, std::uint32_t, std::uint8_t>> want, got;
  for (const auto& f : entries) want.insert(key(f));
  for (const auto& f : img.rebases()) got.insert(key(f));
  if (want != got) fail(path + ": the rebase table does not read back as written");
}

void fix(const std::string& path) {
  Image img = macho::read(path);
  if (img.cputype != macho::kCpuI386 || img.filetype != macho::kBundle) fail(path + ": not an i386 bundle");
  if (!img.hasInfo) fail(path + ": no compressed dyld information");
  Rebases r(img);
  rebaseStubs(img, r);
  checkPointerSlots(img, r);
  const macho::Segment* link = img.segment("__LINKEDIT");
  if (!link || link->fileoff + link->filesize != img.bytes.size()) fail(path + ": __LINKEDIT does not end the file");
  std::vector<std::uint8_t> out = img.bytes;
  placeRebases(img, out, macho::encodeRebases(r.entries));
  markTextRebases(img, out, r.entries);
  verify(out, r.entries, path);
  writeFile(path, out);
}

void putBig(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> (8 * (n - 1 - i)));
}

// A resource file holding one string list, STR# 30708: the header, the
// data (a length, then the count and the Pascal strings), and the map.
void rsrc(const std::string& cataloguePath, const std::string& path) {
  std::ifstream in(cataloguePath, std::ios::binary);
  if (!in) fail(cataloguePath + ": cannot be read");
  std::vector<std::string> entries;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > 255) fail(cataloguePath + ": an entry longer than a Pascal string holds: " + line);
    for (unsigned char c : line)
      if (c < 0x20 || c > 0x7E) fail(cataloguePath + ": an entry that is not printable ASCII: " + line);
    entries.push_back(line);
  }
  std::vector<std::uint8_t> list(2);
  putBig(list, 0, static_cast<std::uint32_t>(entries.size()), 2);
  for (const auto& e : entries) {
    list.push_back(static_cast<std::uint8_t>(e.size()));
    list.insert(list.end(), e.begin(), e.end());
  }
  constexpr std::uint32_t kDataOffset = 256, kMapLength = 50;
  std::vector<std::uint8_t> file(kDataOffset + 4, 0);
  putBig(file, kDataOffset, static_cast<std::uint32_t>(list.size()), 4);
  file.insert(file.end(), list.begin(), list.end());
  auto dataLength = static_cast<std::uint32_t>(file.size()) - kDataOffset;
  auto mapOffset = static_cast<std::uint32_t>(file.size());
  std::vector<std::uint8_t> map(kMapLength, 0);
  putBig(map, 24, 28, 2);  // the type list, from the map's start
  putBig(map, 26, kMapLength, 2);  // the (empty) name list
  putBig(map, 28, 0, 2);  // one type
  putBig(map, 30, 0x53545223, 4);  // 'STR#'
  putBig(map, 34, 0, 2);  // one resource of it
  putBig(map, 36, 10, 2);  // its reference list, from the type list's start
  putBig(map, 38, 30708, 2);
  putBig(map, 40, 0xFFFF, 2);  // no name
  putBig(map, 42, 0, 1);  // attributes
  putBig(map, 43, 0, 3);  // its data, from the data's start
  file.insert(file.end(), map.begin(), map.end());
  for (std::size_t at : {std::size_t{0}, static_cast<std::size_t>(mapOffset)}) {
    putBig(file, at, kDataOffset, 4);
    putBig(file, at + 4, mapOffset, 4);
    putBig(file, at + 8, dataLength, 4);
    putBig(file, at + 12, kMapLength, 4);
  }
  writeFile(path, file);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "fix" && argc == 3) fix(argv[2]);
    else if (cmd == "rsrc" && argc == 4) rsrc(argv[2], argv[3]);
    else fail("usage: mac_bundle_tool fix BUNDLE | rsrc CATALOGUE OUT");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mac_bundle_tool: %s\n", e.what());
    return 1;
  }
  return 0;
}
