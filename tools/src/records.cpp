// records.cpp: JSON Lines and CSV records, read as a stream.
#include "records.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <set>
#include <vector>

#include "moravel/text.h"

namespace moravel::tool {

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string delimiterName(char c) { return c == '\t' ? "tabs" : "'" + std::string(1, c) + "'"; }

const std::string kTooLong = (kMaxRecordBytes % (1 << 20) ? "longer than " + std::to_string(kMaxRecordBytes) + " bytes"
                                                            : "longer than " + std::to_string(kMaxRecordBytes >> 20) + " MiB") +
                             ", the most a record may take";

}  // namespace

RecordFormat recordFormatOf(const std::string& path) {
  if (endsWith(path, ".jsonl") || endsWith(path, ".ndjson")) return RecordFormat::JsonLines;
  if (endsWith(path, ".csv")) return RecordFormat::Csv;
  if (endsWith(path, ".tsv")) return RecordFormat::Tsv;
  throw DataError(path + ": the name says neither JSON Lines (.jsonl, .ndjson) nor CSV (.csv, .tsv); use --each-format");
}

RecordReader::RecordReader(const std::string& path, RecordFormat format, bool oneByte, char delimiter)
    : what_(path == "-" ? "standard input" : path),
      format_(format),
      oneByte_(oneByte),
      delimiter_(delimiter ? delimiter : format == RecordFormat::Tsv ? '\t' : ','),
      delimiterGiven_(delimiter != 0),
      in_(&std::cin),
      flat_(oneByte) {
  if (path != "-") {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      throw DataError(what_ + ": cannot read the records: it is a directory");
    file_.open(path, std::ios::binary);
    if (!file_) throw DataError(what_ + ": cannot read the records: " + std::strerror(errno));
    in_ = &file_;
    if (S_ISREG(st.st_mode)) size_ = static_cast<long>(st.st_size);
  }
}

RecordReader::RecordReader(std::istream& in, const std::string& what, RecordFormat format, bool oneByte,
                           char delimiter)
    : what_(what),
      format_(format),
      oneByte_(oneByte),
      delimiter_(delimiter ? delimiter : format == RecordFormat::Tsv ? '\t' : ','),
      delimiterGiven_(delimiter != 0),
      in_(&in),
      flat_(oneByte) {}

void RecordReader::fail(long line, const std::string& why) const {
  throw DataError(what_ + ": record " + std::to_string(count_) + " (line " + std::to_string(line) + "): " + why);
}

int RecordReader::get() {
  int c;
  if (!held_.empty()) {
    c = static_cast<unsigned char>(held_.front());
    held_.erase(0, 1);
  } else {
    c = in_->rdbuf()->sbumpc();
    if (c == std::char_traits<char>::eof()) return -1;
  }
  ++read_;
  if (c == '\n') ++line_;
  if (c == 0) fail(line_, "a NUL character, which would end a text early");
  if (read_ - rowStart_ > kMaxRecordBytes) fail(rowLine_, "a row " + kTooLong);
  return c;
}

// The next line into `text`, without its line feed; false at the end of the
// input when nothing is left. It is read a piece at a time, so that a line
// too long, or one holding a NUL, is refused before the rest of it is read.
bool RecordReader::readLine(std::string& text, long line) {
  constexpr std::streamsize kPiece = MORAVEL_RECORD_PIECE;
  if (piece_.size() < static_cast<std::size_t>(kPiece) + 1) piece_.resize(static_cast<std::size_t>(kPiece) + 1);
  text.clear();
  bool any = false;
  for (;;) {
    in_->getline(piece_.data(), kPiece + 1);
    std::streamsize n = in_->gcount();
    read_ += static_cast<long>(n);
    if (in_->bad()) fail(line, "the records could not be read");
    if (in_->eof()) {
      text.append(piece_.data(), static_cast<std::size_t>(n));
      return any || n > 0;
    }
    if (!in_->fail()) {  // the line feed was reached, and taken
      text.append(piece_.data(), static_cast<std::size_t>(n - 1));
      return true;
    }
    // The piece filled up before the line's end.
    in_->clear();
    any = true;
    if (std::memchr(piece_.data(), 0, static_cast<std::size_t>(n)))
      fail(line, "a NUL character, which would end a text early");
    if (static_cast<long>(text.size()) + n > kMaxRecordBytes) fail(line, "a line " + kTooLong);
    text.append(piece_.data(), static_cast<std::size_t>(n));
  }
}

double RecordReader::fraction() const { return size_ > 0 ? static_cast<double>(read_) / static_cast<double>(size_) : -1; }

// One row into the first `count` of `fields`, whose strings keep their
// storage from row to row; false at the end of the input before any field.
bool RecordReader::readCsvRow(std::vector<std::string>& fields, std::size_t& count) {
  count = 0;
  rowStart_ = read_;
  rowLine_ = line_;
  int c = get();
  if (c < 0) return false;
  long start = rowLine_;
  auto next = [&]() -> std::string& {
    if (count == fields.size()) fields.emplace_back();
    fields[count].clear();
    return fields[count];
  };
  std::string* field = &next();
  for (;;) {
    if (c == '"' && field->empty()) {
      for (;;) {
        c = get();
        if (c < 0) fail(start, "a quoted field is not closed");
        if (c == '"') {
          c = get();
          if (c != '"') break;
        }
        *field += static_cast<char>(c);
      }
      if (c >= 0 && c != delimiter_ && c != '\n' && c != '\r') fail(line_, "text after a closing quote");
    }
    if (c < 0 || c == delimiter_ || c == '\n' || c == '\r') {
      ++count;
      if (c == '\r') {
        c = get();
        if (c != '\n') fail(line_, "a carriage return not followed by a line feed");
      }
      if (c < 0 || c == '\n') return true;
      field = &next();
      c = get();
      continue;
    }
    *field += static_cast<char>(c);
    c = get();
  }
}

