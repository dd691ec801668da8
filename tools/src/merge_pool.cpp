// merge_pool.cpp: the worker processes of a parallel mail merge: started, handed records, heard from, and ended.
#include "merge_pool.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string.h>
#include <optional>

#include "merge_wire.h"
#include "merge_worker.h"
#include "process.h"

namespace moravel::tool {

namespace {

// Records a worker holds at most: enough to keep it busy while its answers
// travel in batches, few enough that memory stays flat. Writing files, each
// is an open file not yet in place, which a signal's cleanup must know.
constexpr int kHold = 64, kHoldFiles = 24;
// Messages to a worker are gathered up to this size, or until the merge waits.
constexpr std::size_t kBatch = 1 << 15;

[[noreturn]] void cannotStart(const char* what) {
  throw Failure{kExitInternal, std::string("cannot start a worker process: ") + what + ": " + std::strerror(errno)};
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

int coresAvailable() {
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

Pool::Pool(const RecordExpander::Setup& setup, int jobs, bool files) : setup_(setup), jobs_(jobs), files_(files) {}

Pool::~Pool() {
  for (Worker& w : workers_) {
    if (w.pid > 0) ::kill(w.pid, SIGTERM);
    closeFd(w.in);
    closeFd(w.out);
    reap(w);
  }
  if (!workers_.empty()) ::sigaction(SIGPIPE, &pipeAction_, nullptr);
}

// A worker that has gone is found by its answers' end, not by a signal.
void Pool::start() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, &pipeAction_);
  workers_.reserve(static_cast<std::size_t>(jobs_));
  for (int i = 0; i < jobs_; ++i) {
    workers_.emplace_back();
    startOne(workers_.back());
  }
}

void Pool::startOne(Worker& w) {
  int to[2], from[2];
  if (::pipe2(to, O_CLOEXEC) != 0) cannotStart("pipe");
  if (::pipe2(from, O_CLOEXEC) != 0) {
    ::close(to[0]);
    ::close(to[1]);
    cannotStart("pipe");
  }
  w.pid = ::fork();
  if (w.pid < 0) {
    for (int fd : {to[0], to[1], from[0], from[1]}) ::close(fd);
    cannotStart("fork");
  }
  if (w.pid == 0) {
    forgetChildren();
    for (Worker& other : workers_) {
      if (other.in >= 0) ::close(other.in);
      if (other.out >= 0) ::close(other.out);
    }
    ::close(to[1]);
    ::close(from[0]);
    // Standard output is the merge's alone: nothing a worker does can write there.
    int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
      ::dup2(null, STDOUT_FILENO);
      ::close(null);
    }
    runWorker(setup_, to[0], from[1]);
  }
  endOnAbort(w.pid);
  ::close(to[0]);
  ::close(from[1]);
  w.in = to[1];
  w.out = from[0];
  ::fcntl(w.in, F_SETFL, ::fcntl(w.in, F_GETFL) | O_NONBLOCK);
  ::fcntl(w.out, F_SETFL, ::fcntl(w.out, F_GETFL) | O_NONBLOCK);
}

int Pool::hold() const { return files_ ? kHoldFiles : kHold; }

bool Pool::hasRoom() const {
  if (workers_.empty()) return true;
  for (const Worker& w : workers_)
    if (!w.gone && !w.told && w.open < hold()) return true;
  return false;
}

void Pool::send(const Record& rec, const std::string& where, std::int64_t seq) {
  if (workers_.empty()) start();
  Worker* to = nullptr;
  for (Worker& w : workers_)
    if (!w.gone && !w.told && w.open < hold() && (!to || w.open < to->open)) to = &w;
  {
    WireOut m(to->sending, Wire::Record);
    m.number(seq);
    m.bytes(where);
    m.record(rec);
  }
  to->held[seq] = rec.number;
  ++to->open;
  if (to->sending.size() >= kBatch) flush(*to);
}

void Pool::verdict(int worker, std::int64_t seq, bool keep) {
  Worker& w = workers_[static_cast<std::size_t>(worker)];
  --w.open;
  if (w.gone) return;
  {
    WireOut m(w.sending, Wire::Verdict);
    m.number(seq);
    m.byte(keep);
  }
  if (w.sending.size() >= kBatch) flush(w);
}

void Pool::flush(Worker& w) {
  while (w.in >= 0 && w.sent < w.sending.size()) {
    ssize_t n = ::write(w.in, w.sending.data() + w.sent, w.sending.size() - w.sent);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n < 0) {  // the worker has gone: its answers' end says how
      closeFd(w.in);
      break;
    }
    w.sent += static_cast<std::size_t>(n);
  }
  w.sending.clear();
  w.sent = 0;
  if (w.told) closeFd(w.in);
}

