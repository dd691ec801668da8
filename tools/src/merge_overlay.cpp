// merge_overlay.cpp: a record's variables and lists laid over the common data, and taken away again.
#include "merge_overlay.h"

namespace moravel::tool {

void Overlay::apply(Host& host, Record& r) {
  for (std::size_t i = 0; i < r.fields.count; ++i) {
    Field& f = r.fields.all[i];
    bool existed = false;
    if (host.exchange(slotFor(host, i, f.name), f.value, existed)) {
      steps_.push_back({Step::Exchanged, i, existed});
    } else {
      save(host, f.name);  // a list of the common data
      host.set(f.name, f.value);
    }
  }
  for (auto& [name, v] : r.data.variables) {
    save(host, name);
    host.set(name, std::move(v));
  }
  for (auto& [name, l] : r.data.lists) {
    save(host, name);
    host.setList(name, std::move(l));
  }
}

void Overlay::undo(Host& host, Record& r) {
  for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
    if (it->kind == Step::Saved) {
      Saved& s = saved_[it->index];
      if (s.value) host.set(s.name, std::move(*s.value));
      else if (s.list) host.setList(s.name, std::move(*s.list));
      else host.remove(s.name);
      continue;
    }
    Field& f = r.fields.all[it->index];
    Host::VarSlot slot = slots_[it->index].slot;
    bool there = false;
    // The call may have made the name a list: the value is put back all the same.
    if (!host.exchange(slot, f.value, there)) host.set(f.name, std::move(f.value));
    if (!it->existed) host.remove(slot);
  }
  steps_.clear();
  saved_.clear();
}

// The slot of the record's field i, looked up only when the field's name
// is not the one it had in the record before.
Host::VarSlot Overlay::slotFor(Host& host, std::size_t i, const std::u32string& name) {
  if (i < slots_.size() && slots_[i].name == name) return slots_[i].slot;
  Host::VarSlot slot = host.varSlot(name);
  if (i == slots_.size()) slots_.push_back({name, slot});
  else slots_[i] = {name, slot};
  return slot;
}

void Overlay::save(const Host& host, const std::u32string& name) {
  saved_.push_back({name, host.value(name), std::nullopt});
  if (!saved_.back().value) saved_.back().list = host.list(name);
  steps_.push_back({Step::Saved, saved_.size() - 1, false});
}

}  // namespace moravel::tool
