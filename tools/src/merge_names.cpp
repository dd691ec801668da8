// merge_names.cpp: the separator's escapes, and the hashes a merge keeps of the names it wrote.
#include "merge_names.h"

#include <algorithm>
#include <optional>

#include "expand.h"
#include "moravel/text.h"

namespace moravel::tool {

std::string unescapeSeparator(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    if (c == 'n') out += '\n';
    else if (c == '0') out += '\0';
    else if (c == 'f') out += '\f';
    else if (c == '\\') out += '\\';
    else throw Failure{kExitUsage, "--separator: unknown escape \\" + std::string(1, c) + " (expected \\n, \\0, \\f or \\\\)"};
  }
  return out;
}

std::uint64_t hashOf(const std::string& s) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

}  // namespace moravel::tool