std::size_t Pool::window() const { return static_cast<std::size_t>(jobs_ * hold()); }

void Pool::wait(Results& results) {
  for (Worker& w : workers_) flush(w);
  std::vector<pollfd> fds;
  std::vector<int> whose;
  for (std::size_t i = 0; i < workers_.size(); ++i) {
    Worker& w = workers_[i];
    if (w.out >= 0) {
      fds.push_back({w.out, POLLIN, 0});
      whose.push_back(static_cast<int>(i));
    }
    if (w.in >= 0 && w.sent < w.sending.size()) {
      fds.push_back({w.in, POLLOUT, 0});
      whose.push_back(-1 - static_cast<int>(i));
    }
  }
  if (fds.empty()) return;
  while (::poll(fds.data(), fds.size(), -1) < 0)
    if (errno != EINTR) throw Failure{kExitInternal, std::string("cannot wait for the workers: ") + std::strerror(errno)};
  for (std::size_t k = 0; k < fds.size(); ++k) {
    if (!fds[k].revents) continue;
    if (whose[k] < 0) flush(workers_[static_cast<std::size_t>(-1 - whose[k])]);
    else hear(whose[k], &results);
  }
  if (trouble_) throw *trouble_;
}

void Pool::hear(int index, Results* results) {
  Worker& w = workers_[static_cast<std::size_t>(index)];
  char buf[1 << 16];
  bool ended = false;
  for (;;) {
    ssize_t n = ::read(w.out, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) {
      w.heard.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    ended = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    break;
  }
  std::size_t at = 0;
  for (std::size_t whole; (whole = wholeMessage(std::string_view(w.heard).substr(at))) > 0; at += whole)
    take(index, std::string_view(w.heard).substr(at + 4, whole - 4), results);
  w.heard.erase(0, at);
  if (ended) lost(w);
}

void Pool::take(int index, std::string_view body, Results* results) {
  Worker& w = workers_[static_cast<std::size_t>(index)];
  WireIn m(body);
  Wire kind = m.kind();
  if (kind == Wire::Result) {
    std::int64_t seq = m.number();
    int status = static_cast<int>(m.number());
    std::string_view text = m.bytes();
    bool dataError = m.byte() != 0;
    if (!files_ || status != 0) --w.open;
    if (results) {
      Outcome& o = results->put(seq);
      o.status = status;
      o.text.assign(text);
      o.dataError = dataError;
      o.worker = index;
    }
  } else if (kind == Wire::Fatal) {
    int status = static_cast<int>(m.number());
    if (!trouble_) trouble_.emplace(status, std::string(m.bytes()));
    return;
  } else if (kind == Wire::Final) {
    w.finished = true;
  }
  for (auto n = m.number(); n > 0; --n) w.held.erase(m.number());
}

// A worker's answers have ended: as told, or by its death.
void Pool::lost(Worker& w) {
  w.gone = true;
  closeFd(w.out);
  closeFd(w.in);
  pid_t pid = w.pid;
  int status = reap(w);
  if (w.finished && WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
  std::string how = WIFSIGNALED(status) ? "was ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
                                              ::strsignal(WTERMSIG(status)) + ")"
                                        : "ended with status " + std::to_string(WEXITSTATUS(status));
  if (!trouble_)
    trouble_.emplace(kExitInternal, "a worker process (" + std::to_string(pid) + ") " + how + " while it held " +
                                        heldRecords(w) + "; the run stops there");
}

std::string Pool::heldRecords(const Worker& w) const {
  if (w.held.empty()) return "no record";
  std::string list;
  std::size_t i = 0;
  for (const auto& [seq, number] : w.held) {
    if (i++ > 0) list += i == w.held.size() ? " and " : ", ";
    list += std::to_string(number);
  }
  return (w.held.size() == 1 ? "record " : "records ") + list;
}

int Pool::reap(Worker& w) {
  int status = 0;
  if (w.pid <= 0) return status;
  while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
  }
  forgetChild(w.pid);
  w.pid = -1;
  return status;
}

void Pool::end(bool quiet) {
  for (Worker& w : workers_) {
    if (w.gone || w.told) continue;
    w.told = true;
    { WireOut m(w.sending, Wire::End); }
    flush(w);
  }
  Results ignored(1);
  for (;;) {
    bool running = false;
    for (const Worker& w : workers_) running = running || !w.gone;
    if (!running) break;
    try {
      wait(ignored);
    } catch (const Failure&) {
      // Kept in trouble_, and the other workers waited for all the same.
    }
  }
  if (trouble_ && !quiet) throw *trouble_;
}

}  // namespace moravel::tool
