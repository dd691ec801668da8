// tags.cpp: the tags subcommand, GetTagList's answer printed as JSON.
#include "tags.h"

#include <nlohmann/json.hpp>

#include "moravel/text.h"
#include "output.h"

namespace moravel::tool {

int runTags(const Common& common, const std::string& templName, const std::vector<std::string>& tags) {
  Text templ = readTemplate(templName, common.unicode());
  auto s = openSession(common);
  setTags(*s, tags);
  List list;
  list.columns = {U"tag"};
  CallResult r = s->host.call(kGetTagList, {Arg::text(std::move(templ)), Arg(list), Arg::number(1)});
  check(r, displayName(templName) + ": GetTagList");
  nlohmann::json found = nlohmann::json::array();
  if (const auto* l = std::get_if<List>(&r.parameters.at(1)))
    for (std::size_t i = 1; i <= l->rows.size(); ++i) found.push_back(encodeUtf8(l->cell(i, 0).asText()));
  // A text that is not valid UTF-8 (a lone surrogate) is shown with U+FFFD rather than refused.
  writeStandardOutput(found.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
  return 0;
}

}  // namespace moravel::tool
