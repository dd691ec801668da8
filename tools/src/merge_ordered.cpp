// merge_ordered.cpp: a mail merge shared among worker processes, its results written in record order.
#include "merge_ordered.h"

#include <map>
#include <optional>

#include "merge_pool.h"
#include "merge_report.h"
#include "progress.h"

namespace moravel::tool {

namespace {

class Ordered {
 public:
  Ordered(const RecordExpander::Setup& setup, MergeRecords& records, MergeWriter& writer, int jobs)
      : o_(*setup.options), records_(records), writer_(writer), pool_(setup, jobs, setup.pattern != nullptr),
        report_(o_.keepGoing), progress_(o_.quiet), results_(pool_.window() + 64) {}
  int run();

 private:
  void handOut();
  void writeInTurn();
  void settle(std::int64_t seq, Outcome& r);
  void failed(const Failure& f, bool dataError);

  const ExpandOptions& o_;
  MergeRecords& records_;
  MergeWriter& writer_;
  Pool pool_;
  FailureReport report_;
  Progress progress_;
  Results results_;                           // answered, or failed unread, waiting for their turn
  std::map<std::int64_t, std::string> where_;  // each record handed out, for messages about its file
  std::int64_t read_ = 0, done_ = 0;           // records read, and written in turn
  bool reading_ = true, stopped_ = false;
  Record rec_;
};

int Ordered::run() {
  try {
    for (;;) {
      handOut();
      writeInTurn();
      if (stopped_ || (!reading_ && done_ == read_)) break;
      // All written: room again, and nothing to wait for.
      if (done_ == read_) continue;
      pool_.wait(results_);
    }
    progress_.done();
    pool_.end(false);
  } catch (...) {
    progress_.done();
    pool_.end(true);
    writer_.flush();  // the records written before a failure stay written
    throw;
  }
  writer_.finish();
  report_.summary(writer_.written());
  return report_.status();
}

// Records read while a worker has room for them. One that cannot be read
// takes its turn as a failed record.
void Ordered::handOut() {
  // Lines that cannot be read take slots too: the ring bounds them.
  while (reading_ && pool_.hasRoom() && static_cast<std::size_t>(read_ - done_) < results_.capacity()) {
    try {
      if (!records_.next(rec_)) {
        reading_ = false;
        return;
      }
    } catch (const Failure& f) {
      Outcome& r = results_.put(read_++);
      r.status = f.status;
      r.text = f.what();
      r.dataError = true;
      // The rows after a broken one cannot be trusted; a bad line ends the run unless told to go on.
      if (!o_.keepGoing || records_.csv()) reading_ = false;
      continue;
    }
    if (writer_.hasPattern()) where_[read_] = records_.where();
    pool_.send(rec_, records_.where(), read_++);
  }
}

void Ordered::writeInTurn() {
  for (Outcome* r = results_.find(done_); !stopped_ && r; r = results_.find(done_)) {
    settle(done_, *r);
    results_.erase(done_);
    where_.erase(done_++);
    progress_.tick(writer_.written() + report_.failed(), records_.fraction());
  }
}

void Ordered::settle(std::int64_t seq, Outcome& r) {
  if (r.status != 0) return failed(Failure{r.status, r.text}, r.dataError);
  if (!writer_.hasPattern()) return writer_.writeBytes(r.text);
  try {
    writer_.accept(r.text, where_[seq]);
  } catch (const Failure& f) {
    pool_.verdict(r.worker, seq, false);
    return failed(f, false);
  }
  pool_.verdict(r.worker, seq, true);
}

void Ordered::failed(const Failure& f, bool dataError) {
  if (!o_.keepGoing) throw f;
  if (report_.note(f, dataError && records_.csv())) return;
  stopped_ = true;  // what follows a broken row is not written
}

}  // namespace

int mergeInParallel(const RecordExpander::Setup& setup, MergeRecords& records, MergeWriter& writer, int jobs) {
  Ordered ordered(setup, records, writer, jobs);
  return ordered.run();
}

}  // namespace moravel::tool
