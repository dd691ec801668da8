// output.cpp: the expanded text written to standard output, or to a new file that replaces the old one when complete.
#include "output.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "process.h"

namespace moravel::tool {

namespace {

// The file a chain of symbolic links ends at (the name itself when it is no
// link, or a link to nothing yet).
std::string followLinks(const std::string& name) {
  std::string at = name;
  for (int hops = 0; hops < 40; ++hops) {
    char target[PATH_MAX];
    ssize_t n = ::readlink(at.c_str(), target, sizeof target - 1);
    if (n < 0) return at;
    std::string next(target, static_cast<std::size_t>(n));
    if (next[0] != '/') {
      auto slash = at.rfind('/');
      if (slash != std::string::npos) next = at.substr(0, slash + 1) + next;
    }
    at = next;
  }
  return at;
}

// The descriptor a name stands for when it names one of the process's own
// (/dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N), as a shell treats
// them; -1 otherwise. Written as it stands: no new file is put in its place,
// and a file open for appending keeps what it holds.
int descriptorNamed(const std::string& name) {
  if (name == "/dev/stdout") return STDOUT_FILENO;
  if (name == "/dev/stderr") return STDERR_FILENO;
  for (const std::string prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    std::string digits = name.substr(prefix.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stoi(digits);
  }
  return -1;
}

// A name for the new file beside the target, not yet taken: "." + its
// name + "." + six letters and digits. The letters come from a generator
// seeded once a run, so a merge of many files asks the kernel for nothing.
std::string besideName(const std::string& dir, const std::string& base) {
  static std::uint64_t state = [] {
    std::random_device seed;
    return (static_cast<std::uint64_t>(seed()) << 32 | seed()) ^ static_cast<std::uint64_t>(::getpid());
  }();
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  state = state * 6364136223846793005ull + 1442695040888963407ull;
  std::uint64_t bits = state >> 16;
  std::string name = dir + "." + base + ".";
  for (int i = 0; i < 6; ++i, bits /= 62) name += kLetters[bits % 62];
  return name;
}

}  // namespace

Output::Output(const std::string& name) {
  if (name.empty() || name == "-") {
    what_ = "standard output";
    fd_ = STDOUT_FILENO;
    return;
  }
  what_ = name;
  if (int fd = descriptorNamed(name); fd >= 0) {
    fd_ = fd;
    return;
  }
  // The name itself first: a name that is no symbolic link (most often a
  // new file) needs no link followed.
  struct stat st {};
  int got = ::lstat(name.c_str(), &st);
  bool link = got == 0 && S_ISLNK(st.st_mode);
  if (link) got = ::stat(name.c_str(), &st);
  if (got != 0) {
    // A new file, or a link to a file not there yet; any other reason
    // (a loop of links, a directory not searchable) is reported.
    if (errno != ENOENT) fail("cannot write the output");
    target_ = link ? followLinks(name) : name;
    if (!openUnnamed()) openBeside(-1, false);
    return;
  }
  if (S_ISDIR(st.st_mode)) throw OutputError(what_ + ": cannot write the output: it is a directory");
  // A file its owner made read-only is refused, as a shell's > refuses it,
  // though the directory would let it be replaced.
  if (S_ISREG(st.st_mode) && ::access(name.c_str(), W_OK) != 0) fail("cannot write the output");
  if (!S_ISREG(st.st_mode)) {
    // A device, a named pipe or a socket: written directly, as a shell
    // redirection writes it.
    fd_ = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
    ownFd_ = true;
    if (fd_ < 0) fail("cannot write the output");
    return;
  }
  target_ = link ? followLinks(name) : name;
  openBeside(static_cast<int>(st.st_mode & 07777), true);
  // Kept where the caller may (as root, for another user's file).
  if (!target_.empty() && ::fchown(fd_, st.st_uid, st.st_gid) != 0) errno = 0;
}

// A new file is made without a name in the target's directory and given
// the target's name by commit(): until then no name shows it, and a run
// that fails or is killed leaves nothing to remove. False where the system
// or the file system cannot make such a file, or where the process cannot
// name its descriptors (/proc/self/fd) to link it.
bool Output::openUnnamed() {
#ifdef O_TMPFILE
  static const bool canLink = ::access("/proc/self/fd", X_OK) == 0;
  if (!canLink) return false;
  auto slash = target_.rfind('/');
  std::string dir = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
  // The kernel applies the umask to 0666, as for a shell's >.
  int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  fd_ = fd;
  ownFd_ = true;
  unnamed_ = true;
  return true;
#else
  return false;
#endif
}

// Gives the unnamed file the target's name. A file made under that name
// since the output was opened is replaced, as it would have been by a new
// file renamed over it: the unnamed one is linked under a name beside it
// and renamed. The descriptor is closed only after, since it names the file.
void Output::linkUnnamed() {
  std::string proc = "/proc/self/fd/" + std::to_string(fd_);
  std::string named = target_;
  int linked = ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW);
  if (linked != 0 && errno == EEXIST) {
    auto slash = target_.rfind('/');
    std::string dir = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    for (int tries = 0; tries < 100; ++tries) {
      named = besideName(dir, base);
      linked = ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW);
      if (linked == 0 || errno != EEXIST) break;
    }
    if (linked == 0 && ::rename(named.c_str(), target_.c_str()) != 0) {
      int why = errno;
      ::unlink(named.c_str());
      errno = why;
      fail("cannot replace the output file");
    }
  }
  if (linked != 0) fail("cannot write the output");
  int fd = fd_;
  fd_ = -1;
  unnamed_ = false;
  if (::close(fd) != 0) {
    int why = errno;
    ::unlink(target_.c_str());
    errno = why;
    fail("cannot write the output");
  }
}

