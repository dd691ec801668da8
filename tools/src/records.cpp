// records.cpp: JSON Lines and CSV records, read as a stream.
#include "records.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <vector>

#include "moravel/text.h"

namespace moravel::tool {

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

RecordFormat recordFormatOf(const std::string& path) {
  if (endsWith(path, ".jsonl") || endsWith(path, ".ndjson")) return RecordFormat::JsonLines;
  if (endsWith(path, ".csv")) return RecordFormat::Csv;
  throw DataError(path + ": the name says neither JSON Lines (.jsonl, .ndjson) nor CSV (.csv); use --each-format");
}

RecordReader::RecordReader(const std::string& path, RecordFormat format, bool oneByte)
    : what_(path == "-" ? "standard input" : path), format_(format), oneByte_(oneByte), in_(&std::cin) {
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

void RecordReader::fail(long line, const std::string& why) const {
  throw DataError(what_ + ": record " + std::to_string(count_) + " (line " + std::to_string(line) + "): " + why);
}

int RecordReader::get() {
  int c = in_->rdbuf()->sbumpc();
  if (c == std::char_traits<char>::eof()) return -1;
  ++read_;
  if (c == '\n') ++line_;
  if (c == 0) fail(line_, "a NUL character, which would end a text early");
  return c;
}

double RecordReader::fraction() const { return size_ > 0 ? static_cast<double>(read_) / static_cast<double>(size_) : -1; }

// One row of fields; false at the end of the input before any field.
bool RecordReader::readCsvRow(std::vector<std::string>& fields) {
  fields.clear();
  int c = get();
  if (c < 0) return false;
  long start = line_ - (c == '\n' ? 1 : 0);
  std::string field;
  for (;;) {
    if (c == '"' && field.empty()) {
      for (;;) {
        c = get();
        if (c < 0) fail(start, "a quoted field is not closed");
        if (c == '"') {
          c = get();
          if (c != '"') break;
        }
        field += static_cast<char>(c);
      }
      if (c >= 0 && c != ',' && c != '\n' && c != '\r') fail(line_, "text after a closing quote");
    }
    if (c < 0 || c == ',' || c == '\n' || c == '\r') {
      fields.push_back(std::move(field));
      field.clear();
      if (c == '\r') {
        c = get();
        if (c != '\n') fail(line_, "a carriage return not followed by a line feed");
      }
      if (c < 0 || c == '\n') return true;
      c = get();
      continue;
    }
    if (c == '"') fail(line_, "a quote inside an unquoted field");
    field += static_cast<char>(c);
    c = get();
  }
}

bool RecordReader::next(Record& r) {
  r.data = DataSet();
  if (format_ == RecordFormat::JsonLines) {
    std::string text;
    long line;
    for (;;) {
      line = line_;
      ++count_;
      bool more = static_cast<bool>(std::getline(*in_, text));
      if (!more && text.empty()) {
        --count_;
        return false;
      }
      read_ += static_cast<long>(text.size()) + 1;
      ++line_;
      if (text.find('\0') != std::string::npos) fail(line, "a NUL character, which would end a text early");
      if (text.find_first_not_of(" \t\r") != std::string::npos) break;
      --count_;
    }
    r.number = count_;
    r.line = line;
    std::string where = what_ + ": record " + std::to_string(count_) + " (line " + std::to_string(line) + ")";
    r.data = parseDataSet(text, where, oneByte_);
    if (!r.data.methods.empty() || r.data.keywordMap || r.data.instance)
      throw DataError(where + ": a record holds variables and lists only");
    return true;
  }
  std::vector<std::string> fields;
  if (header_.empty()) {
    if (!readCsvRow(fields)) throw DataError(what_ + ": no header row");
    for (const auto& f : fields) {
      std::size_t bad = 0;
      std::u32string name = decodeUtf8(f, &bad);
      if (bad || name.empty()) throw DataError(what_ + ": line 1: a header that is empty or not UTF-8");
      header_.push_back(std::move(name));
    }
  }
  long line;
  for (;;) {
    line = line_;
    ++count_;
    if (!readCsvRow(fields)) {
      --count_;
      return false;
    }
    if (fields.size() != 1 || !fields[0].empty() || header_.size() == 1) break;
    --count_;  // a blank line
  }
  if (fields.size() != header_.size())
    fail(line, std::to_string(fields.size()) + " fields where the header has " + std::to_string(header_.size()));
  r.number = count_;
  r.line = line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    std::size_t bad = 0;
    std::u32string value = decodeUtf8(fields[i], &bad);
    if (bad) fail(line, "field " + std::to_string(i + 1) + " is not UTF-8");
    if (oneByte_)
      for (char32_t ch : value)
        if (ch > 0xFF) fail(line, "field " + std::to_string(i + 1) + " has a character above U+00FF, which cannot reach the 8-bit build");
    r.data.variables.emplace_back(header_[i], Value::text(std::move(value)));
  }
  return true;
}

}  // namespace moravel::tool
