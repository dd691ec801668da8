// merge_records.cpp: the records a mail merge reads: the file's form settled, each record read in turn and named for messages.
#include "merge_records.h"

namespace moravel::tool {

MergeRecords::MergeRecords(const ExpandOptions& o) : o_(o) {
  format_ = o.eachFormat.empty()    ? recordFormatOf(*o.each)
            : o.eachFormat == "csv" ? RecordFormat::Csv
            : o.eachFormat == "tsv" ? RecordFormat::Tsv
                                    : RecordFormat::JsonLines;
  if (!o.delimiter.empty() && format_ == RecordFormat::JsonLines)
    throw Failure{kExitUsage, "--delimiter goes with CSV records, not JSON Lines"};
  delimiter_ = o.delimiter.empty() ? 0 : o.delimiter == "," || o.delimiter == ";" ? o.delimiter[0] : '\t';
}

void MergeRecords::open() {
  reader_ = std::make_unique<RecordReader>(*o_.each, format_, !o_.common.unicode(), delimiter_);
}

bool MergeRecords::next(Record& rec) {
  if (!reader_->next(rec)) return false;
  where_.assign(reader_->what()).append(": record ").append(std::to_string(rec.number));
  if (rec.line) where_.append(" (line ").append(std::to_string(rec.line)).append(")");
  return true;
}

}  // namespace moravel::tool
