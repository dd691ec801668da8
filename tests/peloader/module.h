// module.h: the DLLs the loader has mapped, as the stand-ins see them.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "win32.h"

namespace peloader {

struct Module {
  std::string fileName;  // as named to the loader, without its folder
  std::uint8_t* base = nullptr;
  std::uint32_t size = 0;  // SizeOfImage, whole pages
  std::uint32_t resourceRva = 0, resourceSize = 0;
  std::vector<DWORD> pageProtect;  // each page's PAGE_* value
  std::map<std::string, void*> exports;
};

void addModule(Module* m);
void removeModule(Module* m);
// The module whose handle (base address) this is, or null.
Module* moduleOfHandle(const void* handle);
// The module whose image holds this address, or null.
Module* moduleContaining(const void* address);
// The module of this file name, in any case, or null.
Module* moduleNamed(const std::string& fileName);

// A resource's type or name: a number, or a text (compared in capitals, as
// Windows does) when `text` is not empty.
struct ResourceId {
  std::uint32_t number = 0;
  std::u16string text;
};

// The bytes of resource (type, name) in the module, in `language`, or
// without one in the language Windows would pick first (neutral, then
// English (United States), then the first one); null when it has none.
// Stops the process when the directory runs outside the resource section.
const std::uint8_t* findResource(const Module& m, const ResourceId& type, const ResourceId& name, std::uint32_t& size,
                                 std::optional<std::uint32_t> language = {});

}  // namespace peloader
