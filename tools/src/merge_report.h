// merge_report.h: how a mail merge's failed records are reported: the first ends the run, or with --keep-going each is told and counted.
#pragma once

#include <string>

#include "exit_status.h"

namespace moravel::tool {

class FailureReport {
 public:
  explicit FailureReport(bool keepGoing) : keepGoing_(keepGoing) {}
  // A record that failed with --keep-going: told on standard error and
  // counted. `endsRecords`: the records after it cannot be trusted (a
  // broken row of CSV); then false.
  bool note(const Failure& f, bool endsRecords);
  // The end of the run with --keep-going: how many were expanded and how many failed.
  void summary(long written) const;
  // The run's status: the first failure's, or 0.
  int status() const { return firstStatus_; }
  long failed() const { return failed_; }

 private:
  bool keepGoing_;
  long failed_ = 0;
  int firstStatus_ = 0;
};

}  // namespace moravel::tool
