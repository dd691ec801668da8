// version.cpp: the versions of the tool and of the plug-in builds it finds.
#include "version.h"

#include "moravel/text.h"
#include "output.h"

#ifndef MORAVEL_TOOL_VERSION
#define MORAVEL_TOOL_VERSION "unknown"
#endif

namespace moravel::tool {

namespace {

std::string pluginVersion(const Common& common) {
  auto s = openSession(common);
  CallResult r = s->host.call(kVersion, {});
  if (r.returnValue.isNumber()) check(r, s->host.libraryPath() + ": Version");
  return encodeUtf8(r.returnValue.asText());
}

}  // namespace

int runVersion(const Common& common) {
  writeStandardOutput(pluginVersion(common) + "\n");
  return 0;
}

int runToolVersion() {
  std::string text = "moravel " MORAVEL_TOOL_VERSION "\n";
  for (const char* build : {"unicode", "8bit"}) {
    Common c;
    c.build = build;
    try {
      resolvePlugin(c);
      text += std::string("plug-in ") + pluginVersion(c) + " (" + (c.unicode() ? "Unicode" : "8-bit") + " build, " +
              c.plugin + ")\n";
    } catch (const Failure& f) {
      // The one line that ends the run says which tool could not find its plug-in.
      throw Failure{f.status, "moravel " MORAVEL_TOOL_VERSION ": " + std::string(f.what())};
    }
  }
  writeStandardOutput(text);
  return 0;
}

}  // namespace moravel::tool
