// includes.h: which file a template's FILE= or TAGGEDFILE= tag could not open or read, and where it was looked for.
#pragma once

#include <optional>
#include <string>

#include "session.h"

namespace moravel::tool {

// After DoSubstitutions answered 4 (a file could not be opened) or 5 (could
// not be read): the first included file that fails so, found from the tags
// GetTagList lists in the template (held in the host variable
// `templateVar`) and in the files TAGGEDFILE= brings in, as
// "FILE=name: looked for as PATH: why", with the index of the template's
// tag behind it (the TAGGEDFILE= that brought it in, for a file named in an
// included one). Empty when none of them fails (a name that comes from a
// value the tool cannot follow).
struct IncludeProblem {
  std::string detail;
  std::optional<std::size_t> tag;
};
IncludeProblem includeFailure(Session& s, std::u32string_view templateVar, const std::optional<std::string>& filesDir,
                              int code);

}  // namespace moravel::tool
