// value.cpp: conversions between numbers and texts.
#include "moravel/value.h"

#include "moravel/text.h"

namespace moravel {

double Value::asNumber() const { return numeric().value_or(0.0); }

std::optional<double> Value::numeric() const {
  if (auto* d = std::get_if<double>(&data_)) return *d;
  return parseNumber(std::get<Text>(data_));
}

std::u32string Value::asText() const {
  if (auto* d = std::get_if<double>(&data_)) return formatNumberU(*d);
  return std::get<Text>(data_).str();
}

int List::columnIndex(std::u32string_view name) const {
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (columns[i] == name) return static_cast<int>(i);
  return -1;
}

Value List::cell(std::size_t line, std::size_t col) const {
  if (line < 1 || line > rows.size()) return Value();
  const auto& row = rows[line - 1];
  if (col >= row.size()) return Value();
  return row[col];
}

}  // namespace moravel
