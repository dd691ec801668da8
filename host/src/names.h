// names.h: names as the plug-in sends them, hashed and compared without building a string, and an index of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

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

  const std::uint8_t* bytes() const { return static_cast<const std::uint8_t*>(chars); }
  const char32_t* units() const { return static_cast<const char32_t*>(chars); }
  char32_t operator[](std::size_t i) const { return wide ? units()[i] : bytes()[i]; }
  std::u32string str() const {
    std::u32string s(size, U'\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = (*this)[i];
    return s;
  }
  // Whether the name is `s`, character for character.
  bool is(std::u32string_view s) const {
    if (s.size() != size) return false;
    if (wide) return size == 0 || std::memcmp(chars, s.data(), size * sizeof(char32_t)) == 0;
    for (std::size_t i = 0; i < size; ++i)
      if (bytes()[i] != s[i]) return false;
    return true;
  }
  // FNV-1a over the code points, the same for every unit width.
  std::uint32_t hash() const { return wide ? hashOf(units()) : hashOf(bytes()); }

 private:
  template <class C>
  std::uint32_t hashOf(const C* p) const {
    std::uint32_t h = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) h = (h ^ static_cast<std::uint32_t>(p[i])) * 16777619u;
    return h;
  }
};

// References by name, in open addressing. The index keeps the names' code
// points side by side, so a lookup reads the slot and the name and nothing
// else.
class NameIndex {
 public:
  // The reference under `name`, or 0.
  int find(NameView name) const {
    if (slots_.empty()) return 0;
    std::uint32_t h = name.hash();
    for (std::size_t i = h & mask();; i = (i + 1) & mask()) {
      const Slot& s = slots_[i];
      if (s.ref == kEmpty) return 0;
      if (s.ref != kGone && s.hash == h && holds(s, name)) return s.ref;
    }
  }
  // Adds a name that is not in the index.
  void insert(NameView name, int ref);
  // Removes the name, if it is there.
  void erase(NameView name);

 private:
  static constexpr int kEmpty = 0, kGone = -1;
  struct Slot {
    std::uint32_t hash = 0;
    int ref = kEmpty;
    std::uint32_t at = 0, size = 0;  // the name in chars_
  };
  std::size_t mask() const { return slots_.size() - 1; }
  bool holds(const Slot& s, NameView name) const {
    if (s.size != name.size) return false;
    const char32_t* c = chars_.data() + s.at;
    for (std::size_t i = 0; i < name.size; ++i)
      if (c[i] != name[i]) return false;
    return true;
  }
  void rebuild(std::size_t size);

  std::vector<Slot> slots_;  // a power of two, at most half used
  std::size_t used_ = 0;     // entries and removed entries
  std::vector<char32_t> chars_;
};

}  // namespace moravel::detail
