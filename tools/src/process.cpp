// process.cpp: standard descriptors, the mapped-file fault handler and cleanup on signals.
#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <atomic>
#include <cstring>

namespace moravel::tool {

namespace {

// Only what a signal handler may touch: fixed buffers, set before use.
struct Guard {
  const char* base = nullptr;
  std::size_t size = 0;
  char message[1024] = {};
  std::size_t messageLength = 0;
  int status = 0;
};
Guard guard;
// The temporary files a fault or signal removes: a worker of a parallel
// merge holds several at once.
constexpr int kAbortPaths = 32;
char abortPaths[kAbortPaths][PATH_MAX] = {};
// The worker processes a signal that ends this one ends too.
constexpr int kChildren = 256;
volatile pid_t children[kChildren] = {};

void copyInto(char* dst, std::size_t room, const std::string& s, std::size_t* length) {
  std::size_t n = s.size() < room - 1 ? s.size() : room - 1;
  std::memcpy(dst, s.data(), n);
  dst[n] = 0;
  if (length) *length = n;
}

void removeAbortPath() {
  for (auto& path : abortPaths)
    if (path[0]) ::unlink(path);
}

void onMappingFault(int sig, siginfo_t* info, void*) {
  const char* at = static_cast<const char*>(info->si_addr);
  if (guard.base && at >= guard.base && at < guard.base + guard.size) {
    ssize_t ignored = ::write(STDERR_FILENO, guard.message, guard.messageLength);
    (void)ignored;
    removeAbortPath();
    ::_exit(guard.status);
  }
  // Not the guarded file: the fault is what it is. Returning re-runs the
  // faulting instruction with the default action.
  ::signal(sig, SIG_DFL);
}

void onTermination(int sig) {
  for (volatile pid_t& child : children)
    if (child > 0) ::kill(child, sig);
  removeAbortPath();
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void installTerminationHandlers() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    ::sigaction(sig, nullptr, &old);
    if (old.sa_handler == SIG_IGN) continue;  // what the caller ignores stays ignored
    struct sigaction sa {};
    sa.sa_handler = onTermination;
    sigemptyset(&sa.sa_mask);
    ::sigaction(sig, &sa, nullptr);
  }
}

}  // namespace

void prepareProcess() {
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int other = ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    if (other >= 0 && other != fd) {
      ::dup2(other, fd);
      ::close(other);
    }
  }
  ::signal(SIGXFSZ, SIG_IGN);
  struct sigaction sa {};
  sa.sa_sigaction = onMappingFault;
  sa.sa_flags = SA_SIGINFO;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGBUS, &sa, nullptr);
  installTerminationHandlers();
}

void guardMapping(const void* base, std::size_t size, const std::string& message, int status) {
  copyInto(guard.message, sizeof guard.message, message, &guard.messageLength);
  guard.status = status;
  guard.size = size;
  guard.base = static_cast<const char*>(base);
}

void unguardMapping(const void* base) {
  if (guard.base == base) guard.base = nullptr;
}

// A slot is filled whole before its first byte makes it seen, and emptied
// by its first byte, so that a handler never reads half a name.
void removeOnAbort(const std::string& path) {
  for (auto& slot : abortPaths) {
    if (slot[0]) continue;
    if (path.empty() || path.size() >= PATH_MAX) return;
    std::memcpy(slot + 1, path.data() + 1, path.size() - 1);
    slot[path.size()] = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    slot[0] = path[0];
    return;
  }
}

void forgetOnAbort(const std::string& path) {
  for (auto& slot : abortPaths)
    if (slot[0] && path == slot) slot[0] = 0;
}

void endOnAbort(pid_t child) {
  for (volatile pid_t& slot : children)
    if (slot == child) return;
  for (volatile pid_t& slot : children)
    if (slot == 0) {
      slot = child;
      return;
    }
}

void forgetChild(pid_t child) {
  for (volatile pid_t& slot : children)
    if (slot == child) slot = 0;
}

void forgetChildren() {
  for (volatile pid_t& slot : children) slot = 0;
}

}  // namespace moravel::tool
