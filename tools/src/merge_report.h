// merge_report.h: how a mail merge's failed records are reported: the first ends the run, or with --keep-going each is told and counted.
#pragma once

#include <string>

#include "exit_status.h"

namespace moravel::tool {

class FailureReport {
 public:
  // `check`: the records were checked, not expanded (the check subcommand).
  FailureReport(bool keepGoing, bool check = false) : keepGoing_(keepGoing), check_(check) {}
  // A record that failed with --keep-going: told on standard error and
  // counted. `endsRecords`: the records after it cannot be trusted (a
  // broken row of CSV); then false.
  bool note(const Failure& f, bool endsRecords);
  // The end of the run with --keep-going: how many were expanded (or passed a
  // check) and how many failed; a check that found nothing says nothing.
  void summary(long written) const;
  // The run's status: the first failure's, or 0.
  int status() const { return firstStatus_; }
  long failed() const { return failed_; }

 private:
  bool keepGoing_;
  bool check_;
  long failed_ = 0;
  int firstStatus_ = 0;
};

}  // namespace moravel::tool
