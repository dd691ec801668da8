// store.cpp: variables found by hashed name or by reference; column references.
#include "store.h"

#include <climits>

#include "moravel/host.h"

namespace moravel::detail {

std::size_t Store::slotOf(std::u32string_view name) {
  if (int at = byName_.find(name)) return static_cast<std::size_t>(at - 1);
  if (vars_.size() >= static_cast<std::size_t>(INT_MAX)) throw HostError("too many variables");
  vars_.push_back(Var{false, 0, vars_.size(), std::u32string(name), Value()});
  byName_.insert(name, static_cast<int>(vars_.size()));
  return vars_.size() - 1;
}

// A name defined again after its removal takes its old slot, with a new
// reference when one is asked for.
Var& Store::define(std::u32string_view name, Datum data) {
  Var& v = vars_[slotOf(name)];
  v.alive = true;
  v.data = std::move(data);
  return v;
}

// The plug-in asks for a name's length and then its text: the second
// request finds the name where the first did, without hashing it again.
Var* Store::find(NameView name) {
  Var* v = last_ && name.is(last_->name) ? last_ : nullptr;
  if (!v) {
    int at = byName_.find(name);
    if (!at) return nullptr;
    last_ = v = &vars_[static_cast<std::size_t>(at - 1)];
  }
  return v->alive ? v : nullptr;
}

int Store::refFor(Var& v) {
  if (v.ref) return v.ref;
  int ref = kFirstVariableRef + static_cast<int>(refs_.size());
  if (ref >= kFirstColumnRef) return 0;
  refs_.push_back(v.slot);
  return v.ref = ref;
}

Var* Store::byRef(int ref) {
  std::size_t i = static_cast<std::size_t>(ref - kFirstVariableRef);
  if (ref < kFirstVariableRef || i >= refs_.size()) return nullptr;
  Var& v = vars_[refs_[i]];
  return v.alive && v.ref == ref ? &v : nullptr;
}

// The slot stays with its name, so that removing and defining a name again
// and again costs nothing more each time; its reference is never valid again.
void Store::remove(std::u32string_view name) {
  if (Var* v = find(name)) remove(*v);
}

// A variable whose value was handed back before its removal (a mail
// merge's) already holds nothing, and is left so.
void Store::remove(Var& v) {
  v.alive = false;
  v.ref = 0;
  if (!holdsNothing(v.data)) v.data = Datum();
}

void Store::revive(Var& v) {
  v.alive = true;
  if (!holdsNothing(v.data)) v.data = Datum();
}

int Store::columnRef(std::u32string_view name) {
  if (int ref = columnRefs_.find(name)) return ref;
  int ref = kFirstColumnRef + static_cast<int>(columns_.size());
  if (ref > kLastRef) return 0;
  columns_.emplace_back(name);
  columnRefs_.insert(name, ref);
  return ref;
}

const std::u32string* Store::columnName(int ref) const {
  std::size_t i = static_cast<std::size_t>(ref - kFirstColumnRef);
  if (ref < kFirstColumnRef || i >= columns_.size()) return nullptr;
  return &columns_[i];
}

}  // namespace moravel::detail

namespace moravel::detail {

void NameIndex::insert(NameView name, int ref) {
  if ((used_ + 1) * 2 > slots_.size()) rebuild(slots_.empty() ? 64 : slots_.size() * 2);
  std::uint32_t h = name.hash();
  std::size_t i = h & mask();
  while (slots_[i].ref != kEmpty) i = (i + 1) & mask();
  slots_[i] = Slot{h, ref, static_cast<std::uint32_t>(chars_.size()), static_cast<std::uint32_t>(name.size)};
  for (std::size_t k = 0; k < name.size; ++k) chars_.push_back(name[k]);
  ++used_;
}

void NameIndex::erase(NameView name) {
  if (slots_.empty()) return;
  std::uint32_t h = name.hash();
  for (std::size_t i = h & mask(); slots_[i].ref != kEmpty; i = (i + 1) & mask())
    if (slots_[i].ref != kGone && slots_[i].hash == h && holds(slots_[i], name)) {
      slots_[i].ref = kGone;
      return;
    }
}

// Rehashes the live entries into `size` slots; removed entries are dropped.
void NameIndex::rebuild(std::size_t size) {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(size, Slot{});
  used_ = 0;
  for (const Slot& s : old) {
    if (s.ref == kEmpty || s.ref == kGone) continue;
    std::size_t i = s.hash & mask();
    while (slots_[i].ref != kEmpty) i = (i + 1) & mask();
    slots_[i] = s;
    ++used_;
  }
}

}  // namespace moravel::detail
