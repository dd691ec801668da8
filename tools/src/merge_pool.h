// merge_pool.h: the worker processes of a parallel mail merge: started, handed records, heard from, and ended.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "merge_record.h"

namespace moravel::tool {

// A record's result from a worker, kept until its turn.
struct Outcome {
  int status = 0;     // 0: expanded
  std::string text;   // the text's bytes, the file's name, or the failure's message
  bool dataError = false;
  int worker = -1;    // who holds its file
};

// The results waiting for their turn, by the order the records were read: a
// ring of slots whose storage is kept, as many as may wait at once.
class Results {
 public:
  explicit Results(std::size_t capacity) : slots_(capacity) {}
  std::size_t capacity() const { return slots_.size(); }
  // The slot of `seq`, now filled.
  Outcome& put(std::int64_t seq) {
    Slot& s = slots_[index(seq)];
    s.seq = seq;
    s.filled = true;
    return s.outcome;
  }
  Outcome* find(std::int64_t seq) {
    Slot& s = slots_[index(seq)];
    return s.filled && s.seq == seq ? &s.outcome : nullptr;
  }
  void erase(std::int64_t seq) { slots_[index(seq)].filled = false; }

 private:
  struct Slot {
    std::int64_t seq = -1;
    bool filled = false;
    Outcome outcome;
  };
  std::size_t index(std::int64_t seq) const { return static_cast<std::size_t>(seq) % slots_.size(); }
  std::vector<Slot> slots_;
};

// Each worker is a fork of this process made when the first record is
// handed out, so that it has its own copy of the plug-in, loaded and set up
// once. A worker holds at most a few records (handed to it and not yet
// answered, or its files not yet put in place or removed), so that memory
// does not grow with the records.
class Pool {
 public:
  Pool(const RecordExpander::Setup& setup, int jobs, bool files);
  ~Pool();  // workers still running are ended and waited for
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  bool hasRoom() const;
  // A record handed to the worker holding fewest; `seq` counts the records read.
  void send(const Record& rec, const std::string& where, std::int64_t seq);
  // A file of a record its worker answered for put in place (`keep`) or removed.
  void verdict(int worker, std::int64_t seq, bool keep);
  // Waits until something is heard; results go into `results`. Failure (70)
  // naming the records a worker held when it ended without being told; the
  // status and message of a worker that could not go on.
  void wait(Results& results);
  // The most records handed out and not yet answered for, all workers together.
  std::size_t window() const;
  // Every worker told to end and waited for: what was not put in place is
  // removed. Failure as wait() says, unless `quiet` (another failure is
  // being reported).
  void end(bool quiet);

 private:
  struct Worker {
    pid_t pid = -1;
    int in = -1, out = -1;  // this side's ends: messages to it, answers from it
    std::string sending;    // messages not yet written
    std::size_t sent = 0;
    std::string heard;      // answers not yet read whole
    std::map<std::int64_t, long> held;  // by the order read: the record's number
    int open = 0;           // records it holds in the count that bounds it
    bool told = false, finished = false, gone = false;
  };
  void start();
  int hold() const;
  void startOne(Worker& w);
  void flush(Worker& w);
  void hear(int index, Results* results);
  void take(int index, std::string_view body, Results* results);
  void lost(Worker& w);
  int reap(Worker& w);  // the worker's wait status
  std::string heldRecords(const Worker& w) const;

  RecordExpander::Setup setup_;
  int jobs_;
  bool files_;
  std::vector<Worker> workers_;
  struct sigaction pipeAction_ {};
  std::optional<Failure> trouble_;  // the first thing that ends the run, heard from a worker
};

// The number of processors this process may run on (--jobs 0).
int coresAvailable();

}  // namespace moravel::tool
