// loader.cpp: mapping, relocating, binding and starting a 32-bit DLL.
#include "loader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "module.h"
#include "standins.h"
#include "thread.h"
#include "win32.h"

namespace peloader {

namespace {

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

std::string hex(std::uint32_t v)
{
  char s[16];
  std::snprintf(s, sizeof s, "0x%X", v);
  return s;
}

// Data directories used here.
enum { kExportDir = 0, kImportDir = 1, kResourceDir = 2, kRelocDir = 5, kTlsDir = 9 };

struct Headers {
  std::uint32_t imageBase, sectionAlignment, fileAlignment, sizeOfImage, sizeOfHeaders, entry;
  std::uint16_t characteristics;
  std::uint32_t dirRva[16] = {}, dirSize[16] = {};
  struct Section {
    std::string name;
    std::uint32_t rva, virtualSize, rawOffset, rawSize, flags;
  };
  std::vector<Section> sections;
};

struct Loaded {
  Module module;
  std::uint32_t tlsSlot = ~0u;
  std::vector<std::uint8_t> tlsBlock;
  std::uint32_t tlsCallbacks = 0;  // VA of the callback list, 0 when none
  std::uint32_t entry = 0;
  void* entryThunk = nullptr;
  void* guard = nullptr;  // the preferred base, held inaccessible while the DLL is loaded
  std::uint32_t guardSize = 0;
};

template <typename T>
T get(const std::vector<std::uint8_t>& file, std::size_t at)
{
  if (at + sizeof(T) > file.size()) fail("the file ends inside its headers");
  T v;
  std::memcpy(&v, file.data() + at, sizeof v);
  return v;
}

bool powerOfTwo(std::uint32_t v) { return v && !(v & (v - 1)); }

Headers readHeaders(const std::vector<std::uint8_t>& file)
{
  if (get<std::uint16_t>(file, 0) != 0x5A4D) fail("no MZ header");
  std::uint32_t pe = get<std::uint32_t>(file, 0x3C);
  if (get<std::uint32_t>(file, pe) != 0x00004550) fail("no PE signature");
  if (get<std::uint16_t>(file, pe + 4) != 0x14C) fail("not an i386 image");
  std::uint16_t sections = get<std::uint16_t>(file, pe + 6);
  std::uint16_t optionalSize = get<std::uint16_t>(file, pe + 20);
  Headers h{};
  h.characteristics = get<std::uint16_t>(file, pe + 22);
  if (!(h.characteristics & 0x0002)) fail("not marked executable");
  if (!(h.characteristics & 0x2000)) fail("not a DLL");
  if (h.characteristics & 0x0001) fail("its relocations are stripped: it loads only at its preferred base");
  std::size_t opt = pe + 24;
  if (get<std::uint16_t>(file, opt) != 0x10B) fail("not a PE32 optional header");
  h.entry = get<std::uint32_t>(file, opt + 16);
  h.imageBase = get<std::uint32_t>(file, opt + 28);
  h.sectionAlignment = get<std::uint32_t>(file, opt + 32);
  h.fileAlignment = get<std::uint32_t>(file, opt + 36);
  h.sizeOfImage = get<std::uint32_t>(file, opt + 56);
  h.sizeOfHeaders = get<std::uint32_t>(file, opt + 60);
  std::uint32_t dirs = get<std::uint32_t>(file, opt + 92);
  if (h.imageBase % 0x10000) fail("the preferred base is not a multiple of 64 KiB");
  if (!powerOfTwo(h.sectionAlignment) || !powerOfTwo(h.fileAlignment) || h.fileAlignment < 512 ||
      h.sectionAlignment < h.fileAlignment || h.sectionAlignment < 0x1000)
    fail("section alignment " + hex(h.sectionAlignment) + " or file alignment " + hex(h.fileAlignment) +
         " that Windows refuses");
  if (h.sizeOfImage % h.sectionAlignment) fail("SizeOfImage is not a multiple of the section alignment");
  if (h.sizeOfHeaders > file.size() || h.sizeOfHeaders > h.sizeOfImage) fail("headers larger than the file");
  for (std::uint32_t i = 0; i < dirs && i < 16; ++i) {
    h.dirRva[i] = get<std::uint32_t>(file, opt + 96 + 8 * i);
    h.dirSize[i] = get<std::uint32_t>(file, opt + 100 + 8 * i);
    if (h.dirRva[i] > h.sizeOfImage || h.dirSize[i] > h.sizeOfImage - h.dirRva[i])
      fail("data directory " + std::to_string(i) + " lies outside the image");
  }
  std::uint32_t expected = (h.sizeOfHeaders + h.sectionAlignment - 1) & ~(h.sectionAlignment - 1);
  for (std::uint16_t i = 0; i < sections; ++i) {
    std::size_t at = opt + optionalSize + 40u * i;
    Headers::Section s;
    s.name = std::string(reinterpret_cast<const char*>(file.data() + at), strnlen(reinterpret_cast<const char*>(file.data() + at), 8));
    s.virtualSize = get<std::uint32_t>(file, at + 8);
    s.rva = get<std::uint32_t>(file, at + 12);
    s.rawSize = get<std::uint32_t>(file, at + 16);
    s.rawOffset = get<std::uint32_t>(file, at + 20);
    s.flags = get<std::uint32_t>(file, at + 36);
    std::uint32_t span = s.virtualSize ? s.virtualSize : s.rawSize;
    // Windows wants the sections in order, each where the one before ends
    // (rounded to the section alignment), and the image to end with them.
    if (s.rva != expected) fail("section " + s.name + " is not where the one before ends");
    expected = (s.rva + span + h.sectionAlignment - 1) & ~(h.sectionAlignment - 1);
    if (s.rawSize && (s.rawOffset % h.fileAlignment || s.rawOffset + static_cast<std::uint64_t>(s.rawSize) > file.size()))
      fail("section " + s.name + " lies outside the file");
    h.sections.push_back(s);
  }
  if (expected != h.sizeOfImage) fail("SizeOfImage " + hex(h.sizeOfImage) + " is not where the sections end");
  return h;
}

std::string pathName(const std::string& path)
{
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::uint32_t* at32(const Loaded& l, std::uint32_t rva)
{
  if (rva > l.module.size - 4) fail("a reference to " + hex(rva) + " outside the image");
  return reinterpret_cast<std::uint32_t*>(l.module.base + rva);
}

const char* cString(const Loaded& l, std::uint32_t rva)
{
  if (rva >= l.module.size) fail("a name outside the image");
  const char* s = reinterpret_cast<const char*>(l.module.base + rva);
  if (!memchr(s, 0, l.module.size - rva)) fail("a name that does not end inside the image");
  return s;
}

std::uint32_t address(const void* p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); }

void map(Loaded& l, const Headers& h, const std::vector<std::uint8_t>& file, const std::string& path)
{
  // Away from the preferred base: that place is held inaccessible while the
  // DLL is loaded, so an address the relocations missed faults at once.
  void* want = reinterpret_cast<void*>(static_cast<std::uintptr_t>(h.imageBase));
  void* guard = mmap(want, h.sizeOfImage, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (guard == want) {
    l.guard = guard;
    l.guardSize = h.sizeOfImage;
  } else if (guard != MAP_FAILED) {
    munmap(guard, h.sizeOfImage);
  }
  void* p = mmap(nullptr, h.sizeOfImage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) fail("no memory to map the image");
  l.module.base = static_cast<std::uint8_t*>(p);
  l.module.size = h.sizeOfImage;
  l.module.fileName = pathName(path);
  if (address(p) == h.imageBase) fail("mapped at the preferred base; the test wants it elsewhere");
  std::memcpy(l.module.base, file.data(), h.sizeOfHeaders);
  for (const auto& s : h.sections)
    if (s.rawSize) std::memcpy(l.module.base + s.rva, file.data() + s.rawOffset, s.virtualSize && s.virtualSize < s.rawSize ? s.virtualSize : s.rawSize);
}

void relocate(Loaded& l, const Headers& h)
{
  std::uint32_t delta = address(l.module.base) - h.imageBase;
  std::uint32_t at = h.dirRva[kRelocDir], end = at + h.dirSize[kRelocDir];
  if (!at) fail("no base relocations: the image cannot move");
  while (at < end) {
    std::uint32_t page = *at32(l, at), size = *at32(l, at + 4);
    if (size < 8 || size % 2 || at + size > end) fail("a relocation block of size " + std::to_string(size));
    for (std::uint32_t e = at + 8; e < at + size; e += 2) {
      std::uint16_t entry;
      std::memcpy(&entry, l.module.base + e, 2);
      unsigned type = entry >> 12;
      std::uint32_t target = page + (entry & 0xFFF);
      if (type == 0) continue;  // padding
      if (type != 3) fail("a relocation of type " + std::to_string(type) + " in an i386 image");
      *at32(l, target) += delta;
    }
    at += size;
  }
}

void bind(Loaded& l, const Headers& h)
{
  std::uint32_t at = h.dirRva[kImportDir];
  if (!at) return;
  for (;; at += 20) {
    std::uint32_t lookup = *at32(l, at), nameRva = *at32(l, at + 12), iat = *at32(l, at + 16);
    if (!lookup && !nameRva && !iat) break;
    std::string dll = cString(l, nameRva);
    if (!providesDll(dll))
      fail("it imports from " + dll + ", which this loader does not provide");
    std::uint32_t names = lookup ? lookup : iat;
    for (std::uint32_t i = 0;; ++i) {
      std::uint32_t thunk = *at32(l, names + 4 * i);
      if (!thunk) break;
      if (thunk & 0x80000000u)
        fail("it imports ordinal " + std::to_string(thunk & 0xFFFF) + " from " + dll + ", which this loader does not provide");
      std::string name = cString(l, thunk + 2);
      void* f = findStandIn(dll, name);
      if (!f) fail("it imports " + name + " from " + dll + ", which this loader does not provide");
      *at32(l, iat + 4 * i) = address(f);
    }
  }
}

// Each section's protection from its flags; the headers are read-only.
void protect(Loaded& l, const Headers& h)
{
  std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  l.module.pageProtect.assign(h.sizeOfImage / page, kPageReadOnly);
  for (const auto& s : h.sections) {
    bool x = s.flags & 0x20000000u, r = s.flags & 0x40000000u, w = s.flags & 0x80000000u;
    DWORD p = x ? (w ? kPageExecuteReadWrite : r ? kPageExecuteRead : kPageExecute)
                : (w ? kPageReadWrite : r ? kPageReadOnly : kPageNoAccess);
    std::uint32_t span = s.virtualSize ? s.virtualSize : s.rawSize;
    for (std::uint32_t q = s.rva / static_cast<std::uint32_t>(page); q * page < s.rva + span; ++q) l.module.pageProtect[q] = p;
  }
  for (std::size_t q = 0; q < l.module.pageProtect.size(); ++q) {
    int prot = 0;
    switch (l.module.pageProtect[q]) {
      case kPageReadOnly: prot = PROT_READ; break;
      case kPageReadWrite: prot = PROT_READ | PROT_WRITE; break;
      case kPageExecute:
      case kPageExecuteRead: prot = PROT_READ | PROT_EXEC; break;
      case kPageExecuteReadWrite: prot = PROT_READ | PROT_WRITE | PROT_EXEC; break;
      default: prot = PROT_NONE;
    }
    if (mprotect(l.module.base + q * page, page, prot) != 0) fail("a page of the image cannot be protected");
  }
}

void readExports(Loaded& l, const Headers& h)
{
  std::uint32_t dir = h.dirRva[kExportDir];
  if (!dir) return;
  std::uint32_t count = *at32(l, dir + 20), named = *at32(l, dir + 24);
  std::uint32_t functions = *at32(l, dir + 28), names = *at32(l, dir + 32), ordinals = *at32(l, dir + 36);
  std::string previous;
  for (std::uint32_t i = 0; i < named; ++i) {
    std::string name = cString(l, *at32(l, names + 4 * i));
    // Windows finds a name by a binary search: the names must be in order.
    if (i && !(previous < name)) fail("the export names are not in ascending order");
    previous = name;
    std::uint16_t ordinal;
    std::memcpy(&ordinal, l.module.base + ordinals + 2 * i, 2);
    if (ordinal >= count) fail("export " + name + " has no function");
    std::uint32_t rva = *at32(l, functions + 4 * ordinal);
    if (rva >= dir && rva < dir + h.dirSize[kExportDir]) fail("export " + name + " is forwarded to another DLL");
    if (rva >= l.module.size) fail("export " + name + " lies outside the image");
    l.module.exports[name] = l.module.base + rva;
  }
}

using InitRoutine = BOOL(__attribute__((stdcall)) *)(void*, DWORD, void*);

void tlsCallbacks(const Loaded& l, DWORD reason)
{
  if (!l.tlsCallbacks) return;
  for (std::uint32_t at = l.tlsCallbacks - address(l.module.base);; at += 4) {
    std::uint32_t f = *at32(l, at);
    if (!f) break;
    if (f - address(l.module.base) >= l.module.size) fail("a TLS callback outside the image");
    reinterpret_cast<InitRoutine>(static_cast<std::uintptr_t>(f))(l.module.base, reason, nullptr);
  }
}

// The DLL's implicit thread-local storage: a copy of its template in a
// slot of the thread's array, the slot's number where the DLL asks for it.
void setUpTls(Loaded& l, const Headers& h)
{
  std::uint32_t dir = h.dirRva[kTlsDir];
  if (!dir) return;
  std::uint32_t base = address(l.module.base);
  std::uint32_t start = *at32(l, dir), end = *at32(l, dir + 4), index = *at32(l, dir + 8);
  std::uint32_t callbacks = *at32(l, dir + 12), zeroFill = *at32(l, dir + 16);
  if (end < start || start - base >= l.module.size || end - base > l.module.size) fail("a TLS template outside the image");
  l.tlsBlock.assign(l.module.base + (start - base), l.module.base + (end - base));
  l.tlsBlock.resize(l.tlsBlock.size() + zeroFill);
  l.tlsSlot = allocateTlsSlot(l.tlsBlock.data());
  *at32(l, index - base) = l.tlsSlot;
  l.tlsCallbacks = callbacks;
}

void callEntry(const Loaded& l, DWORD reason)
{
  tlsCallbacks(l, reason);
  if (!l.entry) return;
  BOOL ok = reinterpret_cast<InitRoutine>(static_cast<std::uintptr_t>(address(l.module.base) + l.entry))(
      l.module.base, reason, nullptr);
  if (!ok && reason == kDllProcessAttach) fail("its entry point refused DLL_PROCESS_ATTACH");
}

void release(Loaded* l)
{
  removeModule(&l->module);
  if (l->tlsSlot != ~0u) freeTlsSlot(l->tlsSlot);
  if (l->entryThunk) freeCallThunk(l->entryThunk);
  if (l->module.base) munmap(l->module.base, l->module.size);
  if (l->guard) munmap(l->guard, l->guardSize);
  delete l;
}

}  // namespace

void* PeLoader::open(const std::string& path, std::string& error)
{
  auto* l = new Loaded;
  bool attached = false;
  try {
    enterWindowsThread();
    DWORD code;
    std::string file = linuxPathOfUtf8(path, code);
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (code || !in) fail("cannot read " + path);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
      fail("cannot read " + path);
    Headers h = readHeaders(bytes);
    map(*l, h, bytes, path);
    relocate(*l, h);
    bind(*l, h);
    readExports(*l, h);
    l->module.resourceRva = h.dirRva[kResourceDir];
    l->module.resourceSize = h.dirSize[kResourceDir];
    setUpTls(*l, h);
    protect(*l, h);
    addModule(&l->module);
    l->entry = h.entry;
    attached = true;
    callEntry(*l, kDllProcessAttach);
  } catch (const std::exception& e) {
    // A DLL whose attach failed is told of its detach, as Windows does.
    try {
      if (attached) callEntry(*l, kDllProcessDetach);
    } catch (const std::exception&) {
      // the load has failed already; its first reason is the one reported
    }
    release(l);
    error = path + ": " + e.what();
    return nullptr;
  }
  return l;
}

void* PeLoader::symbol(void* library, const char* name)
{
  auto* l = static_cast<Loaded*>(library);
  auto it = l->module.exports.find(name);
  if (it == l->module.exports.end()) return nullptr;
  // The entry is a Windows API function; the host calls it as a C function.
  if (std::string(name) == "Moravel") {
    if (!l->entryThunk) l->entryThunk = makeCallThunk(it->second);
    return l->entryThunk;
  }
  return it->second;
}

void* PeLoader::moduleHandle(void* library) { return static_cast<Loaded*>(library)->module.base; }

void PeLoader::close(void* library)
{
  auto* l = static_cast<Loaded*>(library);
  callEntry(*l, kDllProcessDetach);
  release(l);
}

}  // namespace peloader
