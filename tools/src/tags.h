// tags.h: the tags subcommand: the tags of a template as one JSON array of strings.
#pragma once

#include <string>
#include <vector>

#include "session.h"

namespace moravel::tool {

// Lists the tags of the template `templName` ("-": standard input), with the
// open and close tag `tags` when given; returns the exit status.
int runTags(const Common& common, const std::string& templName, const std::vector<std::string>& tags);

}  // namespace moravel::tool
