// library.h: loading a plug-in library and finding its functions, per platform.
#pragma once

#include <string>

namespace moravel {
class LibraryLoader;
}

namespace moravel::detail {

// Where the functions below go instead of the system's loader; null: nowhere.
void setLibraryLoader(LibraryLoader* loader);

// The loaded library, or null with a description of the failure in `error`.
void* openLibrary(const std::string& path, std::string& error);
// The address of an exported function, or null.
void* librarySymbol(void* library, const char* name);
void closeLibrary(void* library);

}  // namespace moravel::detail