void Output::openBeside(int existingMode, bool exists) {
  auto slash = target_.rfind('/');
  std::string dir = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  // A new file gets what the umask leaves of 0666 from the kernel, as a
  // shell's > gives it; an old file's mode is put back whole below. The
  // new file never has more permissions than the old one.
  mode_t mode = existingMode >= 0 ? static_cast<mode_t>(existingMode & 0777) : 0666;
  std::string temp;
  for (int tries = 0; tries < 100; ++tries) {
    temp = besideName(dir, base);
    // Named for removal before it exists, so that no signal finds it made and not named.
    removeOnAbort(temp);
    fd_ = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd_ >= 0) break;
    int why = errno;
    forgetOnAbort(temp);
    errno = why;
    if (why != EEXIST) break;
  }
  if (fd_ < 0) {
    int why = errno;
    // A file the caller may write in a directory it may not add to: written
    // in place, as the only way left. It is emptied only when the first
    // bytes are written, so a run that fails before leaves it as it was.
    if (exists && (why == EACCES || why == EPERM || why == EROFS)) {
      fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
      ownFd_ = true;
      target_.clear();
      truncatePending_ = true;
      if (fd_ >= 0) return;
    }
    errno = why;
    fail("cannot write the output");
  }
  ownFd_ = true;
  temp_ = std::move(temp);
  if (existingMode >= 0 && ::fchmod(fd_, static_cast<mode_t>(existingMode)) != 0) fail("cannot write the output");
}

Output::~Output() {
  if (ownFd_ && fd_ >= 0) ::close(fd_);
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    forgetOnAbort(temp_);
  }
}

void Output::fail(const std::string& doing) const {
  throw OutputError(what_ + ": " + doing + ": " + std::strerror(errno));
}

void Output::truncateIfPending() {
  if (!truncatePending_) return;
  if (::ftruncate(fd_, 0) != 0) fail("cannot write the output");
  truncatePending_ = false;
}

void Output::write(const char* p, std::size_t n) {
  if (!buffered_) return writeNow(p, n);
  pending_.append(p, n);
  if (pending_.size() >= (1u << 16)) flush();
}

// The buffer keeps its storage: freed and taken again at every flush, it
// would make the allocator hand pages back to the kernel and fault them in again.
void Output::flush() {
  if (pending_.empty()) return;
  struct Emptied {
    std::string& s;
    ~Emptied() { s.clear(); }
  } emptied{pending_};
  writeNow(pending_.data(), pending_.size());
}

void Output::writeNow(const char* p, std::size_t n) {
  truncateIfPending();
  while (n > 0) {
    ssize_t w = ::write(fd_, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno == EPIPE) {
      // The reader has gone: end as a shell tool ends, also when the caller
      // left SIGPIPE ignored.
      ::signal(SIGPIPE, SIG_DFL);
      ::raise(SIGPIPE);
    }
    if (w < 0) fail("cannot write the output");
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

void Output::commit() {
  flush();
  truncateIfPending();
  if (unnamed_) return linkUnnamed();
  if (ownFd_) {
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail("cannot write the output");
  }
  if (temp_.empty()) return;
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    // A sticky directory lets only the file's owner replace it; another
    // user who may write it writes it in place, the text being complete.
    if (errno != EPERM && errno != EACCES) fail("cannot replace the output file");
    copyInPlace();
    ::unlink(temp_.c_str());
  }
  forgetOnAbort(temp_);
  temp_.clear();
}

void Output::copyInPlace() {
  int from = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
  if (from < 0) fail("cannot replace the output file");
  fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd_ < 0) {
    int why = errno;
    ::close(from);
    errno = why;
    fail("cannot replace the output file");
  }
  truncatePending_ = true;
  std::vector<char> buf(1 << 16);
  for (;;) {
    ssize_t n = ::read(from, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int why = errno;
      ::close(from);
      if (n < 0) {
        errno = why;
        fail("cannot write the output");
      }
      break;
    }
    writeNow(buf.data(), static_cast<std::size_t>(n));
  }
  truncateIfPending();
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail("cannot write the output");
}

void writeStandardOutput(const std::string& text) {
  try {
    Output out("");
    out.write(text.data(), text.size());
    out.commit();
  } catch (const OutputError& e) {
    throw Failure{kExitCantCreate, e.what()};
  }
}

}  // namespace moravel::tool
