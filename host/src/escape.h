// escape.h: values escaped for HTML as the host hands them to the plug-in.
#pragma once

#include <optional>

#include "moravel/value.h"

namespace moravel::detail {

// The text of `v` with & < > " ' written as &amp; &lt; &gt; &quot; &#39;;
// nullopt when it holds none of them (a number never does).
std::optional<Value> htmlEscaped(const Value& v);

}  // namespace moravel::detail
