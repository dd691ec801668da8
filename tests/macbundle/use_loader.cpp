// use_loader.cpp: every host of this test program loads its plug-in with the bundle loader.
#include "loader.h"

namespace {

struct UseBundleLoader {
  macbundle::BundleLoader loader;
  UseBundleLoader() { moravel::Host::useLoader(&loader); }
} gUseBundleLoader;

}  // namespace
