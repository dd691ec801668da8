// store.h: the host's variables and the references it hands out for them and for list columns.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <deque>
#include <vector>

#include "moravel/value.h"
#include "names.h"

namespace moravel::detail {

// Whether a value is the empty text without storage, as a new variable holds it.
inline bool holdsNothing(const Value& v) {
  const Text* t = v.storedText();
  return t && t->empty() && t->narrowData() == nullptr;
}
inline bool holdsNothing(const Datum& d) {
  const Value* v = std::get_if<Value>(&d);
  return v && holdsNothing(*v);
}

// Exchanges two values. When one holds nothing and the other a text (a mail
// merge's values go to variables that hold nothing, and come back so), the
// text is moved over, which leaves nothing behind: one move instead of a
// swap's three.
inline void exchangeValues(Value& a, Value& b) {
  auto moveOver = [](Value& from, Value& to) {
    to = std::move(from);
    if (!holdsNothing(from)) from = Value();
  };
  if (holdsNothing(b) && a.storedText()) moveOver(a, b);
  else if (holdsNothing(a) && b.storedText()) moveOver(b, a);
  else std::swap(a, b);
}

// References the host hands out for variables and for list column names.
constexpr int kFirstVariableRef = 1000;
constexpr int kFirstColumnRef = 20000;
constexpr int kLastRef = 32767;

struct Var {
  bool alive = false;
  int ref = 0;           // 0 until the plug-in asks for one
  std::size_t slot = 0;  // its place in the store
  std::u32string name;
  Datum data;
};

// Variables by name and by reference. References are few (16-bit), so a
// variable gets one only when the plug-in asks for it by name: the plug-in
// reads most variables by name and asks references only for the few it
// writes or reads by number. A reference is never handed out twice: a
// variable removed and defined again gets a new one.
class Store {
 public:
  Store() = default;
  Store(const Store&) = delete;  // it points into its own variables
  Store& operator=(const Store&) = delete;

  // Defines `name` or replaces its value.
  Var& define(std::u32string_view name, Datum data);
  Var* find(NameView name);
  // The slot of `name`, made dead (no variable) if the name has none yet.
  // A name keeps its slot while the store lives.
  std::size_t slotOf(std::u32string_view name);
  // The variable in a slot, alive or not; null for a slot never handed out.
  Var* atSlot(std::size_t slot) { return slot < vars_.size() ? &vars_[slot] : nullptr; }
  Var* byRef(int ref);
  // The variable's reference, handed out on first use; 0 when none is left.
  int refFor(Var& v);
  void remove(std::u32string_view name);
  void remove(Var& v);
  // Makes a dead variable alive, holding the empty text.
  static void revive(Var& v);

  template <class F>
  void forEach(F f) const {
    for (const Var& v : vars_)
      if (v.alive) f(v);
  }

  // The reference for a column name, handed out on first use; 0 when none is left.
  int columnRef(std::u32string_view name);
  // The column name a reference stands for, or null.
  const std::u32string* columnName(int ref) const;

 private:
  // In order of first definition, dead while removed; never moved. A dead
  // variable holds the empty text.
  std::deque<Var> vars_;
  std::vector<std::size_t> refs_;  // by reference - kFirstVariableRef: the index in vars_
  NameIndex byName_;               // name -> index in vars_ + 1, removed names included
  Var* last_ = nullptr;            // the variable found last, alive or not
  std::vector<std::u32string> columns_;  // by reference - kFirstColumnRef
  NameIndex columnRefs_;
};

}  // namespace moravel::detail
