// merge_report.cpp: how a mail merge's failed records are reported: the first ends the run, or with --keep-going each is told and counted.
#include "merge_report.h"

#include <iostream>

namespace moravel::tool {

bool FailureReport::note(const Failure& f, bool endsRecords) {
  std::cerr << "moravel: " << f.what() << "\n";
  ++failed_;
  if (!firstStatus_) firstStatus_ = f.status;
  return !endsRecords;
}

void FailureReport::summary(long written) const {
  if (keepGoing_ && !(check_ && failed_ == 0))
    std::cerr << "moravel: " << written << (written == 1 ? " record" : " records")
              << (check_ ? " passed, " : " expanded, ") << failed_ << " failed\n";
}

}  // namespace moravel::tool
