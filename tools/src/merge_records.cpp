// merge_records.cpp: the records a mail merge reads: the file's form settled, each record read in turn and named for messages.
#include "merge_records.h"

#include <climits>

namespace moravel::tool {

namespace {

// "FROM-TO" or "FROM-": record numbers from 1. A range that ends just before
// it begins (5-4) is empty, so that ranges computed for many processes may be.
void parseRange(const std::string& text, long& from, long& to) {
  auto bad = [&text]() {
    throw Failure{kExitUsage, "--records " + text + ": expected FROM-TO or FROM-, record numbers from 1 "
                              "(1001-2000: the records numbered 1001 to 2000)"};
  };
  std::size_t dash = text.find('-');
  if (dash == std::string::npos || dash == 0) bad();
  std::string a = text.substr(0, dash), b = text.substr(dash + 1);
  auto digits = [](const std::string& s) { return !s.empty() && s.size() <= 18 && s.find_first_not_of("0123456789") == std::string::npos; };
  if (!digits(a) || !(b.empty() || digits(b))) bad();
  long long f = std::stoll(a), t = b.empty() ? LONG_MAX : std::stoll(b);
  if (f < 1 || f > LONG_MAX || t > LONG_MAX) bad();
  if (t < f - 1)
    throw Failure{kExitUsage, "--records " + text + ": ends before it begins (an empty range is FROM-(FROM-1))"};
  from = static_cast<long>(f);
  to = static_cast<long>(t);
}

}  // namespace

MergeRecords::MergeRecords(const ExpandOptions& o) : o_(o) {
  format_ = o.eachFormat.empty()    ? recordFormatOf(*o.each)
            : o.eachFormat == "csv" ? RecordFormat::Csv
            : o.eachFormat == "tsv" ? RecordFormat::Tsv
                                    : RecordFormat::JsonLines;
  if (!o.delimiter.empty() && format_ == RecordFormat::JsonLines)
    throw Failure{kExitUsage, "--delimiter goes with CSV records, not JSON Lines"};
  delimiter_ = o.delimiter.empty() ? 0 : o.delimiter == "," || o.delimiter == ";" ? o.delimiter[0] : '\t';
  to_ = LONG_MAX;
  if (!o.records.empty()) parseRange(o.records, from_, to_);
}

void MergeRecords::open() {
  reader_ = std::make_unique<RecordReader>(*o_.each, format_, !o_.common.unicode(), delimiter_);
}

bool MergeRecords::next(Record& rec) {
  for (;;) {
    if (last_ >= to_) return false;
    try {
      if (!reader_->next(rec)) return false;
    } catch (const DataError&) {
      if (++last_ < from_ && !csv()) continue;
      throw;
    }
    last_ = rec.number;
    if (rec.number >= from_) break;
  }
  where_.assign(reader_->what()).append(": record ").append(std::to_string(rec.number));
  if (rec.line) where_.append(" (line ").append(std::to_string(rec.line)).append(")");
  return true;
}

}  // namespace moravel::tool
