// findings.h: what the host could not answer during an expansion, for --strict.
#pragma once

#include <iostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "moravel/host.h"
#include "moravel/text.h"
#include "places.h"

namespace moravel::tool {

// What the host could not answer during the expansion, each name,
// calculation or method once, in the order first met.
class Findings {
 public:
  void listen(Host& host) {
    host.onUnanswered([this](const Unanswered& u) {
      if (seen_.insert({static_cast<int>(u.kind), u.text}).second) found_.push_back(u);
    });
  }
  bool empty() const { return found_.empty(); }
  void clear() {
    seen_.clear();
    found_.clear();
  }
  // One line for each, naming `where` and, with `places`, the line and
  // column of the template's first tag that asked for it.
  void report(const std::string& where, const Places* places = nullptr) const {
    for (const auto& u : found_) {
      std::cerr << "moravel: ";
      if (!places) std::cerr << where;
      else std::cerr << (where == places->name() ? "" : where + ": ") << places->of(u);
      std::cerr << ": " << describe(u) << "\n";
    }
  }

 private:
  static std::string describe(const Unanswered& u) {
    const char* what = u.kind == Unanswered::Kind::Name          ? "no value for '"
                       : u.kind == Unanswered::Kind::Calculation ? "calculation '"
                                                                 : "method '";
    std::string line = what;
    line += encodeUtf8(u.text);
    line += u.kind == Unanswered::Kind::Name ? "': " : "' failed: ";
    line += u.reason;
    return line;
  }

  std::set<std::pair<int, std::u32string>> seen_;
  std::vector<Unanswered> found_;
};

}  // namespace moravel::tool
