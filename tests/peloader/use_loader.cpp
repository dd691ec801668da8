// use_loader.cpp: every host of this test program loads its plug-in with the PE loader.
#include "loader.h"

namespace {

struct UsePeLoader {
  peloader::PeLoader loader;
  UsePeLoader() { moravel::Host::useLoader(&loader); }
} gUsePeLoader;

}  // namespace
