// loader.cpp: mapping, rebasing and binding an i386 Mac bundle in this process, as dyld does.
#include "loader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <vector>

#include "macho.h"
#include "standins.h"

// dyld_stub_binder as dyld gives it: the stub helper has pushed the bundle's cache slot and the offset of
// the import's lazy bind entry over the return address of the bundle's call. The bind routine gets both
// and the stack pointer the bundle called with; the import it returns is entered as if called directly.
asm(R"(
  .text
  .globl macbundle_stub_binder
  .hidden macbundle_stub_binder
  .type macbundle_stub_binder, @function
macbundle_stub_binder:
  pushl %ebp
  movl %esp, %ebp
  pushl %eax
  pushl %ecx
  pushl %edx
  andl $-16, %esp
  subl $4, %esp
  leal 16(%ebp), %eax
  pushl %eax
  pushl 8(%ebp)
  pushl 4(%ebp)
  call macbundle_lazy_bind
  movl %eax, 8(%ebp)
  leal -12(%ebp), %esp
  popl %edx
  popl %ecx
  popl %eax
  popl %ebp
  addl $4, %esp
  ret
  .size macbundle_stub_binder, .-macbundle_stub_binder
)");

namespace macbundle {

namespace {

namespace fs = std::filesystem;
using macho::Fixup;
using macho::Image;

struct Loaded {
  Image img;
  std::uint8_t* memory = nullptr;
  std::size_t size = 0;
  std::map<std::string, void*> exports;

  std::uint32_t slide() const { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(memory)) - img.base(); }
  std::uint8_t* at(std::uint32_t addr) const { return memory + (addr - img.base()); }
  // The 4 bytes at an address of the image, which a stub's operand leaves unaligned.
  std::uint32_t get(std::uint32_t addr) const {
    std::uint32_t v;
    std::memcpy(&v, at(addr), 4);
    return v;
  }
  std::uint32_t put(std::uint32_t addr, std::uint32_t v) const {
    std::memcpy(at(addr), &v, 4);
    return v;
  }
};

// The bundles loaded and not yet closed, for the lazy binder.
std::vector<Loaded*>& loaded() {
  static std::vector<Loaded*> all;
  return all;
}

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

std::string hex(std::uint32_t v) {
  char s[16];
  std::snprintf(s, sizeof s, "0x%X", v);
  return s;
}

int protectionOf(std::uint32_t vmprot) {
  return ((vmprot & macho::kProtRead) ? PROT_READ : 0) | ((vmprot & macho::kProtWrite) ? PROT_WRITE : 0) |
         ((vmprot & macho::kProtExecute) ? PROT_EXEC : 0);
}

// Two-level: the symbol comes from the library the entry's ordinal names, and from no other.
std::uint32_t resolve(const Image& img, const Fixup& f) {
  if (f.ordinal < 1 || static_cast<std::size_t>(f.ordinal) > img.dylibs.size())
    fail("import " + f.symbol + " is bound to no library (flat or dynamic lookup)");
  const std::string& library = img.dylibs[static_cast<std::size_t>(f.ordinal - 1)];
  const auto* set = standInsOf(library);
  if (!set) fail("import " + f.symbol + " is bound to " + library + ", which no Mac provides here");
  auto it = set->find(f.symbol);
  if (it == set->end()) fail("import " + f.symbol + " is not in " + library);
  if (f.type != macho::kPointer) fail("import " + f.symbol + " is bound other than as a pointer");
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(it->second)) + static_cast<std::uint32_t>(f.addend);
}

bool writable(const Image& img, std::uint32_t addr) {
  int i = img.segmentIndexOf(addr);
  return i >= 0 && (img.segments[static_cast<std::size_t>(i)].initprot & macho::kProtWrite);
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

// What dyld refuses before it maps anything, and what would be wrong at any address but the link address.
void check(const Image& img) {
  if (img.cputype != macho::kCpuI386 || img.filetype != macho::kBundle) fail("not an i386 bundle");
  if (!(img.flags & macho::kTwoLevel)) fail("not bound two-level");
  std::string faults;
  for (const std::string& f : {img.dyldInfoLayoutFault(), img.textRebaseFault()})
    if (!f.empty()) faults += (faults.empty() ? "" : "; ") + f;
  if (!faults.empty()) fail(faults);
  std::set<std::uint32_t> covered;
  for (const auto& f : img.rebases()) covered.insert(img.addressOf(f));
  for (const auto& f : img.binds()) {
    covered.insert(img.addressOf(f));
    if (!writable(img, img.addressOf(f))) fail("import " + f.symbol + " is bound into a segment that is not writable");
    resolve(img, f);
  }
  for (std::uint32_t slot : slotsToCheck(img))
    if (!covered.count(slot))
      fail("the slot at " + hex(slot) + " holds " + hex(img.read32(slot)) +
           " and is neither rebased nor bound: it would be wrong at any other address");
}

// Each segment from the file with its initial protection, away from the link address; the rest of its
// memory zero.
void map(Loaded& l, const std::string& path) {
  const Image& img = l.img;
  auto page = static_cast<std::uint32_t>(sysconf(_SC_PAGESIZE));
  l.size = (img.end() - img.base() + page - 1) & ~static_cast<std::size_t>(page - 1);
  void* p = mmap(nullptr, l.size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) fail("no memory to map the bundle");
  l.memory = static_cast<std::uint8_t*>(p);
  if (reinterpret_cast<std::uintptr_t>(p) == img.base()) fail("mapped at the link address; the test wants it elsewhere");
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) fail("cannot be opened for mapping");
  for (const auto& s : img.segments) {
    if (s.vmaddr % page || s.fileoff % page) fail("segment " + s.name + " is not page-aligned");
    std::uint32_t inFile = (s.filesize + page - 1) & ~(page - 1);
    int prot = protectionOf(s.initprot);
    if (s.filesize && mmap(l.at(s.vmaddr), inFile, prot, MAP_PRIVATE | MAP_FIXED, fd, s.fileoff) == MAP_FAILED) {
      ::close(fd);
      fail("segment " + s.name + " cannot be mapped");
    }
    if (s.vmsize > inFile &&
        mmap(l.at(s.vmaddr + inFile), s.vmsize - inFile, prot, MAP_PRIVATE | MAP_FIXED | MAP_ANONYMOUS, -1, 0) == MAP_FAILED) {
      ::close(fd);
      fail("segment " + s.name + " cannot be mapped");
    }
  }
  ::close(fd);
}

