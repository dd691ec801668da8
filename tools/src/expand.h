// expand.h: the expand subcommand: a template expanded with the data given, the result written out whole or not at all.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "session.h"

namespace moravel::tool {

struct ExpandOptions {
  Common common;
  std::string templ;
  std::vector<std::string> data;     // data files in order, later keys winning; "-": standard input
  std::vector<std::string> defines;  // "name=value" text variables, over the data files
  std::optional<std::string> filesDir;
  std::vector<std::string> tags;
  int utf = 0;
  bool forceEval = false, stripLinebreaks = false, senseBrackets = false;
  bool strict = false;  // report what the host could not answer and fail with 65
  std::string output;
};

int runExpand(const ExpandOptions& o);

}  // namespace moravel::tool
