// impl.cpp: the host's state made, and what a field reference stands for in it: parameters, return value, variables, columns.
#include <cmath>

#include "impl.h"

namespace moravel {

using namespace detail;

namespace {

bool isParam(int ref) { return ref >= field::kParam1 && ref <= field::kParamLast; }

}  // namespace

detail::HostImpl::HostImpl(std::string p, Width w) : path(std::move(p)), width(w) {
  design.assign(design::recordSize(w == Width::Byte ? 1 : 4), 0);
  store.define(U"#S1", Value());
  store.define(U"#LN", Value::number(0));
}

Frame* detail::HostImpl::callFrame() {
  if (frames.empty() || !frames.back().isCall) return nullptr;
  return &frames.back();
}

Datum* detail::HostImpl::resolve(int ref) {
  if (ref == field::kReturn || isParam(ref)) {
    Frame* f = callFrame();
    if (!f) return nullptr;
    if (ref == field::kReturn) return &f->ret;
    std::size_t i = static_cast<std::size_t>(ref - field::kParam1);
    if (i >= f->params.size()) return nullptr;
    Param& p = f->params[i];
    if (!p.reference) return &p.own;
    Var* v = store.atSlot(*p.reference);
    return v && v->alive ? &v->data : nullptr;
  }
  Var* v = store.byRef(ref);
  return v ? &v->data : nullptr;
}

// Field 210's number is kept in `paramCountValue` until the next read.
const Value* detail::HostImpl::readField(int ref) {
  if (ref == field::kParamCount) {
    if (Frame* f = callFrame()) {
      paramCountValue = Value::number(f->paramCount);
      return &paramCountValue;
    }
    problem("field 210 read outside a call");
    return nullptr;
  }
  Datum* d = resolve(ref);
  if (!d) {
    problem("read of unknown field " + std::to_string(ref));
    return nullptr;
  }
  if (auto* v = std::get_if<Value>(d)) return v;
  problem("field " + std::to_string(ref) + " is a list, read as a value");
  return nullptr;
}

bool detail::HostImpl::writeField(int ref, Value v) {
  Datum* d = resolve(ref);
  if (!d) {
    problem("write to unknown field " + std::to_string(ref));
    return false;
  }
  if (std::holds_alternative<List>(*d)) {
    problem("field " + std::to_string(ref) + " is a list, written as a value");
    return false;
  }
  *d = std::move(v);
  countReturnWrite(ref);
  return true;
}

void detail::HostImpl::countReturnWrite(int ref) {
  if (ref == field::kReturn) callFrame()->returnWrites++;
}

List* detail::HostImpl::resolveList(int ref) {
  Datum* d = resolve(ref);
  return d ? std::get_if<List>(d) : nullptr;
}

// Column index of `fldref` in `list`: a column reference, "#LN" (the line
// count), or a parameter whose value is a column number (from 1) or name.
int detail::HostImpl::columnOf(const List& list, int fldref) {
  if (Var* ln = store.find(std::u32string_view(U"#LN")); ln && ln->ref && ln->ref == fldref) return kLineCountColumn;
  if (const std::u32string* name = store.columnName(fldref)) return list.columnIndex(*name);
  // A column that shares its name with a variable was handed out as the
  // variable's reference.
  if (Var* v = store.byRef(fldref)) return list.columnIndex(v->name);
  if (!isParam(fldref)) return -1;
  Datum* d = resolve(fldref);
  const Value* v = d ? std::get_if<Value>(d) : nullptr;
  if (!v) return -1;
  if (auto n = v->numeric()) {
    double k = std::trunc(*n);
    if (k >= 1 && k <= static_cast<double>(list.columns.size())) return static_cast<int>(k) - 1;
    return -1;
  }
  return list.columnIndex(v->asText());
}

bool detail::HostImpl::isKnownColumn(std::u32string_view name) const {
  auto known = [&](const Datum& d) {
    const List* l = std::get_if<List>(&d);
    return l && l->columnIndex(name) >= 0;
  };
  bool found = false;
  store.forEach([&](const Var& v) { found = found || known(v.data); });
  for (const auto& f : frames)
    for (const auto& p : f.params)
      if (!p.reference && known(p.own)) found = true;
  return found;
}

// A variable's name, the variable a parameter refers to, or the empty name
// for a parameter passed by value and for the return value.
std::optional<std::u32string> detail::HostImpl::fieldName(int ref) {
  if (isParam(ref)) {
    Frame* f = callFrame();
    std::size_t i = static_cast<std::size_t>(ref - field::kParam1);
    if (!f || i >= f->params.size()) return std::nullopt;
    const Param& p = f->params[i];
    return p.reference ? store.atSlot(*p.reference)->name : std::u32string();
  }
  if (ref == field::kReturn) {
    if (!callFrame()) return std::nullopt;
    return std::u32string();
  }
  if (Var* v = store.byRef(ref)) return v->name;
  return std::nullopt;
}

}  // namespace moravel
