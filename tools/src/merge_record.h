// merge_record.h: one record of a mail merge expanded: its variables laid over the common data, the template called, its file named.
#pragma once

#include <string>
#include <vector>

#include "expand.h"
#include "findings.h"
#include "merge_names.h"
#include "merge_overlay.h"
#include "places.h"
#include "records.h"

namespace moravel::tool {

// What a record's expansion gives: the text, in the host's output variable
// until the next record, and with a pattern the file it goes to and the
// directories of the pattern's own that file needs.
struct Expanded {
  const Text* text = nullptr;
  std::string name;
  std::string dirs;
};

class RecordExpander {
 public:
  struct Setup {
    const ExpandOptions* options = nullptr;
    Session* session = nullptr;
    const NamePattern* pattern = nullptr;                   // -o; none for standard output
    const std::vector<std::u32string>* header = nullptr;  // the CSV header's names
    const Places* places = nullptr;                        // with --strict: where the template's tags stand
  };
  explicit RecordExpander(const Setup& setup);
  // One record expanded; Failure when it cannot be. The record's values are
  // taken away again before this returns, its own storage kept.
  Expanded expand(Record& rec, const std::string& where);

 private:
  Expanded expandOverlaid(const Record& rec, const std::string& where);
  void checkHeaderIsRead(const std::string& where);
  Setup setup_;
  Findings findings_;
  Overlay overlay_;
};

}  // namespace moravel::tool
