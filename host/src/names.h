// names.h: names as the plug-in sends them, hashed and compared without building a string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace moravel::detail {

// The characters of a name: a run of one-byte units, of 32-bit units, or of
// char32_t, seen as code points. A name sent by the plug-in is looked up as
// its units stand.
struct NameView {
  const void* chars = nullptr;
  std::size_t size = 0;
  bool wide = false;  // four bytes a character

  NameView() = default;
  NameView(std::u32string_view s) : chars(s.data()), size(s.size()), wide(true) {}  // NOLINT: implicit on purpose
  NameView(const std::u32string& s) : NameView(std::u32string_view(s)) {}           // NOLINT
  NameView(const std::uint8_t* p, std::size_t n) : chars(p), size(n), wide(false) {}
  NameView(const std::uint32_t* p, std::size_t n) : chars(p), size(n), wide(true) {}

  char32_t operator[](std::size_t i) const {
    return wide ? static_cast<const char32_t*>(chars)[i] : static_cast<const std::uint8_t*>(chars)[i];
  }
  std::u32string str() const {
    std::u32string s(size, U'\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = (*this)[i];
    return s;
  }
  friend bool operator==(const NameView& a, const NameView& b) {
    if (a.size != b.size) return false;
    for (std::size_t i = 0; i < a.size; ++i)
      if (a[i] != b[i]) return false;
    return true;
  }
};

// FNV-1a over the code points, the same for every unit width.
struct NameHash {
  using is_transparent = void;
  std::size_t operator()(NameView n) const {
    std::uint32_t h = 2166136261u;
    for (std::size_t i = 0; i < n.size; ++i) h = (h ^ static_cast<std::uint32_t>(n[i])) * 16777619u;
    return h;
  }
  std::size_t operator()(const std::u32string& s) const { return (*this)(NameView(s)); }
};

struct NameEq {
  using is_transparent = void;
  bool operator()(NameView a, NameView b) const { return a == b; }
};

}  // namespace moravel::detail
