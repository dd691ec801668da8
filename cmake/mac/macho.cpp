// macho.cpp: the 32-bit Mach-O reader and the rebase-table writer.
#include "macho.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <tuple>

namespace macho {

namespace {

constexpr std::uint32_t kSegmentCommand = 0x1, kSymtab = 0x2, kDysymtab = 0xB, kLoadDylib = 0xC,
                        kVersionMin = 0x24, kDyldInfo = 0x22, kDyldInfoOnly = 0x80000022;

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

std::string fixedName(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::string s(reinterpret_cast<const char*>(&b[at]), 16);
  return s.substr(0, s.find('\0'));
}

// Reads the opcode streams of dyld's tables.
class Stream {
 public:
  Stream(const std::vector<std::uint8_t>& b, std::uint32_t off, std::uint32_t size, const std::string& what)
      : b_(b), at_(off), end_(off + size), what_(what) {
    if (end_ < off || end_ > b.size()) fail(what + ": the table lies outside the file");
  }
  bool more() const { return at_ < end_; }
  std::uint8_t byte() {
    if (at_ >= end_) fail(what_ + ": the table ends inside an entry");
    return b_[at_++];
  }
  std::uint64_t uleb() {
    std::uint64_t v = 0;
    for (int shift = 0;; shift += 7) {
      std::uint8_t c = byte();
      if (shift < 64) v |= static_cast<std::uint64_t>(c & 0x7F) << shift;
      if (!(c & 0x80)) return v;
    }
  }
  std::int64_t sleb() {
    std::int64_t v = 0;
    int shift = 0;
    std::uint8_t c;
    do {
      c = byte();
      if (shift < 64) v |= static_cast<std::int64_t>(c & 0x7F) << shift;
      shift += 7;
    } while (c & 0x80);
    if (shift < 64 && (c & 0x40)) v |= -(static_cast<std::int64_t>(1) << shift);
    return v;
  }
  std::string cstring() {
    std::string s;
    for (char c; (c = static_cast<char>(byte())) != '\0';) s += c;
    return s;
  }
  std::uint32_t position() const { return at_; }
  void seek(std::uint32_t at) { at_ = at; }

