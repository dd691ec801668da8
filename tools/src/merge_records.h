// merge_records.h: the records a mail merge reads: the file's form settled, each record read in turn and named for messages.
#pragma once

#include <string>

#include "expand.h"
#include "records.h"

namespace moravel::tool {

class MergeRecords {
 public:
  // Failure (64) for a form or delimiter that does not fit.
  explicit MergeRecords(const ExpandOptions& o);
  // The file opened; DataError when it cannot be.
  void open();
  // The next record into `rec`, false at the end; DataError for a record that cannot be read.
  bool next(Record& rec);
  // The record read last, for messages: "letters.csv: record 3 (line 4)".
  const std::string& where() const { return where_; }
  bool csv() const { return format_ != RecordFormat::JsonLines; }
  double fraction() const { return reader_->fraction(); }
  const std::vector<std::u32string>& header() const { return reader_->header(); }

 private:
  const ExpandOptions& o_;
  RecordFormat format_;
  char delimiter_;
  std::unique_ptr<RecordReader> reader_;
  std::string where_;  // refilled for each record, its storage kept
};

}  // namespace moravel::tool
