// store.cpp: variables found by hashed name or by reference; column references.
#include "store.h"

#include "moravel/host.h"

namespace moravel::detail {

Var& Store::define(std::u32string_view name, Datum data) {
  if (Var* v = find(name)) {
    v->data = std::move(data);
    return *v;
  }
  int ref = kFirstVariableRef + static_cast<int>(vars_.size());
  if (ref >= kFirstColumnRef) throw HostError("too many variables");
  vars_.push_back(Var{ref, std::u32string(name), std::move(data)});
  byName_.emplace(vars_.back().name, ref);
  return vars_.back();
}

Var* Store::find(NameView name) {
  auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : &vars_[static_cast<std::size_t>(it->second - kFirstVariableRef)];
}

Var* Store::byRef(int ref) {
  std::size_t i = static_cast<std::size_t>(ref - kFirstVariableRef);
  if (ref < kFirstVariableRef || i >= vars_.size() || vars_[i].ref == 0) return nullptr;
  return &vars_[i];
}

void Store::remove(std::u32string_view name) {
  auto it = byName_.find(NameView(name));
  if (it == byName_.end()) return;
  Var& v = vars_[static_cast<std::size_t>(it->second - kFirstVariableRef)];
  byName_.erase(it);
  v = Var();
}

int Store::columnRef(std::u32string_view name) {
  if (auto it = columnRefs_.find(NameView(name)); it != columnRefs_.end()) return it->second;
  int ref = kFirstColumnRef + static_cast<int>(columns_.size());
  if (ref > kLastRef) return 0;
  columns_.emplace_back(name);
  columnRefs_.emplace(columns_.back(), ref);
  return ref;
}

const std::u32string* Store::columnName(int ref) const {
  std::size_t i = static_cast<std::size_t>(ref - kFirstColumnRef);
  if (ref < kFirstColumnRef || i >= columns_.size()) return nullptr;
  return &columns_[i];
}

}  // namespace moravel::detail