 private:
  const std::vector<std::uint8_t>& b_;
  std::uint32_t at_, end_;
  std::string what_;
};

void parseSegment(Image& img, std::size_t at) {
  const auto& b = img.bytes;
  Segment s;
  s.commandOffset = at;
  s.name = fixedName(b, at + 8);
  s.vmaddr = get32(b, at + 24);
  s.vmsize = get32(b, at + 28);
  s.fileoff = get32(b, at + 32);
  s.filesize = get32(b, at + 36);
  s.maxprot = get32(b, at + 40);
  s.initprot = get32(b, at + 44);
  std::uint32_t nsects = get32(b, at + 48);
  if (static_cast<std::uint64_t>(s.fileoff) + s.filesize > b.size()) fail("segment " + s.name + " lies outside the file");
  if (s.filesize > s.vmsize) fail("segment " + s.name + " has more file than memory");
  for (std::uint32_t i = 0; i < nsects; ++i) {
    std::size_t p = at + 56 + 68 * i;
    Section c;
    c.name = fixedName(b, p);
    c.segment = fixedName(b, p + 16);
    c.addr = get32(b, p + 32);
    c.size = get32(b, p + 36);
    c.offset = get32(b, p + 40);
    c.flags = get32(b, p + 56);
    c.reserved1 = get32(b, p + 60);
    c.reserved2 = get32(b, p + 64);
    c.headerOffset = p;
    if (c.addr < s.vmaddr || static_cast<std::uint64_t>(c.addr) + c.size > static_cast<std::uint64_t>(s.vmaddr) + s.vmsize)
      fail("section " + c.segment + "," + c.name + " lies outside its segment");
    s.sections.push_back(c);
  }
  img.segments.push_back(std::move(s));
}

void parseSymbols(Image& img, std::size_t at) {
  const auto& b = img.bytes;
  std::uint32_t symoff = get32(b, at + 8), nsyms = get32(b, at + 12), stroff = get32(b, at + 16),
                strsize = get32(b, at + 20);
  if (static_cast<std::uint64_t>(symoff) + 12ull * nsyms > b.size() || static_cast<std::uint64_t>(stroff) + strsize > b.size())
    fail("the symbol table lies outside the file");
  for (std::uint32_t i = 0; i < nsyms; ++i) {
    std::size_t p = symoff + 12 * i;
    Symbol s;
    std::uint32_t strx = get32(b, p);
    if (strx >= strsize) fail("a symbol's name lies outside the string table");
    const char* name = reinterpret_cast<const char*>(&b[stroff + strx]);
    s.name.assign(name, strnlen(name, strsize - strx));
    s.type = b[p + 4];
    s.sect = b[p + 5];
    s.desc = static_cast<std::uint16_t>(b[p + 6] | (b[p + 7] << 8));
    s.value = get32(b, p + 8);
    img.symbols.push_back(std::move(s));
  }
}

void parseIndirect(Image& img, std::size_t at) {
  const auto& b = img.bytes;
  img.iundefsym = get32(b, at + 24);
  img.nundefsym = get32(b, at + 28);
  std::uint32_t off = get32(b, at + 56), n = get32(b, at + 60);
  if (static_cast<std::uint64_t>(off) + 4ull * n > b.size()) fail("the indirect symbol table lies outside the file");
  for (std::uint32_t i = 0; i < n; ++i) img.indirect.push_back(get32(b, off + 4 * i));
}

void parseDyldInfo(Image& img, std::size_t at) {
  const auto& b = img.bytes;
  DyldInfo& d = img.info;
  d.commandOffset = at;
  d.rebaseOff = get32(b, at + 8), d.rebaseSize = get32(b, at + 12);
  d.bindOff = get32(b, at + 16), d.bindSize = get32(b, at + 20);
  d.weakOff = get32(b, at + 24), d.weakSize = get32(b, at + 28);
  d.lazyOff = get32(b, at + 32), d.lazySize = get32(b, at + 36);
  d.exportOff = get32(b, at + 40), d.exportSize = get32(b, at + 44);
  img.hasInfo = true;
}

// Runs one bind table; the lazy one separates its entries with DONE. `firstOnly`: stops after one entry.
void decodeBinds(const Image& img, std::uint32_t off, std::uint32_t size, bool lazy, std::vector<Fixup>& out,
                 bool firstOnly = false) {
  Stream s(img.bytes, off, size, lazy ? "lazy bind table" : "bind table");
  Fixup f;
  f.lazy = lazy;
  std::uint64_t offset = 0;
  auto bind = [&] {
    f.offset = static_cast<std::uint32_t>(offset);
    if (static_cast<std::size_t>(f.segment) >= img.segments.size()) fail("a bind names a segment that is not there");
    out.push_back(f);
    offset += 4;
  };
  while (s.more() && !(firstOnly && !out.empty())) {
    std::uint8_t c = s.byte(), op = c & 0xF0, imm = c & 0x0F;
    switch (op) {
      case 0x00: if (!lazy) return; break;  // DONE
      case 0x10: f.ordinal = imm; break;
      case 0x20: f.ordinal = static_cast<int>(s.uleb()); break;
      case 0x30: f.ordinal = imm ? static_cast<std::int8_t>(0xF0 | imm) : 0; break;
      case 0x40: f.symbol = s.cstring(); break;
      case 0x50: f.type = imm; break;
      case 0x60: f.addend = static_cast<std::int32_t>(s.sleb()); break;
      case 0x70: f.segment = imm, offset = s.uleb(); break;
      case 0x80: offset += s.uleb(); break;
      case 0x90: bind(); break;
      case 0xA0: bind(), offset += s.uleb(); break;
      case 0xB0: bind(), offset += 4u * imm; break;
      case 0xC0: {
        std::uint64_t count = s.uleb(), skip = s.uleb();
        for (std::uint64_t i = 0; i < count; ++i) bind(), offset += skip;
        break;
      }
      default: fail("bind table: unknown opcode");
    }
  }
}

void encodeUleb(std::vector<std::uint8_t>& out, std::uint64_t v) {
  do {
    std::uint8_t c = v & 0x7F;
    v >>= 7;
    out.push_back(static_cast<std::uint8_t>(c | (v ? 0x80 : 0)));
  } while (v);
}

}  // namespace

std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  if (at + 4 > b.size()) fail("a read past the end of the file");
  return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16)) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> (8 * i));
}

