// progress.h: the line a long mail merge keeps on a terminal's standard error.
#pragma once

#include <chrono>

namespace moravel::tool {

// One line on a terminal's standard error while a run lasts more than a
// second: records done, records a second, and the time left where the
// records' size is known.
class Progress {
 public:
  explicit Progress(bool quiet);
  void tick(long done, double fraction);
  // Ends the line, so that later messages start on their own.
  void done();

 private:
  using Clock = std::chrono::steady_clock;
  bool on_, shown_ = false;
  Clock::time_point start_, last_;
};

}  // namespace moravel::tool
