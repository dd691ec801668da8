// module.cpp: the list of mapped DLLs and the lookup of their resources.
#include "module.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "standins.h"

namespace peloader {

namespace {

std::vector<Module*> gModules;

std::uint32_t read32(const Module& m, std::uint32_t rva)
{
  if (rva < m.resourceRva || rva + 4 > m.resourceRva + m.resourceSize)
    refuse(m.fileName + ": the resource directory runs outside its section");
  std::uint32_t v;
  std::memcpy(&v, m.base + rva, 4);
  return v;
}

constexpr std::uint32_t kSubdirectory = 0x80000000u;

struct Entry {
  ResourceId id;
  std::uint32_t target;  // a subdirectory (kSubdirectory set) or a data entry, as offsets
};

std::u16string capitals(std::u16string s)
{
  for (char16_t& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char16_t>(c - 'a' + 'A');
  return s;
}

// The entries of the directory at `dir`, an offset into the resource section.
std::vector<Entry> entries(const Module& m, std::uint32_t dir)
{
  std::uint32_t counts = read32(m, m.resourceRva + dir + 12);
  std::uint32_t all = (counts & 0xFFFF) + (counts >> 16);
  std::vector<Entry> list;
  for (std::uint32_t i = 0; i < all; ++i) {
    std::uint32_t at = m.resourceRva + dir + 16 + 8 * i;
    Entry e{{read32(m, at), {}}, read32(m, at + 4)};
    if (e.id.number & kSubdirectory) {  // a name: its length and its UTF-16 units
      std::uint32_t text = m.resourceRva + (e.id.number & ~kSubdirectory);
      std::uint32_t length = read32(m, text) & 0xFFFF;
      if (length) read32(m, text + 2 * length - 2);
      e.id.text.assign(reinterpret_cast<const char16_t*>(m.base + text + 2), length);
      e.id.number = 0;
    }
    list.push_back(e);
  }
  return list;
}

const Entry* entryFor(const std::vector<Entry>& list, const ResourceId& id)
{
  for (const Entry& e : list)
    if (id.text.empty() ? e.id.text.empty() && e.id.number == id.number : capitals(e.id.text) == capitals(id.text))
      return &e;
  return nullptr;
}

}  // namespace

void addModule(Module* m) { gModules.push_back(m); }

void removeModule(Module* m) { gModules.erase(std::remove(gModules.begin(), gModules.end(), m), gModules.end()); }

Module* moduleOfHandle(const void* handle)
{
  for (Module* m : gModules)
    if (m->base == handle) return m;
  return nullptr;
}

Module* moduleContaining(const void* address)
{
  auto* a = static_cast<const std::uint8_t*>(address);
  for (Module* m : gModules)
    if (a >= m->base && a < m->base + m->size) return m;
  return nullptr;
}

Module* moduleNamed(const std::string& fileName)
{
  for (Module* m : gModules)
    if (strcasecmp(m->fileName.c_str(), fileName.c_str()) == 0) return m;
  return nullptr;
}

const std::uint8_t* findResource(const Module& m, const ResourceId& type, const ResourceId& name, std::uint32_t& size,
                                 std::optional<std::uint32_t> language)
{
  if (!m.resourceRva) return nullptr;
  auto types = entries(m, 0);
  const Entry* t = entryFor(types, type);
  if (!t || !(t->target & kSubdirectory)) return nullptr;
  auto names = entries(m, t->target & ~kSubdirectory);
  const Entry* n = entryFor(names, name);
  if (!n || !(n->target & kSubdirectory)) return nullptr;
  auto languages = entries(m, n->target & ~kSubdirectory);
  const Entry* l = nullptr;
  if (language) {
    l = entryFor(languages, {*language, {}});
  } else {
    l = entryFor(languages, {0, {}});
    if (!l) l = entryFor(languages, {1033, {}});
    if (!l && !languages.empty()) l = &languages.front();
  }
  if (!l || (l->target & kSubdirectory)) return nullptr;
  std::uint32_t dataRva = read32(m, m.resourceRva + l->target);
  size = read32(m, m.resourceRva + l->target + 4);
  if (dataRva > m.size || size > m.size - dataRva) refuse(m.fileName + ": a resource lies outside the image");
  return m.base + dataRva;
}

}  // namespace peloader
