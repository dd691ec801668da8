// help.h: the texts that --help adds after the options: examples, exit statuses, the data file.
#pragma once

#include <string>

namespace moravel::tool::help {

std::string general();
std::string expand();
std::string check();
std::string tags();
std::string version();

}  // namespace moravel::tool::help
