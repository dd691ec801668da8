// stored_text.h: a text as the host keeps it, one byte a character while every character fits, else four.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace moravel {

// The characters of a text, held narrow (one byte each) while every one is at
// most U+00FF and wide (one char32_t each) otherwise. A wide text always
// holds a character above U+00FF, so a text has one form only and a one-byte
// plug-in's texts are always narrow. The storage is a plain block that is not
// cleared when taken and is reused when a text is refilled; it is released
// before a larger one is taken, so an old and a new text never need memory at
// the same time. Allocation failures throw std::bad_alloc.
class Text {
 public:
  Text() noexcept = default;
  explicit Text(std::u32string_view chars);
  Text(const Text& other);
  Text(Text&& other) noexcept;
  Text& operator=(const Text& other);
  Text& operator=(Text&& other) noexcept;
  ~Text();

  // One character per byte, U+0000..U+00FF.
  static Text fromBytes(std::string_view bytes);
  // A narrow text over n writable bytes held elsewhere (a mapped file, say),
  // which `release` gives back when the text no longer needs them; refilled,
  // the text takes storage of its own.
  using Release = void (*)(void* bytes, std::size_t n);
  static Text adoptNarrow(void* bytes, std::size_t n, Release release);

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  bool wide() const noexcept { return wide_; }
  const std::uint8_t* narrowData() const noexcept { return static_cast<const std::uint8_t*>(data_); }
  std::uint8_t* narrowData() noexcept { return static_cast<std::uint8_t*>(data_); }
  const char32_t* wideData() const noexcept { return static_cast<const char32_t*>(data_); }
  char32_t operator[](std::size_t i) const noexcept { return wide_ ? wideData()[i] : narrowData()[i]; }
  std::u32string str() const;

  // Storage for n characters of one form, the size set to n and the contents
  // undefined until the caller writes them. A wide text must receive a
  // character above U+00FF.
  std::uint8_t* prepareNarrow(std::size_t n);
  char32_t* prepareWide(std::size_t n);
  // A narrow text enlarged to n characters, keeping those it has; the
  // storage grows by half at least, so growing step by step stays linear.
  std::uint8_t* growNarrow(std::size_t n);
  // Keeps the first n characters of a narrow text; a wide one is left as it is.
  void truncate(std::size_t n) noexcept;
  // Empties the text and releases its storage.
  void reset() noexcept;

  friend bool operator==(const Text& a, const Text& b) noexcept;

 private:
  void* take(std::size_t bytes, bool wide);
  void drop() noexcept;

  void* data_ = nullptr;
  Release release_ = nullptr;  // set for storage held elsewhere
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;  // bytes
  bool wide_ = false;
};

}  // namespace moravel
