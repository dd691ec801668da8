// lists.cpp: list requests: cells read and written, lines added, the column definition.
#include "moravel/text.h"
#include "requests.h"
#include "units.h"

namespace moravel::detail {

namespace {

// What a list request names: the list, the column and the line.
struct Cell {
  List* list = nullptr;
  int column = -1;  // kLineCountColumn: the column "#LN"
  std::size_t line = 0;
};

// Finds the list, the column `fldref` stands for and, unless the column is
// "#LN", the line; false, the problem noted, when one of them is not there.
bool findCell(Impl& h, int listno, int lineno, int fldref, const char* what, Cell& c) {
  c.list = h.resolveList(listno);
  if (!c.list) {
    h.problem(std::string(what) + ": field " + std::to_string(listno) + " is not a list");
    return false;
  }
  c.column = h.columnOf(*c.list, fldref);
  if (c.column == kLineCountColumn) return true;
  if (c.column < 0) {
    h.problem(std::string(what) + ": no column for reference " + std::to_string(fldref));
    return false;
  }
  if (lineno < 1 || static_cast<std::size_t>(lineno) > c.list->rows.size()) {
    h.problem(std::string(what) + ": no line " + std::to_string(lineno));
    return false;
  }
  c.line = static_cast<std::size_t>(lineno);
  return true;
}

// The value of a cell, "#LN" giving the number of lines; the empty text when
// the cell is not there.
Value readCell(Impl& h, int listno, int lineno, int fldref, const char* what) {
  Cell c;
  if (!findCell(h, listno, lineno, fldref, what, c)) return Value();
  if (c.column == kLineCountColumn) return Value::number(static_cast<double>(c.list->rows.size()));
  return c.list->cell(c.line, static_cast<std::size_t>(c.column));
}

}  // namespace

template <class U>
short onGetLstVal(Impl& h, int listno, int fldref, int fmt, void* val, const LineAndMax* lm) {
  if (!lm) {
    h.problem("GetLstVal without line and limit");
    return 0;
  }
  deliver<U>(h, readCell(h, listno, lm->lineno, fldref, "GetLstVal"), fmt, lm->maxlen, val, "GetLstVal");
  return 0;
}

template <class U>
short onGetLstInt(Impl& h, int listno, int lineno, int fldref, double* out) {
  Value v = readCell(h, listno, lineno, fldref, "GetLstInt");
  if (out) *out = v.asNumber();
  return 0;
}

template <class U>
short onSetLstVal(Impl& h, int listno, int lineno, int fldref, int fmt, const void* val) {
  auto v = receive<U>(h, fmt, val, "SetLstVal");
  Cell c;
  if (!findCell(h, listno, lineno, fldref, "SetLstVal", c)) return 0;
  if (c.column == kLineCountColumn) {
    h.problem("SetLstVal: no column for reference " + std::to_string(fldref));
    return 0;
  }
  auto& row = c.list->rows[c.line - 1];
  std::size_t col = static_cast<std::size_t>(c.column);
  if (row.size() <= col) row.resize(col + 1);
  if (v) row[col] = std::move(*v);
  return 0;
}

template <class U>
short onDoListOp(Impl& h, int lop, int listno, int lineno) {
  List* l = h.resolveList(listno);
  if (!l) {
    h.problem("DoListOp: field " + std::to_string(listno) + " is not a list");
    return 0;
  }
  if (lop != 1) {
    h.problem("DoListOp: unknown operation " + std::to_string(lop));
    return 0;
  }
  if (lineno < 1) {
    h.problem("DoListOp: line " + std::to_string(lineno));
    return 0;
  }
  while (l->rows.size() < static_cast<std::size_t>(lineno)) l->rows.emplace_back(l->columns.size(), Value());
  return 1;
}

// The column names, separated by commas.
template <class U>
short onGetListDef(Impl& h, int ref, int len, U* def) {
  std::u32string joined;
  if (List* l = h.resolveList(ref)) {
    for (std::size_t i = 0; i < l->columns.size(); ++i) {
      if (i) joined.push_back(U',');
      joined += l->columns[i];
    }
  } else {
    h.problem("GetListDef: field " + std::to_string(ref) + " is not a list");
  }
  if (!def) h.problem("text written to a null buffer");
  else deliver<U>(h, Value::text(joined), request::kFmtText, len, def, "GetListDef");
  return 0;
}

MORAVEL_FOR_BOTH_WIDTHS(onGetLstVal)
MORAVEL_FOR_BOTH_WIDTHS(onSetLstVal)
MORAVEL_FOR_BOTH_WIDTHS(onGetListDef)
MORAVEL_FOR_BOTH_WIDTHS(onGetLstInt)
MORAVEL_FOR_BOTH_WIDTHS(onDoListOp)

}  // namespace moravel::detail