Image parse(std::vector<std::uint8_t> bytes, const std::string& what) {
  Image img;
  img.bytes = std::move(bytes);
  const auto& b = img.bytes;
  if (b.size() < 28 || get32(b, 0) != kMagic) fail(what + ": not a 32-bit little-endian Mach-O file");
  img.cputype = get32(b, 4);
  img.filetype = get32(b, 12);
  std::uint32_t ncmds = get32(b, 16), sizeofcmds = get32(b, 20);
  img.flags = get32(b, 24);
  if (28ull + sizeofcmds > b.size()) fail(what + ": the load commands lie outside the file");
  try {
    std::size_t at = 28;
    for (std::uint32_t i = 0; i < ncmds; ++i) {
      std::uint32_t cmd = get32(b, at), size = get32(b, at + 4);
      if (size < 8 || at + size > 28 + sizeofcmds) fail("a load command lies outside the commands");
      img.commands.push_back({cmd, at});
      if (cmd == kSegmentCommand) parseSegment(img, at);
      else if (cmd == kSymtab) parseSymbols(img, at);
      else if (cmd == kDysymtab) parseIndirect(img, at);
      else if (cmd == kDyldInfo || cmd == kDyldInfoOnly) parseDyldInfo(img, at);
      else if (cmd == kVersionMin) img.minVersion = get32(b, at + 8), img.sdkVersion = get32(b, at + 12);
      else if (cmd == kLoadDylib) {
        std::uint32_t nameOff = get32(b, at + 8);
        if (nameOff >= size) fail("a library's name lies outside its command");
        const char* name = reinterpret_cast<const char*>(&b[at + nameOff]);
        img.dylibs.emplace_back(name, strnlen(name, size - nameOff));
      }
      at += size;
    }
  } catch (const std::runtime_error& e) {
    fail(what + ": " + e.what());
  }
  if (img.segments.empty()) fail(what + ": no segments");
  return img;
}

Image read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail(path + ": cannot be read");
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return parse(std::move(bytes), path);
}

std::uint32_t Image::base() const {
  std::uint32_t lo = UINT32_MAX;
  for (const auto& s : segments)
    if (s.vmsize && s.name != "__PAGEZERO") lo = std::min(lo, s.vmaddr);
  return lo;
}

std::uint32_t Image::end() const {
  std::uint32_t hi = 0;
  for (const auto& s : segments) hi = std::max(hi, s.vmaddr + s.vmsize);
  return hi;
}

const Segment* Image::segment(const std::string& name) const {
  for (const auto& s : segments)
    if (s.name == name) return &s;
  return nullptr;
}

const Section* Image::section(const std::string& seg, const std::string& name) const {
  for (const auto& s : segments)
    for (const auto& c : s.sections)
      if (c.segment == seg && c.name == name) return &c;
  return nullptr;
}

int Image::segmentIndexOf(std::uint32_t addr) const {
  for (std::size_t i = 0; i < segments.size(); ++i)
    if (addr >= segments[i].vmaddr && addr - segments[i].vmaddr < segments[i].vmsize) return static_cast<int>(i);
  return -1;
}

std::size_t Image::fileOffset(std::uint32_t addr) const {
  int i = segmentIndexOf(addr);
  if (i < 0) fail("address " + std::to_string(addr) + " is in no segment");
  const Segment& s = segments[static_cast<std::size_t>(i)];
  if (addr - s.vmaddr >= s.filesize) fail("address " + std::to_string(addr) + " has no contents in the file");
  return s.fileoff + (addr - s.vmaddr);
}

