// standins.h: the libraries a Mac bundle may import from, as the bundle loader provides them (test equipment).
#pragma once

#include <map>
#include <string>

namespace macbundle {

// What a library with this install name provides, by symbol name as the bundle writes it ("_HOpen"):
// for Carbon the Mac stand-ins of tests/macsubst, for libSystem the C library and the lazy binder.
// Null for any other library.
const std::map<std::string, void*>* standInsOf(const std::string& installName);

}  // namespace macbundle
