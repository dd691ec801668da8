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

// The entries of the directory at `dir` (an offset into the resource
// section): the id entries, with their targets as offsets or data entries.
std::vector<std::pair<std::uint32_t, std::uint32_t>> idEntries(const Module& m, std::uint32_t dir)
{
  std::uint32_t counts = read32(m, m.resourceRva + dir + 12);
  std::uint32_t named = counts & 0xFFFF, ids = counts >> 16;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
  for (std::uint32_t i = named; i < named + ids; ++i) {
    std::uint32_t at = m.resourceRva + dir + 16 + 8 * i;
    entries.emplace_back(read32(m, at), read32(m, at + 4));
  }
  return entries;
}

const std::pair<std::uint32_t, std::uint32_t>* entryFor(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& e,
                                                        std::uint32_t id)
{
  auto it = std::find_if(e.begin(), e.end(), [id](const auto& p) { return p.first == id; });
  return it == e.end() ? nullptr : &*it;
}

constexpr std::uint32_t kSubdirectory = 0x80000000u;

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

const std::uint8_t* findResource(const Module& m, std::uint32_t type, std::uint32_t name, std::uint32_t& size)
{
  if (!m.resourceRva) return nullptr;
  auto types = idEntries(m, 0);
  const auto* t = entryFor(types, type);
  if (!t || !(t->second & kSubdirectory)) return nullptr;
  auto names = idEntries(m, t->second & ~kSubdirectory);
  const auto* n = entryFor(names, name);
  if (!n || !(n->second & kSubdirectory)) return nullptr;
  auto languages = idEntries(m, n->second & ~kSubdirectory);
  const auto* l = entryFor(languages, 0);
  if (!l) l = entryFor(languages, 1033);
  if (!l && !languages.empty()) l = &languages.front();
  if (!l || (l->second & kSubdirectory)) return nullptr;
  std::uint32_t dataRva = read32(m, m.resourceRva + l->second);
  size = read32(m, m.resourceRva + l->second + 4);
  if (dataRva > m.size || size > m.size - dataRva) refuse(m.fileName + ": a resource lies outside the image");
  return m.base + dataRva;
}

}  // namespace peloader
