// pe_file.cpp: headers, export and import directories, and the resource tree of a PE file.
#include "pe_file.h"

#include <fstream>
#include <iterator>

namespace moravel::pe {

File::File(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw FormatError("cannot open " + path);
  bytes_.assign(std::istreambuf_iterator<char>(in), {});
  if (u16(0) != 0x5A4D) throw FormatError("no MZ header");
  std::size_t pe = u32(0x3C);
  if (u32(pe) != 0x00004550) throw FormatError("no PE signature");
  std::size_t coff = pe + 4;
  machine_ = u16(coff);
  std::uint16_t sectionCount = u16(coff + 2);
  std::uint16_t optionalSize = u16(coff + 16);
  characteristics_ = u16(coff + 18);
  std::size_t opt = coff + 20;
  std::uint16_t magic = u16(opt);
  if (magic != 0x10B && magic != 0x20B) throw FormatError("unknown optional header");
  pe32plus_ = magic == 0x20B;
  std::size_t dirs = opt + (pe32plus_ ? 112 : 96);
  std::uint32_t dirCount = u32(opt + (pe32plus_ ? 108 : 92));
  std::size_t table = opt + optionalSize;
  for (std::uint16_t i = 0; i < sectionCount; ++i) {
    std::size_t s = table + 40 * i;
    sections_.push_back({u32(s + 12), u32(s + 8), u32(s + 20), u32(s + 16)});
  }
  auto dir = [&](std::uint32_t n) { return n < dirCount ? u32(dirs + 8 * n) : 0u; };
  if (dir(0)) readExports(dir(0));
  if (dir(1)) readImports(dir(1));
  if (dir(2)) readResources(dir(2));
}

std::size_t File::offsetOf(std::uint32_t rva) const {
  for (const Section& s : sections_) {
    std::uint32_t span = s.size > s.rawSize ? s.size : s.rawSize;
    if (rva >= s.rva && rva < s.rva + span) {
      std::size_t off = s.rawOffset + (rva - s.rva);
      if (rva - s.rva >= s.rawSize || off >= bytes_.size()) throw FormatError("address not in the file");
      return off;
    }
  }
  throw FormatError("address outside every section");
}

std::uint16_t File::u16(std::size_t off) const {
  if (off + 2 > bytes_.size()) throw FormatError("read past the end");
  return static_cast<std::uint16_t>(bytes_[off] | bytes_[off + 1] << 8);
}

std::uint32_t File::u32(std::size_t off) const {
  return static_cast<std::uint32_t>(u16(off)) | static_cast<std::uint32_t>(u16(off + 2)) << 16;
}

std::string File::cString(std::size_t off) const {
  std::string s;
  for (; off < bytes_.size() && bytes_[off]; ++off) s.push_back(static_cast<char>(bytes_[off]));
  if (off >= bytes_.size()) throw FormatError("unterminated name");
  return s;
}

void File::readExports(std::uint32_t rva) {
  std::size_t d = offsetOf(rva);
  exportCount_ = u32(d + 20);
  std::uint32_t names = u32(d + 24);
  std::size_t table = offsetOf(u32(d + 32));
  for (std::uint32_t i = 0; i < names; ++i) exportNames_.push_back(cString(offsetOf(u32(table + 4 * i))));
}

void File::readImports(std::uint32_t rva) {
  for (std::size_t d = offsetOf(rva);; d += 20) {
    std::uint32_t name = u32(d + 12);
    if (!name && !u32(d) && !u32(d + 16)) break;
    imports_.push_back(cString(offsetOf(name)));
  }
}

void File::readResources(std::uint32_t rva) {
  std::size_t base = offsetOf(rva);
  readResourceDir(base, base, 0, Resource{});
}

// Levels: 0 type, 1 name, 2 language; below them the data entries.
void File::readResourceDir(std::size_t base, std::size_t dir, int level, Resource path) {
  if (level > 2) throw FormatError("resource tree too deep");
  std::size_t count = std::size_t{u16(dir + 12)} + u16(dir + 14);
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t e = dir + 16 + 8 * i;
    std::uint32_t name = u32(e), target = u32(e + 4);
    Resource r = path;
    if (level == 0) {
      if (name & 0x80000000u) throw FormatError("named resource types are not expected");
      r.type = name;
    } else if (level == 1) {
      if (name & 0x80000000u) {
        std::size_t s = base + (name & 0x7FFFFFFFu);
        std::uint16_t len = u16(s);
        for (std::uint16_t k = 0; k < len; ++k) r.name.push_back(static_cast<char16_t>(u16(s + 2 + 2 * k)));
      } else {
        r.id = name;
      }
    } else {
      r.language = name;
    }
    if (target & 0x80000000u) {
      readResourceDir(base, base + (target & 0x7FFFFFFFu), level + 1, r);
    } else {
      if (level != 2) throw FormatError("resource data above the language level");
      std::size_t entry = base + target;
      std::size_t off = offsetOf(u32(entry));
      std::uint32_t size = u32(entry + 4);
      if (off + size > bytes_.size()) throw FormatError("resource data past the end");
      r.data.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(off),
                    bytes_.begin() + static_cast<std::ptrdiff_t>(off + size));
      resources_.push_back(std::move(r));
    }
  }
}

}  // namespace moravel::pe
