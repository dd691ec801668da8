// version.h: the version subcommand and --version.
#pragma once

#include "session.h"

namespace moravel::tool {

// Prints the plug-in's version; returns the exit status.
int runVersion(const Common& common);
// Prints the tool's version and each plug-in build's, with the file it came from.
int runToolVersion();

}  // namespace moravel::tool
