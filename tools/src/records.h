// records.h: the records of a mail merge (--each), read one at a time from JSON Lines or CSV.
#pragma once

#include <fstream>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "data_file.h"
#include "flat_record.h"

namespace moravel::tool {

enum class RecordFormat { JsonLines, Csv, Tsv };

// The form a records file's name says (.jsonl, .ndjson, .csv, .tsv); DataError when it says none.
RecordFormat recordFormatOf(const std::string& path);

struct Record {
  long number = 0;  // from 1
  long line = 0;    // where it begins in the file, from 1
  Fields fields;    // its variables, when it has nothing else
  DataSet data;     // otherwise its variables and lists
};

// The longest JSON Lines line or CSV row read, in bytes; a longer one is
// refused before more of it is read, so memory stays bounded on any input.
// The fuzz build makes it and the pieces a line is read in small, so that
// short inputs reach both.
#ifndef MORAVEL_MAX_RECORD_BYTES
#define MORAVEL_MAX_RECORD_BYTES (64L << 20)
#endif
#ifndef MORAVEL_RECORD_PIECE
#define MORAVEL_RECORD_PIECE (1 << 16)
#endif
constexpr long kMaxRecordBytes = MORAVEL_MAX_RECORD_BYTES;

// Reads records as a stream: memory is bounded by the largest record.
//   JSON Lines: each non-blank line is an object, read as parseRecord says;
//   the last line may end without a line break.
//   CSV (RFC 4180): a header row, then one record a row; quoted fields may
//   hold the delimiter, doubled quotes and line breaks; lines end in CRLF or
//   LF. A quote inside a field that does not begin with one is a character
//   of it (12" pizza), as spreadsheets read it. Each column is a text
//   variable named by its header; a header naming a column twice is
//   refused. TSV is the same with tabs.
// A UTF-8 byte-order mark at the start of the file is skipped (in JSON Lines
// those at the start of any line, as files joined together hold them).
// Errors are DataError naming the file, the record and its line.
class RecordReader {
 public:
  // `delimiter`: the one CSV separates fields with, 0 for the format's own
  // (',' or a tab). A header of one column that holds another delimiter
  // did not split, and is refused unless the delimiter was given.
  RecordReader(const std::string& path, RecordFormat format, bool oneByte, char delimiter = 0);
  // Records from a stream of unknown size, called `what` in messages.
  RecordReader(std::istream& in, const std::string& what, RecordFormat format, bool oneByte, char delimiter = 0);
  // The next record into `r`; false at the end.
  bool next(Record& r);
  // How much of the file has been read, 0 to 1; negative when not known (a stream).
  double fraction() const;
  const std::string& what() const { return what_; }
  // The CSV header's column names, once the first record is read.
  const std::vector<std::u32string>& header() const { return header_; }

 private:
  int get();  // the next byte, or -1 at the end
  bool readLine(std::string& text, long line);
  bool readCsvRow(std::vector<std::string>& fields, std::size_t& count);
  void readHeader();
  void skipByteOrderMark();
  [[noreturn]] void fail(long line, const std::string& why) const;

  std::string what_;
  RecordFormat format_;
  bool oneByte_;
  char delimiter_;
  bool delimiterGiven_;
  std::string held_;  // bytes taken while looking for a byte-order mark, read again first
  std::ifstream file_;
  std::istream* in_;
  long size_ = -1, read_ = 0;
  long line_ = 1, count_ = 0;
  long rowStart_ = 0, rowLine_ = 1;  // where the CSV row being read began
  std::vector<std::u32string> header_;
  std::string text_;              // the JSON line being read, its storage kept
  std::vector<char> piece_;       // a piece of it, as read
  std::vector<std::string> row_;  // the CSV row being read, the same
  FlatRecordReader flat_;
};

}  // namespace moravel::tool
