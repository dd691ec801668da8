// merge_records.h: the records a mail merge reads: the file's form settled, each record read in turn and named for messages.
#pragma once

#include <climits>
#include <string>

#include "expand.h"
#include "records.h"

namespace moravel::tool {

class MergeRecords {
 public:
  // Failure (64) for a form or delimiter that does not fit, or a malformed --records.
  explicit MergeRecords(const ExpandOptions& o);
  // The file opened; DataError when it cannot be.
  void open();
  // The next record of the range into `rec`, false at its end; DataError
  // for a record that cannot be read. Records before the range are read
  // and passed over: a line of JSON Lines there that cannot be read too,
  // but not a broken row of CSV, after which no row can be trusted.
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
  long from_ = 1, to_;  // the range of --records
  long last_ = 0;       // the number of the record read last, or that failed
  std::unique_ptr<RecordReader> reader_;
  std::string where_;  // refilled for each record, its storage kept
};

}  // namespace moravel::tool
