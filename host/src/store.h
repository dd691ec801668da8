// store.h: the host's variables and the references it hands out for them and for list columns.
#pragma once

#include <string>
#include <string_view>
#include <deque>
#include <vector>

#include "moravel/value.h"
#include "names.h"

namespace moravel::detail {

// References the host hands out for variables and for list column names.
constexpr int kFirstVariableRef = 1000;
constexpr int kFirstColumnRef = 20000;
constexpr int kLastRef = 32767;

struct Var {
  int ref = 0;
  std::u32string name;
  Datum data;
};

// Variables by name and by reference. A reference is never handed out
// twice: a variable removed and defined again gets a new one.
class Store {
 public:
  // Defines `name` or replaces its value. Throws HostError when no
  // reference is left.
  Var& define(std::u32string_view name, Datum data);
  Var* find(NameView name);
  Var* byRef(int ref);
  void remove(std::u32string_view name);

  template <class F>
  void forEach(F f) const {
    for (const Var& v : vars_)
      if (v.ref) f(v);
  }

  // The reference for a column name, handed out on first use; 0 when none is left.
  int columnRef(std::u32string_view name);
  // The column name a reference stands for, or null.
  const std::u32string* columnName(int ref) const;

 private:
  std::deque<Var> vars_;  // by reference - kFirstVariableRef, ref 0 once removed; never moved
  NameIndex byName_;
  std::vector<std::u32string> columns_;  // by reference - kFirstColumnRef
  NameIndex columnRefs_;
};

}  // namespace moravel::detail
