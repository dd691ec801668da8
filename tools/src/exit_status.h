// exit_status.h: the tool's exit statuses and what each means, and the failure that ends a run with one.
#pragma once

#include <stdexcept>
#include <string>

namespace moravel::tool {

constexpr int kExitNoMemory = 2;       // also the plug-in's code for memory it could not obtain
constexpr int kExitUsage = 64;         // bad arguments, an input that cannot be read, bad data
constexpr int kExitStrict = 65;        // --strict: requests the host could not answer
constexpr int kExitUnavailable = 69;   // the plug-in library cannot be found or loaded
constexpr int kExitInternal = 70;      // a fault of the tool itself
constexpr int kExitCantCreate = 73;    // the output cannot be written

// What each exit status means, from the build's table (exit_statuses.txt).
struct ExitMeaning {
  int status;
  const char* meaning;
};
inline constexpr ExitMeaning kExitMeanings[] = {
#include "exit_statuses.inc"
};

// A failure the tool reports with one line and ends with `status`.
class Failure : public std::runtime_error {
 public:
  Failure(int status, const std::string& message) : std::runtime_error(message), status(status) {}
  int status;
};

}  // namespace moravel::tool
