// loader.cpp: mapping, rebasing and binding an i386 Mac bundle in this process.
#include "loader.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "macho.h"

namespace macbundle {

namespace {

namespace fs = std::filesystem;
using macho::Image;

struct Loaded {
  std::uint8_t* memory = nullptr;
  std::size_t size = 0;
  std::map<std::string, void*> exports;
};

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

std::string hex(std::uint32_t v) {
  char s[16];
  std::snprintf(s, sizeof s, "0x%X", v);
  return s;
}

// Every import is bound before the bundle runs, so the lazy binder is never
// reached; if it were, the bundle would be calling an import left unbound.
extern "C" void unexpectedLazyBind() {
  std::fprintf(stderr, "bundle loader: the lazy binder was called: an import was left unbound\n");
  std::abort();
}

void* resolve(const std::string& symbol) {
  if (symbol == "dyld_stub_binder") return reinterpret_cast<void*>(&unexpectedLazyBind);
  if (symbol.empty() || symbol[0] != '_') fail("import " + symbol + " is not a C function");
  void* f = dlsym(RTLD_DEFAULT, symbol.c_str() + 1);
  if (!f) fail("import " + symbol + " is not in this process");
  return f;
}

// The slots dyld writes or slides: pointers in pointer sections, the operand
// of each stub and the two operands of the stub helper's head.
std::vector<std::uint32_t> slotsToCheck(const Image& img) {
  std::vector<std::uint32_t> slots;
  for (const auto& seg : img.segments)
    for (const auto& s : seg.sections) {
      std::uint32_t t = s.type();
      if (t == macho::kNonLazyPointers || t == macho::kLazyPointers || t == macho::kInitPointers) {
        for (std::uint32_t i = 0; i < s.size / 4; ++i) {
          bool absolute = t != macho::kInitPointers && img.indirect.at(s.reserved1 + i) == macho::kIndirectAbsolute;
          if (!absolute) slots.push_back(s.addr + 4 * i);
        }
      } else if (t == macho::kSymbolStubs) {
        for (std::uint32_t at = s.addr; at + 6 <= s.addr + s.size; at += 6) slots.push_back(at + 2);
      }
    }
  if (const auto* h = img.section("__TEXT", "__stub_helper"); h && h->size >= 11) {
    slots.push_back(h->addr + 1);
    slots.push_back(h->addr + 7);
  }
  return slots;
}

void checkSlots(const Image& img, const std::vector<macho::Fixup>& rebases, const std::vector<macho::Fixup>& binds) {
  std::set<std::uint32_t> covered;
  for (const auto& f : rebases) covered.insert(img.addressOf(f));
  for (const auto& f : binds) covered.insert(img.addressOf(f));
  for (std::uint32_t slot : slotsToCheck(img))
    if (!covered.count(slot))
      fail("the slot at " + hex(slot) + " holds " + hex(img.read32(slot)) +
           " and is neither rebased nor bound: it would be wrong at any other address");
}

std::uint32_t* at(const Loaded& l, const Image& img, std::uint32_t addr) {
  return reinterpret_cast<std::uint32_t*>(l.memory + (addr - img.base()));
}

void map(Loaded& l, const Image& img) {
  long page = sysconf(_SC_PAGESIZE);
  l.size = (img.end() - img.base() + static_cast<std::size_t>(page) - 1) & ~static_cast<std::size_t>(page - 1);
  void* p = mmap(nullptr, l.size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) fail("no memory to map the bundle");
  l.memory = static_cast<std::uint8_t*>(p);
  if (reinterpret_cast<std::uintptr_t>(p) == img.base()) fail("mapped at the link address; the test wants it elsewhere");
  for (const auto& s : img.segments)
    if (s.filesize) std::memcpy(l.memory + (s.vmaddr - img.base()), img.bytes.data() + s.fileoff, s.filesize);
}

void relocate(const Loaded& l, const Image& img) {
  auto rebases = img.rebases();
  auto binds = img.binds();
  checkSlots(img, rebases, binds);
  std::uint32_t slide = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(l.memory)) - img.base();
  for (const auto& f : rebases) {
    if (f.type != macho::kPointer && f.type != macho::kTextAbsolute32) fail("a rebase of an unknown type");
    *at(l, img, img.addressOf(f)) += slide;
  }
  for (const auto& f : binds) {
    if (f.ordinal < 1 || static_cast<std::size_t>(f.ordinal) > img.dylibs.size())
      fail("import " + f.symbol + " is bound to no library (flat or dynamic lookup)");
    if (f.type != macho::kPointer) fail("import " + f.symbol + " is bound other than as a pointer");
    *at(l, img, img.addressOf(f)) = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(resolve(f.symbol))) +
                                     static_cast<std::uint32_t>(f.addend);
  }
}

// Segments get their own protection; then the initialisers run.
void start(Loaded& l, const Image& img) {
  for (const auto& s : img.segments) {
    int prot = ((s.initprot & 1) ? PROT_READ : 0) | ((s.initprot & 2) ? PROT_WRITE : 0) | ((s.initprot & 4) ? PROT_EXEC : 0);
    if (s.vmsize && mprotect(l.memory + (s.vmaddr - img.base()), s.vmsize, prot) != 0)
      fail("segment " + s.name + " cannot be protected");
  }
  for (const auto& seg : img.segments)
    for (const auto& s : seg.sections)
      if (s.type() == macho::kInitPointers)
        for (std::uint32_t i = 0; i < s.size / 4; ++i)
          reinterpret_cast<void (*)()>(static_cast<std::uintptr_t>(*at(l, img, s.addr + 4 * i)))();
  for (const auto& [name, offset] : img.exports()) l.exports[name] = l.memory + offset;
}

}  // namespace

std::string executableOf(const std::string& path) {
  fs::path p(path);
  if (p.extension() == ".bundle") return (p / "Contents" / "MacOS" / p.stem()).string();
  return path;
}

void* BundleLoader::open(const std::string& path, std::string& error) {
  auto l = std::make_unique<Loaded>();
  try {
    Image img = macho::read(executableOf(path));
    if (img.cputype != macho::kCpuI386 || img.filetype != macho::kBundle) fail("not an i386 bundle");
    if (!(img.flags & macho::kTwoLevel)) fail("not bound two-level");
    map(*l, img);
    relocate(*l, img);
    start(*l, img);
  } catch (const std::exception& e) {
    if (l->memory) munmap(l->memory, l->size);
    error = e.what();
    return nullptr;
  }
  return l.release();
}

void* BundleLoader::symbol(void* library, const char* name) {
  const auto& exports = static_cast<Loaded*>(library)->exports;
  auto it = exports.find(std::string("_") + name);
  return it == exports.end() ? nullptr : it->second;
}

void BundleLoader::close(void* library) {
  auto* l = static_cast<Loaded*>(library);
  munmap(l->memory, l->size);
  delete l;
}

}  // namespace macbundle
