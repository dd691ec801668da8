// stored_text.cpp: the host's texts: narrow or wide storage, reused when refilled.
#include "moravel/stored_text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace moravel {

namespace {

char32_t highest(std::u32string_view chars) {
  char32_t bits = 0;
  for (char32_t c : chars) bits |= c;
  return bits;
}

}  // namespace

Text::Text(std::u32string_view chars) {
  if (highest(chars) > 0xFF) {
    std::memcpy(prepareWide(chars.size()), chars.data(), chars.size() * sizeof(char32_t));
    return;
  }
  std::uint8_t* out = prepareNarrow(chars.size());
  for (std::size_t i = 0; i < chars.size(); ++i) out[i] = static_cast<std::uint8_t>(chars[i]);
}

Text::Text(const Text& other) { *this = other; }

Text::Text(Text&& other) noexcept
    : data_(other.data_), release_(other.release_), size_(other.size_), capacity_(other.capacity_), wide_(other.wide_) {
  other.data_ = nullptr;
  other.release_ = nullptr;
  other.size_ = other.capacity_ = 0;
  other.wide_ = false;
}

Text& Text::operator=(const Text& other) {
  if (this == &other) return *this;
  std::size_t bytes = other.size_ * (other.wide_ ? sizeof(char32_t) : 1);
  void* out = other.wide_ ? static_cast<void*>(prepareWide(other.size_)) : prepareNarrow(other.size_);
  if (bytes) std::memcpy(out, other.data_, bytes);
  return *this;
}

Text& Text::operator=(Text&& other) noexcept {
  if (this == &other) return *this;
  drop();
  data_ = other.data_;
  release_ = other.release_;
  size_ = other.size_;
  capacity_ = other.capacity_;
  wide_ = other.wide_;
  other.data_ = nullptr;
  other.release_ = nullptr;
  other.size_ = other.capacity_ = 0;
  other.wide_ = false;
  return *this;
}

Text::~Text() { drop(); }

void Text::drop() noexcept {
  if (release_) release_(data_, capacity_);
  else std::free(data_);
  data_ = nullptr;
  release_ = nullptr;
  size_ = capacity_ = 0;
}

Text Text::fromBytes(std::string_view bytes) {
  Text t;
  if (!bytes.empty()) std::memcpy(t.prepareNarrow(bytes.size()), bytes.data(), bytes.size());
  return t;
}

Text Text::adoptNarrow(void* bytes, std::size_t n, Release release) {
  Text t;
  t.data_ = bytes;
  t.release_ = release;
  t.size_ = t.capacity_ = n;
  return t;
}

std::u32string Text::str() const {
  if (wide_) return std::u32string(wideData(), size_);
  std::u32string s(size_, U'\0');
  const std::uint8_t* in = narrowData();
  for (std::size_t i = 0; i < size_; ++i) s[i] = in[i];
  return s;
}

void* Text::take(std::size_t bytes, bool wide) {
  if (bytes > capacity_ || !data_ || release_) {
    drop();
    // One byte more than asked, so that an empty text has storage too.
    data_ = std::malloc(bytes + 1);
    if (!data_) throw std::bad_alloc();
    capacity_ = bytes + 1;
  }
  wide_ = wide;
  return data_;
}

std::uint8_t* Text::prepareNarrow(std::size_t n) {
  auto* p = static_cast<std::uint8_t*>(take(n, false));
  size_ = n;
  return p;
}

char32_t* Text::prepareWide(std::size_t n) {
  if (n > (static_cast<std::size_t>(-1) - 1) / sizeof(char32_t)) throw std::bad_alloc();
  auto* p = static_cast<char32_t*>(take(n * sizeof(char32_t), true));
  size_ = n;
  return p;
}

std::uint8_t* Text::growNarrow(std::size_t n) {
  if (wide_) throw std::logic_error("growNarrow of a wide text");
  if (release_) {
    Text own;
    std::memcpy(own.prepareNarrow(n), data_, std::min(n, size_));
    *this = std::move(own);
  } else if (n + 1 > capacity_) {
    std::size_t room = std::max(n + 1, capacity_ + capacity_ / 2);
    void* bigger = std::realloc(data_, room);
    if (!bigger) throw std::bad_alloc();
    data_ = bigger;
    capacity_ = room;
  }
  size_ = n;
  return narrowData();
}

void Text::truncate(std::size_t n) noexcept {
  if (!wide_) size_ = std::min(n, size_);
}

void Text::reset() noexcept {
  drop();
  wide_ = false;
}

bool operator==(const Text& a, const Text& b) noexcept {
  if (a.size_ != b.size_ || a.wide_ != b.wide_) return false;
  return a.size_ == 0 || std::memcmp(a.data_, b.data_, a.size_ * (a.wide_ ? sizeof(char32_t) : 1)) == 0;
}

}  // namespace moravel