// Rebases, with a read-only segment writable meanwhile (check() made sure dyld would allow it); then the
// non-lazy binds. Lazy pointers keep their rebased way into the stub helper.
void relocate(const Loaded& l) {
  const Image& img = l.img;
  auto protect = [&](const macho::Segment& s, std::uint32_t vmprot) {
    if (mprotect(l.at(s.vmaddr), s.vmsize, protectionOf(vmprot)) != 0) fail("segment " + s.name + " cannot be protected");
  };
  auto rebases = img.rebases();
  std::set<int> readOnly;
  for (const auto& f : rebases)
    if (!(img.segments.at(static_cast<std::size_t>(f.segment)).initprot & macho::kProtWrite)) readOnly.insert(f.segment);
  for (int i : readOnly) protect(img.segments[static_cast<std::size_t>(i)], macho::kProtRead | macho::kProtWrite);
  for (const auto& f : rebases) {
    if (f.type != macho::kPointer && f.type != macho::kTextAbsolute32) fail("a rebase of an unknown type");
    l.put(img.addressOf(f), l.get(img.addressOf(f)) + l.slide());
  }
  for (int i : readOnly) protect(img.segments[static_cast<std::size_t>(i)], img.segments[static_cast<std::size_t>(i)].initprot);
  for (const auto& f : img.binds())
    if (!f.lazy) l.put(img.addressOf(f), resolve(img, f));
}

void start(Loaded& l) {
  const Image& img = l.img;
  for (const auto& seg : img.segments)
    for (const auto& s : seg.sections)
      if (s.type() == macho::kInitPointers)
        for (std::uint32_t i = 0; i < s.size / 4; ++i)
          reinterpret_cast<void (*)()>(static_cast<std::uintptr_t>(l.get(s.addr + 4 * i)))();
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
    std::string executable = executableOf(path);
    l->img = macho::read(executable);
    check(l->img);
    map(*l, executable);
    relocate(*l);
    start(*l);
  } catch (const std::exception& e) {
    if (l->memory) munmap(l->memory, l->size);
    error = e.what();
    return nullptr;
  }
  loaded().push_back(l.get());
  return l.release();
}

void* BundleLoader::symbol(void* library, const char* name) {
  const auto& exports = static_cast<Loaded*>(library)->exports;
  auto it = exports.find(std::string("_") + name);
  return it == exports.end() ? nullptr : it->second;
}

void BundleLoader::close(void* library) {
  auto* l = static_cast<Loaded*>(library);
  auto& all = loaded();
  all.erase(std::remove(all.begin(), all.end(), l), all.end());
  munmap(l->memory, l->size);
  delete l;
}

}  // namespace macbundle

// The first call through a stub: binds the import's lazy pointer as its lazy bind entry says and
// returns the import. Nothing can be thrown back into the bundle, so a fault ends the process.
extern "C" __attribute__((visibility("hidden"))) std::uint32_t macbundle_lazy_bind(std::uint32_t cache,
                                                                                   std::uint32_t entry,
                                                                                   std::uint32_t callerStack) {
  using namespace macbundle;
  try {
    const auto& all = loaded();
    auto it = std::find_if(all.begin(), all.end(), [&](const Loaded* l) {
      return cache - static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(l->memory)) < l->size;
    });
    if (it == all.end()) fail("the stub helper passed " + hex(cache) + ", which lies in no loaded bundle");
    const Loaded& l = **it;
    std::uint32_t cacheSlot = cache - l.slide();
    if (!writable(l.img, cacheSlot)) fail("the stub helper's cache slot " + hex(cacheSlot) + " is not writable");
    l.put(cacheSlot, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&l)));
    Fixup f = macho::lazyBindAt(l.img, entry);
    if (callerStack % 16)
      fail("the call of " + f.symbol + " was made with the stack at " + hex(callerStack) +
           ", which the Darwin i386 ABI wants 16-byte aligned at every call");
    std::uint32_t addr = l.img.addressOf(f);
    if (!writable(l.img, addr)) fail("the lazy pointer of " + f.symbol + " is not writable");
    return l.put(addr, resolve(l.img, f));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bundle loader: lazy binding: %s\n", e.what());
    std::abort();
  }
}
