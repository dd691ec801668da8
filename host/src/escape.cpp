// escape.cpp: a value's text escaped for HTML.
#include "escape.h"

#include <string_view>

namespace moravel::detail {

namespace {

std::u32string_view entityOf(char32_t c) {
  switch (c) {
    case U'&': return U"&amp;";
    case U'<': return U"&lt;";
    case U'>': return U"&gt;";
    case U'"': return U"&quot;";
    case U'\'': return U"&#39;";
    default: return {};
  }
}

}  // namespace

std::optional<Value> htmlEscaped(const Value& v) {
  const Text* t = v.storedText();
  if (!t) return std::nullopt;
  std::size_t first = 0;
  while (first < t->size() && entityOf((*t)[first]).empty()) ++first;
  if (first == t->size()) return std::nullopt;
  std::u32string out;
  out.reserve(t->size() + 16);
  for (std::size_t i = 0; i < t->size(); ++i) {
    std::u32string_view e = entityOf((*t)[i]);
    if (e.empty()) out += (*t)[i];
    else out += e;
  }
  return Value::text(out);
}

}  // namespace moravel::detail
