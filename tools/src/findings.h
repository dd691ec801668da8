// findings.h: what the host could not answer during an expansion, for --strict.
#pragma once

#include <iostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "moravel/host.h"
#include "moravel/text.h"

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
  void report(const std::string& templ) const {
    for (const auto& u : found_) std::cerr << "moravel: " << templ << ": " << describe(u) << "\n";
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
