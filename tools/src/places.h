// places.h: where a template's tags stand, by line and column, so that a message can name the tag behind it.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data_file.h"
#include "session.h"

namespace moravel::tool {

// What the tool must know to tell which tag asked the host for a name, a
// calculation or a method: the options and data that change what a tag
// text asks for.
struct TagReading {
  bool forceEval = false, stripLinebreaks = false;
  std::u32string instance;  // the name "$cinst." stands for
  std::vector<std::pair<std::u32string, std::u32string>> keywordMap;  // keyword, field name, in order
};

// The tag texts GetTagList lists in `templ`, in order; none when the call fails.
std::vector<std::u32string> listTags(Session& s, Arg templ);

// A template's tags, as GetTagList lists them, found again in its text,
// with the open and close tag of the run (`tags`: --tags, or none for the
// default ones).
class Places {
 public:
  Places(Session& s, std::u32string text, const std::vector<std::string>& tags, std::string name, TagReading reading);

  const std::string& name() const { return name_; }
  // "name:line:column" of the open tag of the first tag that asks the host
  // for what `u` names; the name alone when no tag of the template does
  // (what a value or an included file asked for).
  std::string of(const Unanswered& u) const;
  // The same for the `index`th tag GetTagList lists (from 0).
  std::string ofTag(std::size_t index) const;
  // "name:line:column" of an open tag that has no close tag after it: the
  // plug-in copies it and the text after it as they stand.
  std::optional<std::string> unclosed() const;

 private:
  std::string at(std::pair<std::size_t, std::size_t> lineColumn) const;

  std::string name_;
  TagReading reading_;
  std::vector<std::u32string> tags_;
  std::vector<std::pair<std::size_t, std::size_t>> found_;  // line and column of each tag found again
  std::optional<std::pair<std::size_t, std::size_t>> unclosed_;
  // Each request a tag asks for, with the index of the first tag asking it.
  mutable std::optional<std::map<std::pair<int, std::u32string>, std::size_t>> firstAsking_;
};

// How the run reads tag texts: its options and the data's instance and keyword map.
TagReading readingOf(bool forceEval, bool stripLinebreaks, const DataSet& data);

}  // namespace moravel::tool
