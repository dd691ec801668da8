// places.cpp: finding a template's tags again in its text, and the first tag that asked for a name, calculation or method.
#include "places.h"

#include "moravel/text.h"

namespace moravel::tool {

namespace {

// The host is handed at most this many characters of a name, calculation or method.
constexpr std::size_t kMaxRequestUnits = 254;

char32_t foldLetter(char32_t c) { return c >= U'a' && c <= U'z' ? c - 32 : c; }
bool isBlankUnit(char32_t c) { return c == U' ' || c == U'\t' || c == U'\n' || c == U'\r'; }

std::u32string folded(std::u32string s) {
  for (auto& c : s) c = foldLetter(c);
  return s;
}

// A tag (stored upper-case) stands at `at` when its first character is
// there as stored and the rest is there in any case.
bool tagAt(const std::u32string& text, std::size_t at, const std::u32string& tag) {
  if (tag.empty() || at + tag.size() > text.size() || text[at] != tag[0]) return false;
  for (std::size_t k = 1; k < tag.size(); ++k)
    if (foldLetter(text[at + k]) != tag[k]) return false;
  return true;
}

std::size_t findTag(const std::u32string& text, std::size_t from, const std::u32string& tag) {
  for (std::size_t at = from; at < text.size(); ++at) {
    at = text.find(tag[0], at);
    if (at == std::u32string::npos) break;
    if (tagAt(text, at, tag)) return at;
  }
  return std::u32string::npos;
}

bool beginsWithKeyword(const std::u32string& t, std::u32string_view kw) {
  if (t.size() < kw.size()) return false;
  for (std::size_t i = 0; i < kw.size(); ++i)
    if (foldLetter(t[i]) != kw[i]) return false;
  return true;
}

bool bracketed(const std::u32string& t) { return t.size() >= 2 && t.front() == U'[' && t.back() == U']'; }

using Ask = std::pair<Unanswered::Kind, std::u32string>;

// What a tag text asks the host for, as the plug-in reads it: trimmed, a
// directive's argument, a bracketed name, the current instance, the keyword map.
std::vector<Ask> asksOf(std::u32string t, const TagReading& r) {
  using K = Unanswered::Kind;
  std::size_t start = 0;
  while (start < t.size() && isBlankUnit(t[start])) ++start;
  t.erase(0, start);
  while (!t.empty() && isBlankUnit(t.back())) t.pop_back();
  if (r.stripLinebreaks) std::erase_if(t, [](char32_t c) { return c == U'\n' || c == U'\r'; });
  std::vector<Ask> asks;
  auto field = [&](const std::u32string& name) { asks.push_back({r.forceEval ? K::Calculation : K::Name, name}); };
  if (!t.empty() && t[0] == U'+') return {{K::Calculation, t.substr(1)}};
  if (beginsWithKeyword(t, U"EVAL=")) return {{K::Calculation, t.substr(5)}};
  for (std::u32string_view kw : {U"METHOD=", U"TAGGEDMETHOD="}) {
    if (!beginsWithKeyword(t, kw)) continue;
    // Brackets and "$cinst." are seen only after the keyword in capitals.
    bool exact = t.compare(0, kw.size(), kw) == 0;
    std::u32string arg = t.substr(kw.size());
    if (bracketed(arg) && exact) asks.push_back({K::Name, arg.substr(1, arg.size() - 2)});
    asks.push_back({K::Method, arg});
    std::size_t cinst = arg.find(U"$cinst.");
    if (cinst != std::u32string::npos && exact && !r.instance.empty())
      asks.push_back({K::Method, arg.replace(cinst, 6, r.instance)});
    return asks;
  }
  if (beginsWithKeyword(t, U"FILE=") || beginsWithKeyword(t, U"TAGGEDFILE=")) return {};
  for (std::u32string_view kw : {U"FIELD=", U"TAGGEDFIELD="})
    if (beginsWithKeyword(t, kw)) {
      field(t.substr(kw.size()));
      return asks;
    }
  if (bracketed(t)) asks.push_back({K::Name, t.substr(1, t.size() - 2)});
  for (const auto& [kw, name] : r.keywordMap)
    if (beginsWithKeyword(t, folded(kw))) {
      field(name);
      return asks;
    }
  field(t);
  return asks;
}


}  // namespace

std::vector<std::u32string> listTags(Session& s, Arg templ) {
  List list;
  list.columns = {U"tag"};
  CallResult r = s.host.call(kGetTagList, {std::move(templ), Arg(list), Arg::number(1)});
  std::vector<std::u32string> tags;
  if (const auto* l = r.code() == 0 ? std::get_if<List>(&r.parameters.at(1)) : nullptr)
    for (std::size_t i = 1; i <= l->rows.size(); ++i) tags.push_back(l->cell(i, 0).asText());
  return tags;
}

Places::Places(Session& s, std::u32string text, const std::vector<std::string>& tags, std::string name,
               TagReading reading)
    : name_(std::move(name)), reading_(std::move(reading)) {
  std::u32string open = U"<FIELD>", close = U"</FIELD>";
  if (tags.size() == 2) {
    open = folded(toText(tags[0], s.unicode, "open tag"));
    close = folded(toText(tags[1], s.unicode, "close tag"));
  }
  tags_ = listTags(s, Arg::text(text));
  std::size_t pos = 0, line = 1, lineStart = 0, counted = 0;
  auto placeOf = [&](std::size_t at) {
    for (std::size_t i = text.find(U'\n', counted); i < at; i = text.find(U'\n', i + 1)) {
      ++line;
      lineStart = i + 1;
    }
    counted = at;
    return std::pair{line, at - lineStart + 1};
  };
  // The tags stand in the text in the order listed, each at the first open
  // tag after the one before.
  for (const auto& t : tags_) {
    std::size_t at = findTag(text, pos, open);
    std::size_t end = at == std::u32string::npos ? at : at + open.size() + t.size();
    if (end == std::u32string::npos || text.compare(at + open.size(), t.size(), t) != 0 || !tagAt(text, end, close))
      return;  // not where the plug-in found it: the places after it are not known
    found_.push_back(placeOf(at));
    pos = end + close.size();
  }
  std::size_t at = findTag(text, pos, open);
  if (at != std::u32string::npos) unclosed_ = placeOf(at);
}

std::string Places::at(std::pair<std::size_t, std::size_t> lc) const {
  return name_ + ":" + std::to_string(lc.first) + ":" + std::to_string(lc.second);
}

std::string Places::of(const Unanswered& u) const {
  // What each tag asks for, read once, the first tag asking kept: a run
  // with many findings costs one pass over the tags, not one a finding.
  if (!firstAsking_) {
    firstAsking_.emplace();
    for (std::size_t i = 0; i < found_.size(); ++i)
      for (auto& [kind, asked] : asksOf(tags_[i], reading_)) {
        if (asked.size() > kMaxRequestUnits) asked.resize(kMaxRequestUnits);  // as the host receives it
        firstAsking_->try_emplace({static_cast<int>(kind), std::move(asked)}, i);
      }
  }
  auto hit = firstAsking_->find({static_cast<int>(u.kind), u.text});
  return hit == firstAsking_->end() ? name_ : at(found_[hit->second]);
}

std::string Places::ofTag(std::size_t index) const { return index < found_.size() ? at(found_[index]) : name_; }

std::optional<std::string> Places::unclosed() const {
  if (!unclosed_) return std::nullopt;
  return at(*unclosed_);
}

TagReading readingOf(bool forceEval, bool stripLinebreaks, const DataSet& data) {
  TagReading r;
  r.forceEval = forceEval;
  r.stripLinebreaks = stripLinebreaks;
  if (data.instance) r.instance = *data.instance;
  if (data.keywordMap) r.keywordMap = *data.keywordMap;
  return r;
}

}  // namespace moravel::tool
