// merge_worker.h: a worker process of a parallel mail merge: records in, each expanded with its own copy of the plug-in, results out.
#pragma once

#include "merge_record.h"

namespace moravel::tool {

// Reads records from `in` until told to end (or the merge is gone), and
// answers on `out`; never returns. With a pattern, each record's file is
// written beside its place and put there only when the merge says so: a
// file the merge does not take is removed.
[[noreturn]] void runWorker(const RecordExpander::Setup& setup, int in, int out);

}  // namespace moravel::tool