std::uint32_t Image::read32(std::uint32_t addr) const { return get32(bytes, fileOffset(addr)); }

std::vector<Fixup> Image::rebases() const {
  std::vector<Fixup> out;
  if (!hasInfo || !info.rebaseSize) return out;
  Stream s(bytes, info.rebaseOff, info.rebaseSize, "rebase table");
  Fixup f;
  std::uint64_t offset = 0;
  auto rebase = [&] {
    if (static_cast<std::size_t>(f.segment) >= segments.size()) fail("a rebase names a segment that is not there");
    f.offset = static_cast<std::uint32_t>(offset);
    out.push_back(f);
    offset += 4;
  };
  while (s.more()) {
    std::uint8_t c = s.byte(), op = c & 0xF0, imm = c & 0x0F;
    switch (op) {
      case 0x00: return out;  // DONE
      case 0x10: f.type = imm; break;
      case 0x20: f.segment = imm, offset = s.uleb(); break;
      case 0x30: offset += s.uleb(); break;
      case 0x40: offset += 4u * imm; break;
      case 0x50: for (int i = 0; i < imm; ++i) rebase(); break;
      case 0x60: for (std::uint64_t i = 0, n = s.uleb(); i < n; ++i) rebase(); break;
      case 0x70: rebase(), offset += s.uleb(); break;
      case 0x80: {
        std::uint64_t count = s.uleb(), skip = s.uleb();
        for (std::uint64_t i = 0; i < count; ++i) rebase(), offset += skip;
        break;
      }
      default: fail("rebase table: unknown opcode");
    }
  }
  return out;
}

std::vector<Fixup> Image::binds() const {
  std::vector<Fixup> out;
  if (!hasInfo) return out;
  if (info.bindSize) decodeBinds(*this, info.bindOff, info.bindSize, false, out);
  if (info.weakSize) decodeBinds(*this, info.weakOff, info.weakSize, false, out);
  if (info.lazySize) decodeBinds(*this, info.lazyOff, info.lazySize, true, out);
  return out;
}

std::vector<std::pair<std::string, std::uint32_t>> Image::exports() const {
  std::vector<std::pair<std::string, std::uint32_t>> out;
  if (!hasInfo || !info.exportSize) return out;
  // Depth first through the trie; each node is visited once.
  std::vector<std::pair<std::uint32_t, std::string>> todo{{0, ""}};
  std::vector<bool> seen(info.exportSize, false);
  while (!todo.empty()) {
    auto [node, prefix] = todo.back();
    todo.pop_back();
    if (node >= info.exportSize || seen[node]) fail("export trie: a node is out of place");
    seen[node] = true;
    Stream s(bytes, info.exportOff, info.exportSize, "export trie");
    s.seek(info.exportOff + node);
    std::uint64_t terminal = s.uleb();
    std::uint32_t children = s.position() + static_cast<std::uint32_t>(terminal);
    if (terminal) {
      s.uleb();  // flags
      out.emplace_back(prefix, static_cast<std::uint32_t>(s.uleb()));
    }
    s.seek(children);
    for (std::uint8_t n = s.byte(); n > 0; --n) {
      std::string edge = s.cstring();
      todo.emplace_back(static_cast<std::uint32_t>(s.uleb()), prefix + edge);
    }
  }
  return out;
}

std::string Image::dyldInfoLayoutFault() const {
  const Segment* link = segment("__LINKEDIT");
  if (!hasInfo) return "";
  if (!link) return "no __LINKEDIT segment holds the dyld information";
  struct Table {
    const char* name;
    std::uint32_t off, size;
  };
  const Table tables[] = {{"rebase", info.rebaseOff, info.rebaseSize},
                          {"bind", info.bindOff, info.bindSize},
                          {"weak bind", info.weakOff, info.weakSize},
                          {"lazy bind", info.lazyOff, info.lazySize},
                          {"export", info.exportOff, info.exportSize}};
  std::uint64_t end = link->fileoff, linkEnd = static_cast<std::uint64_t>(link->fileoff) + link->filesize;
  const char* before = nullptr;
  for (const Table& t : tables) {
    if (!t.size) continue;
    if (t.off < end)
      return before ? std::string("the ") + t.name + " information overlaps the " + before +
                          " information before it: dyld wants the tables in the order rebase, bind, weak bind, lazy "
                          "bind, export"
                    : std::string("the ") + t.name + " information starts before __LINKEDIT";
    end = static_cast<std::uint64_t>(t.off) + t.size;
    if (end > linkEnd) return std::string("the ") + t.name + " information runs past the end of __LINKEDIT";
    before = t.name;
  }
  return "";
}

