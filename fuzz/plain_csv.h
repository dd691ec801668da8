// plain_csv.h: the fuzz oracle's own CSV reading: rows of fields by a plain state machine,
// then the tool's rules for a header and its records, apart from the tool's reader.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "plain_text.h"

struct PlainCsvRecord {
  long line = 0;  // where it begins, from 1
  std::vector<std::u32string> values;
};

struct PlainCsv {
  std::vector<std::u32string> header;
  std::vector<PlainCsvRecord> records;
  bool refused = false;  // after the records above (or at the header, when there is none)
};

class PlainCsvReader {
 public:
  // `delimiter`: the one fields are separated by; `given`: whether the user
  // named it; `limit`: the most bytes a row may take, its line break included.
  static PlainCsv Read(std::string_view in, char delimiter, bool given, bool oneByte, long limit)
  {
    PlainCsvReader r(in, delimiter, limit);
    PlainCsv out;
    if (in.substr(0, 3) == "\xEF\xBB\xBF") r.at_ = 3;
    std::vector<std::string> row;
    long line;
    int got = r.Row(row, line);
    if (got != 1) {
      out.refused = true;
      return out;
    }
    std::set<std::u32string> seen;
    for (const auto& f : row) {
      auto name = PlainUtf8(f);
      if (!name || name->empty() || !seen.insert(*name).second) {
        out.refused = true;
        return out;
      }
      out.header.push_back(*name);
    }
    if (row.size() == 1 && !given)
      for (char other : {',', ';', '\t'})
        if (other != delimiter && row[0].find(other) != std::string::npos) {
          out.refused = true;
          out.header.clear();
          return out;
        }
    for (;;) {
      got = r.Row(row, line);
      if (got == 0) return out;
      if (got < 0) break;
      // A blank line (one empty field) is no record, unless the header has one column.
      if (row.size() == 1 && row[0].empty() && out.header.size() != 1) continue;
      if (row.size() != out.header.size()) break;
      PlainCsvRecord rec;
      rec.line = line;
      for (const auto& f : row) {
        auto v = PlainValueText(f, oneByte);
        if (!v) {
          out.refused = true;
          return out;
        }
        rec.values.push_back(*v);
      }
      out.records.push_back(rec);
    }
    out.refused = true;
    return out;
  }

 private:
  PlainCsvReader(std::string_view in, char delimiter, long limit) : in_(in), delimiter_(delimiter), limit_(limit) {}

  // 1: a row into `fields`, beginning on `line`; 0: the input's end; -1: bad bytes.
  int Row(std::vector<std::string>& fields, long& line)
  {
    fields.clear();
    if (at_ == in_.size()) return 0;
    line = line_;
    size_t start = at_;
    enum { FieldStart, Unquoted, Quoted, AfterQuote } state = FieldStart;
    fields.emplace_back();
    for (;;) {
      if (at_ == in_.size()) return state == Quoted ? -1 : 1;
      char c = in_[at_++];
      if (c == '\n') line_++;
      if (c == '\0' || static_cast<long>(at_ - start) > limit_) return -1;
      if (state == Quoted) {
        if (c == '"') state = AfterQuote;
        else fields.back() += c;
        continue;
      }
      if (state == AfterQuote && c == '"') {
        fields.back() += '"';
        state = Quoted;
        continue;
      }
      if (c == delimiter_) {
        fields.emplace_back();
        state = FieldStart;
        continue;
      }
      if (c == '\r') {
        if (at_ == in_.size() || in_[at_] != '\n') return -1;
        at_++;
        if (static_cast<long>(at_ - start) > limit_) return -1;
        line_++;
        return 1;
      }
      if (c == '\n') return 1;
      if (state == AfterQuote) return -1;
      if (state == FieldStart && c == '"') {
        state = Quoted;
        continue;
      }
      state = Unquoted;
      fields.back() += c;
    }
  }

  std::string_view in_;
  char delimiter_;
  long limit_;
  size_t at_ = 0;
  long line_ = 1;
};
