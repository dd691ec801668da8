// merge_worker.cpp: a worker process of a parallel mail merge: records in, each expanded with its own copy of the plug-in, results out.
#include "merge_worker.h"

#include <poll.h>
#include <unistd.h>

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
  bool answer(const std::string& body);
  bool expandOne(WireIn& m);
  void writeFile(std::int64_t seq, const Expanded& e);
  void verdict(WireIn& m);
  void putSettled(WireOut& w);
  bool waiting() const;

  RecordExpander expander_;
  const NamePattern* pattern_;
  bool unicode_;
  int in_, out_;
  std::map<std::int64_t, std::unique_ptr<Output>> pending_;  // files written, not yet in place
  std::vector<std::int64_t> settled_;  // records done with since the merge was last told
  std::string message_, reply_, text_, madeDirs_;
  Record rec_;
};

void Worker::run() {
  for (;;) {
    // The merge counts what a worker holds: it is told before the worker waits.
    if (!settled_.empty() && !waiting()) {
      reply_.clear();
      {
        WireOut w(reply_, Wire::Settled);
        putSettled(w);
      }
      if (!answer(reply_)) return;
    }
    if (!readMessage(in_, message_)) return;  // the merge has gone: nothing more is put in place
    WireIn m(message_);
    Wire kind = m.kind();
    if (kind == Wire::Record) {
      if (!expandOne(m)) return;
    }
    else if (kind == Wire::Verdict) verdict(m);
    else break;
  }
  pending_.clear();
  reply_.clear();
  {
    WireOut w(reply_, Wire::Final);
    putSettled(w);
  }
  answer(reply_);
}

bool Worker::waiting() const {
  pollfd p{in_, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

bool Worker::answer(const std::string& body) { return writeAll(out_, body); }

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
  reply_.clear();
  try {
    Expanded e = expander_.expand(rec_, where);
    if (pattern_) {
      writeFile(seq, e);
    } else {
      text_.clear();
      appendText(*e.text, unicode_, text_);
      settled_.push_back(seq);
    }
    WireOut w(reply_, Wire::Result);
    w.number(seq);
    w.number(0);
    w.bytes(pattern_ ? e.name : text_);
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
  return answer(reply_);
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