std::string Image::textRebaseFault() const {
  std::set<int> rebased;
  for (const Fixup& f : rebases()) rebased.insert(f.segment);
  for (int i : rebased) {
    const Segment& seg = segments.at(static_cast<std::size_t>(i));
    if (seg.initprot & kProtWrite) continue;
    bool marked = std::any_of(seg.sections.begin(), seg.sections.end(),
                              [](const Section& c) { return (c.flags & kLocalRelocations) != 0; });
    if (!marked)
      return "segment " + seg.name + " is rebased but is not writable, and none of its sections carries " +
             "S_ATTR_LOC_RELOC: dyld would not make it writable to rebase it";
    if (!(seg.maxprot & kProtWrite)) return "segment " + seg.name + " is rebased but its maximum protection forbids writing";
  }
  return "";
}

Fixup lazyBindAt(const Image& img, std::uint32_t at) {
  if (!img.hasInfo || at >= img.info.lazySize) fail("a lazy bind offset outside the lazy bind table");
  std::vector<Fixup> out;
  decodeBinds(img, img.info.lazyOff + at, img.info.lazySize - at, true, out, true);
  if (out.empty()) fail("a lazy bind offset where no entry is");
  return out.front();
}

std::vector<std::uint8_t> encodeRebases(std::vector<Fixup> entries) {
  std::sort(entries.begin(), entries.end(), [](const Fixup& a, const Fixup& b) {
    return std::tie(a.segment, a.offset) < std::tie(b.segment, b.offset);
  });
  std::vector<std::uint8_t> out;
  int type = -1, segment = -1;
  std::uint32_t next = 0;  // where dyld's address stands after the last opcode
  for (std::size_t i = 0; i < entries.size();) {
    const Fixup& f = entries[i];
    if (f.type != type) out.push_back(static_cast<std::uint8_t>(0x10 | f.type)), type = f.type;
    if (f.segment != segment || f.offset < next) {
      out.push_back(static_cast<std::uint8_t>(0x20 | f.segment));
      encodeUleb(out, f.offset);
      segment = f.segment;
    } else if (f.offset - next < 16 * 4 && (f.offset - next) % 4 == 0) {
      if (f.offset != next) out.push_back(static_cast<std::uint8_t>(0x40 | (f.offset - next) / 4));
    } else {
      out.push_back(0x30);
      encodeUleb(out, f.offset - next);
    }
    // The run of places an equal step apart that starts here.
    std::size_t n = 1;
    std::uint32_t step = i + 1 < entries.size() ? entries[i + 1].offset - f.offset : 0;
    while (i + n < entries.size() && step >= 4 && entries[i + n].segment == f.segment && entries[i + n].type == f.type &&
           entries[i + n].offset - entries[i + n - 1].offset == step)
      ++n;
    if (n == 1) step = 4;
    if (step == 4 && n < 16) {
      out.push_back(static_cast<std::uint8_t>(0x50 | n));
    } else if (step == 4) {
      out.push_back(0x60);
      encodeUleb(out, n);
    } else {
      out.push_back(0x80);
      encodeUleb(out, n);
      encodeUleb(out, step - 4);
    }
    next = f.offset + static_cast<std::uint32_t>(n) * step;
    i += n;
  }
  out.push_back(0x00);
  while (out.size() % 4) out.push_back(0x00);
  return out;
}

}  // namespace macho
