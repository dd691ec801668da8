// value.h: the values a host variable, a list cell or a call parameter holds.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "moravel/stored_text.h"

namespace moravel {

// A number or a text. A number read as text gives its shortest decimal text;
// a text read as a number gives its value when the whole text is numeric and
// 0 otherwise.
class Value {
 public:
  Value() = default;  // the empty text
  static Value number(double n) { Value v; v.data_ = n; return v; }
  static Value text(std::u32string_view t) { Value v; v.data_ = Text(t); return v; }
  static Value text(Text t) { Value v; v.data_ = std::move(t); return v; }

  bool isNumber() const { return std::holds_alternative<double>(data_); }
  bool isText() const { return !isNumber(); }

  double asNumber() const;
  std::u32string asText() const;
  // The text as stored, without a copy; null for a number. The mutable form
  // lets a text be refilled in place, keeping its storage.
  const Text* storedText() const { return std::get_if<Text>(&data_); }
  Text* storedText() { return std::get_if<Text>(&data_); }
  // The number this value stands for, if it is a number or a numeric text.
  std::optional<double> numeric() const;

  friend bool operator==(const Value& a, const Value& b) { return a.data_ == b.data_; }

 private:
  std::variant<Text, double> data_;
};

// A list: named columns and rows of cells. A row shorter than the column
// list reads as empty text in the missing cells.
struct List {
  std::vector<std::u32string> columns;
  std::vector<std::vector<Value>> rows;

  // Index of the column named `name` (exact match), or -1.
  int columnIndex(std::u32string_view name) const;
  // The cell at row `line` (from 1) and column index `col` (from 0); empty
  // text outside the list.
  Value cell(std::size_t line, std::size_t col) const;

  friend bool operator==(const List& a, const List& b) {
    return a.columns == b.columns && a.rows == b.rows;
  }
};

// What a variable or a parameter holds.
using Datum = std::variant<Value, List>;

}  // namespace moravel
