// exit_status.h: the tool's exit statuses beyond the plug-in's own result codes (0, 2, 3, 4, 5).
#pragma once

#include <string>

namespace moravel::tool {

constexpr int kExitNoMemory = 2;       // also the plug-in's code for memory it could not obtain
constexpr int kExitUsage = 64;         // bad arguments, an input that cannot be read, bad data
constexpr int kExitStrict = 65;        // --strict: requests the host could not answer
constexpr int kExitUnavailable = 69;   // the plug-in library cannot be found or loaded
constexpr int kExitInternal = 70;      // a fault of the tool itself
constexpr int kExitCantCreate = 73;    // the output cannot be written

// A failure the tool reports with one line and ends with `status`.
struct Failure {
  int status;
  std::string message;
};

}  // namespace moravel::tool
