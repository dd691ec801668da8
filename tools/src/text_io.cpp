// text_io.cpp: reading templates and writing expanded texts without copies of the whole text.
#include "text_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "exit_status.h"
#include "moravel/text.h"
#include "process.h"

namespace moravel::tool {

namespace {

class Fd {
 public:
  explicit Fd(int fd, bool own) : fd_(fd), own_(own) {}
  ~Fd() {
    if (own_ && fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
  bool own_;
};

std::string reason() { return std::strerror(errno); }

constexpr std::size_t kFirstRead = 1 << 16;
// From this size a regular file is mapped rather than read: its text is then
// the page cache's copy, with no block to fill and no copy to make.
constexpr std::size_t kMapFrom = 1 << 20;

// Throws when the n bytes at p, which begin at `offset` of the file, hold a NUL.
void refuseNul(const void* p, std::size_t n, std::size_t offset, const std::string& what, const std::string& role) {
  const void* hit = std::memchr(p, 0, n);
  if (!hit) return;
  std::size_t at = offset + static_cast<std::size_t>(static_cast<const char*>(hit) - static_cast<const char*>(p));
  throw Failure(kExitUsage, what + ": " + role + " contains a NUL character (byte " + std::to_string(at + 1) +
                           "), which would end it early");
}

void unmap(void* bytes, std::size_t n) {
  unguardMapping(bytes);
  ::munmap(bytes, n);
}

}  // namespace

Text readFileText(const std::string& name, const std::string& role, int faultStatus) {
  bool std_in = name == "-";
  Fd fd(std_in ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC), !std_in);
  std::string what = std_in ? "standard input" : name;
  std::string failure = what + ": cannot read " + role + ": ";
  if (fd.get() < 0) throw Failure(kExitUsage, failure + reason());
  struct stat st {};
  std::size_t room = kFirstRead;
  if (::fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode)) throw Failure(kExitUsage, failure + "it is a directory");
  if (S_ISREG(st.st_mode)) {
    room = static_cast<std::size_t>(st.st_size) + 1;
    if (room > kMapFrom) {
      // Private and writable, so that decoding in place never reaches the file.
      void* p = ::mmap(nullptr, room - 1, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd.get(), 0);
      if (p != MAP_FAILED) {
        guardMapping(p, room - 1, "moravel: " + failure + "the file was shortened while it was read\n", faultStatus);
        Text mapped = Text::adoptNarrow(p, room - 1, unmap);
        refuseNul(p, room - 1, 0, what, role);
        return mapped;
      }
    }
  }
  Text text;
  std::uint8_t* buf = text.growNarrow(room);
  std::size_t got = 0;
  for (;;) {
    if (got == room) buf = text.growNarrow(room *= 2);
    ssize_t n = ::read(fd.get(), buf + got, room - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Failure(kExitUsage, failure + reason());
    if (n == 0) break;
    refuseNul(buf + got, static_cast<std::size_t>(n), got, what, role);
    got += static_cast<std::size_t>(n);
  }
  text.truncate(got);
  return text;
}

namespace {

constexpr std::size_t kPiece = 1 << 20;  // characters encoded at a time

}  // namespace

void writeText(const Text& text, bool utf8, Output& out) {
  // Piece by piece: bytes as they are, or UTF-8 (a piece of ASCII bytes is
  // its own encoding and goes out straight from the text).
  std::string piece;
  for (std::size_t at = 0; at < text.size(); at += kPiece) {
    std::size_t n = std::min(kPiece, text.size() - at);
    const char* bytes = text.wide() ? nullptr : reinterpret_cast<const char*>(text.narrowData()) + at;
    if (bytes && (!utf8 || isAscii(text.narrowData() + at, n))) {
      out.write(bytes, n);
      continue;
    }
    piece.clear();
    appendUtf8(text, at, n, piece);
    out.write(piece.data(), piece.size());
  }
}

void UnitWriter::put(const void* units, std::size_t count) noexcept {
  if (failure_) return;
  try {
    if (piece_.capacity() < kPiece) piece_.reserve(kPiece + kPiece / 4);
    if (unicode_) appendUtf8(static_cast<const char32_t*>(units), count, piece_);
    else piece_.append(static_cast<const char*>(units), count);
    if (piece_.size() >= kPiece) writePiece();
  } catch (...) {
    failure_ = std::current_exception();
  }
}

void UnitWriter::writePiece() {
  out_.write(piece_.data(), piece_.size());
  piece_.clear();
}

void UnitWriter::finish() {
  if (!failure_ && !piece_.empty()) writePiece();
  if (failure_) std::rethrow_exception(failure_);
}

}  // namespace moravel::tool
