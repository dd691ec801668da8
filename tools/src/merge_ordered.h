// merge_ordered.h: a mail merge shared among worker processes, its results written in record order.
#pragma once

#include "merge_record.h"
#include "merge_records.h"
#include "merge_writer.h"

namespace moravel::tool {

// The records read here once, in order, and handed out to `jobs` worker
// processes; their results written in record order, as one process writes
// them. A failure ends the run as there: the records before it are written;
// the files of later records that workers have already written are removed
// before they are put in place.
int mergeInParallel(const RecordExpander::Setup& setup, MergeRecords& records, MergeWriter& writer, int jobs);

}  // namespace moravel::tool