// The bytes of a UTF-8 byte-order mark are dropped; any others looked at are read again.
void RecordReader::skipByteOrderMark() {
  static const std::string kMark = "\xEF\xBB\xBF";
  while (held_.size() < kMark.size()) {
    int c = in_->rdbuf()->sbumpc();
    if (c == std::char_traits<char>::eof()) break;
    held_ += static_cast<char>(c);
    if (held_.back() != kMark[held_.size() - 1]) return;
  }
  if (held_ == kMark) held_.clear();
}

void RecordReader::readHeader() {
  skipByteOrderMark();
  std::vector<std::string> fields;
  std::size_t count = 0;
  if (!readCsvRow(fields, count)) throw DataError(what_ + ": no header row");
  fields.resize(count);
  std::set<std::u32string> seen;
  for (const auto& f : fields) {
    std::size_t bad = 0;
    std::u32string name = decodeUtf8(f, &bad);
    if (bad || name.empty()) throw DataError(what_ + ": line 1: a header that is empty or not UTF-8");
    if (!seen.insert(name).second)
      throw DataError(what_ + ": line 1: the header names the column '" + f + "' twice");
    header_.push_back(std::move(name));
  }
  // A header read with the wrong delimiter is one column holding the right one.
  if (fields.size() == 1 && !delimiterGiven_)
    for (char other : {',', ';', '\t'})
      if (other != delimiter_ && fields[0].find(other) != std::string::npos)
        throw DataError(what_ + ": line 1: the header did not split at " + delimiterName(delimiter_) +
                        ": it is one column, '" + fields[0] + "', so no record has a field the template could "
                        "read by name; for fields separated by " + delimiterName(other) + " give --delimiter " +
                        (other == '\t' ? "tab" : "'" + std::string(1, other) + "'"));
}

namespace {

// Whether a line may go to the on-demand parser: one that holds a control
// character other than a line's closing carriage return is left to the full
// reading, which refuses those inside a text. Counted in one pass without a
// branch a byte, which the compiler turns into vector code.
bool plainLine(const std::string& text) {
  std::size_t n = text.size();
  if (n > 0 && text[n - 1] == '\r') --n;
  std::size_t controls = 0;
  for (std::size_t i = 0; i < n; ++i) controls += static_cast<unsigned char>(text[i]) < 0x20;
  return controls == 0;
}

}  // namespace

bool RecordReader::next(Record& r) {
  r.fields.count = 0;
  if (!r.data.variables.empty() || !r.data.lists.empty()) r.data = DataSet();
  if (format_ == RecordFormat::JsonLines) {
    std::string& text = text_;
    long line;
    bool plain = false;
    for (;;) {
      line = line_;
      ++count_;
      if (!readLine(text, line)) {
        --count_;
        return false;
      }
      if (static_cast<long>(text.size()) > kMaxRecordBytes) fail(line, "a line " + kTooLong);
      // Byte-order marks, at the start of the file or of each file joined to it.
      std::size_t marks = 0;
      while (text.compare(marks, 3, "\xEF\xBB\xBF") == 0) marks += 3;
      if (marks) text.erase(0, marks);
      ++line_;
      // A plain line holds no NUL.
      plain = plainLine(text);
      if (!plain && text.find('\0') != std::string::npos)
        fail(line, "a NUL character, which would end a text early");
      if (text.find_first_not_of(" \t\r") != std::string::npos) break;
      --count_;
    }
    r.number = count_;
    r.line = line;
    if (plain && flat_.read(text, r.fields)) return true;
    r.fields.count = 0;
    std::string where = what_ + ": record " + std::to_string(count_) + " (line " + std::to_string(line) + ")";
    r.data = parseRecord(text, where, oneByte_);
    return true;
  }
  if (header_.empty()) readHeader();
  std::vector<std::string>& fields = row_;
  std::size_t count = 0;
  long line;
  for (;;) {
    line = line_;
    ++count_;
    if (!readCsvRow(fields, count)) {
      --count_;
      return false;
    }
    if (count != 1 || !fields[0].empty() || header_.size() == 1) break;
    --count_;  // a blank line
  }
  if (count != header_.size())
    fail(line, std::to_string(count) + " fields where the header has " + std::to_string(header_.size()));
  r.number = count_;
  r.line = line;
  Fields& out = r.fields;
  if (out.all.size() < count) out.all.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    Field& f = out.all[i];
    f.name.assign(header_[i]);
    if (fillText(f.value, fields[i], oneByte_)) continue;
    std::size_t bad = 0;
    decodeUtf8(fields[i], &bad);
    if (bad) fail(line, "field " + std::to_string(i + 1) + " is not UTF-8");
    fail(line, "field " + std::to_string(i + 1) + " has a character above U+00FF, which cannot reach the 8-bit build");
  }
  out.count = count;
  return true;
}

}  // namespace moravel::tool
