// merge_worker.cpp: a worker process of a parallel mail merge: records in, each expanded with its own copy of the plug-in, results out.
#include "merge_worker.h"

#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <new>

#include "data_file.h"
#include "merge_wire.h"
#include "merge_writer.h"
#include "output.h"
#include "text_io.h"

namespace moravel::tool {

namespace {

class Worker {
 public:
  Worker(const RecordExpander::Setup& setup, int in, int out)
      : expander_(setup), pattern_(setup.pattern), unicode_(setup.session->unicode), in_(in), out_(out) {}
  void run();

 private:
  bool next(std::string_view& body);
  bool answer();  // the answers gathered written; false when the merge has gone
  bool expandOne(WireIn& m);
  void writeFile(std::int64_t seq, const Expanded& e);
  void verdict(WireIn& m);
  void putSettled(WireOut& w);

  RecordExpander expander_;
  const NamePattern* pattern_;
  bool unicode_;
  int in_, out_;
  std::map<std::int64_t, std::unique_ptr<Output>> pending_;  // files written, not yet in place
  std::vector<std::int64_t> settled_;  // records done with since the merge was last told
  std::string heard_;    // messages read, from at_ on not yet taken
  std::size_t at_ = 0;
  std::string reply_;    // answers not yet written
  std::string madeDirs_;
  Record rec_;
};

void Worker::run() {
  std::string_view body;
  while (next(body)) {
    WireIn m(body);
    Wire kind = m.kind();
    if (kind == Wire::Record) {
      if (!expandOne(m)) return;
    } else if (kind == Wire::Verdict) {
      verdict(m);
    } else {
      pending_.clear();
      {
        WireOut w(reply_, Wire::Final);
        putSettled(w);
      }
      answer();
      return;
    }
  }
  // The merge has gone: nothing more is put in place.
}

// The next message, read in large pieces: the answers gathered so far are
// written before the worker waits for more, so that both travel in batches.
bool Worker::next(std::string_view& body) {
  for (;;) {
    std::size_t whole = wholeMessage(std::string_view(heard_).substr(at_));
    if (whole) {
      body = std::string_view(heard_).substr(at_ + 4, whole - 4);
      at_ += whole;
      return true;
    }
    heard_.erase(0, at_);
    at_ = 0;
    // The merge counts what a worker holds: it is told before the worker waits.
    if (!settled_.empty()) {
      WireOut w(reply_, Wire::Settled);
      putSettled(w);
    }
    if (!answer()) return false;
    char buf[1 << 16];
    ssize_t n;
    while ((n = ::read(in_, buf, sizeof buf)) < 0 && errno == EINTR) {
    }
    if (n <= 0) return false;
    heard_.append(buf, static_cast<std::size_t>(n));
  }
}

bool Worker::answer() {
  if (reply_.empty()) return true;
  bool ok = writeAll(out_, reply_);
  reply_.clear();
  return ok;
}

void Worker::putSettled(WireOut& w) {
  w.number(static_cast<std::int64_t>(settled_.size()));
  for (std::int64_t seq : settled_) w.number(seq);
  settled_.clear();
}

// False when the merge has gone.
bool Worker::expandOne(WireIn& m) {
  std::int64_t seq = m.number();
  std::string where(m.bytes());
  m.record(rec_);
  try {
    Expanded e = expander_.expand(rec_, where);
    if (pattern_) writeFile(seq, e);
    else settled_.push_back(seq);
    WireOut w(reply_, Wire::Result);
    w.number(seq);
    w.number(0);
    if (pattern_) w.bytes(e.name);
    else w.textBytes(*e.text, unicode_);
    w.byte(0);
    putSettled(w);
  } catch (const Failure& f) {
    settled_.push_back(seq);
    WireOut w(reply_, Wire::Result);
    w.number(seq);
    w.number(f.status);
    w.bytes(f.what());
    w.byte(dynamic_cast<const DataError*>(&f) != nullptr);
    putSettled(w);
  }
  return reply_.size() < (1u << 16) || answer();
}

void Worker::writeFile(std::int64_t seq, const Expanded& e) {
  try {
    makeDirectories(e.dirs, madeDirs_);
    auto file = std::make_unique<Output>(e.name);
    writeText(*e.text, unicode_, *file);
    pending_.emplace(seq, std::move(file));
  } catch (const OutputError& err) {
    throw Failure{kExitCantCreate, err.what()};
  }
}

void Worker::verdict(WireIn& m) {
  std::int64_t seq = m.number();
  bool keep = m.byte() != 0;
  auto it = pending_.find(seq);
  if (it == pending_.end()) return;
  std::unique_ptr<Output> file = std::move(it->second);
  pending_.erase(it);
  if (keep) file->commit();
  settled_.push_back(seq);
}

// What ends a worker other than the merge's word: said to the merge, which ends the run with it.
void fatal(int out, int status, const std::string& message) {
  std::string body;
  {
    WireOut w(body, Wire::Fatal);
    w.number(status);
    w.bytes(message);
  }
  writeAll(out, body);
}

}  // namespace

void runWorker(const RecordExpander::Setup& setup, int in, int out) {
  try {
    Worker worker(setup, in, out);
    worker.run();
  } catch (const OutputError& e) {
    fatal(out, kExitCantCreate, e.what());
  } catch (const Failure& f) {
    fatal(out, f.status, f.what());
  } catch (const std::bad_alloc&) {
    fatal(out, kExitNoMemory, "out of memory");
  } catch (const std::exception& e) {
    fatal(out, kExitInternal, std::string("internal error: ") + e.what());
  }
  ::_exit(0);
}

}  // namespace moravel::tool
