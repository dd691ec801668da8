// merge_overlay.h: a record's variables and lists laid over the common data for its expansion, and taken away again.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "moravel/host.h"
#include "records.h"

namespace moravel::tool {

// What each name held before is put back by undo(), or the name removed. A
// record's fields are exchanged with the host's values, so that neither
// side's storage is copied or freed; the steps are kept for the next record.
// The host's slot for each field is kept too, and used again while the
// records name the same fields in the same order.
class Overlay {
 public:
  void apply(Host& host, Record& r);
  void undo(Host& host, Record& r);

 private:
  struct Step {
    enum Kind { Exchanged, Saved } kind;
    std::size_t index;  // in the record's fields, or in saved_
    bool existed;       // Exchanged: whether the name had a variable before
  };
  struct Saved {
    std::u32string name;
    std::optional<Value> value;
    std::optional<List> list;
  };
  struct Known {
    std::u32string name;
    Host::VarSlot slot;
  };
  Host::VarSlot slotFor(Host& host, std::size_t i, const std::u32string& name);
  void save(const Host& host, const std::u32string& name);
  std::vector<Step> steps_;
  std::vector<Saved> saved_;
  std::vector<Known> slots_;  // by the index of the field
};

}  // namespace moravel::tool
