// merge_record.cpp: one record of a mail merge expanded: its variables laid over the common data, the template called, its file named.
#include "merge_record.h"

#include <algorithm>
#include <set>

#include "moravel/text.h"

namespace moravel::tool {

RecordExpander::RecordExpander(const Setup& setup) : setup_(setup) {
  if (setup_.options->strict) findings_.listen(setup_.session->host);
}

Expanded RecordExpander::expand(Record& rec, const std::string& where) {
  Host& host = setup_.session->host;
  Expanded e;
  try {
    overlay_.apply(host, rec);
    e = expandOverlaid(rec, where);
  } catch (...) {
    overlay_.undo(host, rec);
    throw;
  }
  overlay_.undo(host, rec);
  return e;
}

Expanded RecordExpander::expandOverlaid(const Record& rec, const std::string& where) {
  Session& s = *setup_.session;
  const ExpandOptions& o = *setup_.options;
  bool first = rec.number == 1 && setup_.header && !setup_.header->empty();
  if (first) s.host.keepRequestTexts(true);
  CallResult r = s.host.call(kDoSubstitutions, substitutionArgs(o, Arg::reference(std::u32string(kTemplateVar)),
                                                                Arg::reference(std::u32string(kOutVar))));
  if (first) checkHeaderIsRead(where);
  if (r.code() != 0) checkSubstitution(s, o, r, where + ": DoSubstitutions", setup_.places);
  if (!findings_.empty()) {
    findings_.report(where, setup_.places);
    findings_.clear();
    throw Failure{kExitStrict, where + (o.check ? ": check: the host could not answer what is listed above"
                                                : ": --strict: the host could not answer what is listed above; "
                                                  "nothing written")};
  }
  static const Text kEmpty;
  Expanded e;
  e.text = s.host.storedText(kOutVar);
  if (!e.text) e.text = &kEmpty;
  if (setup_.pattern) {
    e.name = setup_.pattern->expand(
        rec.number,
        [&](const std::string& variable) -> std::optional<std::string> {
          std::optional<Value> v = s.host.value(toText(variable, s.unicode, "-o"));
          if (!v) return std::nullopt;
          return s.unicode ? encodeUtf8(v->asText()) : toLatin1(v->asText());
        },
        where, e.dirs);
  }
  return e;
}

// A template that reads names no record has, and none of the header's,
// was given records it does not fit (another header, another delimiter):
// said at the first record rather than expanded with every field empty.
// Names read in calculations and methods are not seen, so then nothing is said.
void RecordExpander::checkHeaderIsRead(const std::string& where) {
  Session& s = *setup_.session;
  const std::vector<std::u32string>& header = *setup_.header;
  const HostLog& log = s.host.log();
  bool unseen = !log.calcTexts.empty() || !log.procedureNames.empty();
  std::set<std::u32string> columns(header.begin(), header.end());
  std::vector<std::u32string> missing;
  bool readsHeader = false;
  for (const auto& c : header)
    readsHeader = readsHeader || (setup_.pattern && setup_.pattern->reads(s.unicode ? encodeUtf8(c) : toLatin1(c)));
  for (const auto& name : log.namedValueNames) {
    if (columns.count(name)) readsHeader = true;
    else if (!name.empty() && name[0] != U'$' && !s.host.has(name) &&
             std::find(missing.begin(), missing.end(), name) == missing.end())
      missing.push_back(name);
  }
  s.host.keepRequestTexts(false);
  s.host.clearLog();
  if (unseen || readsHeader || missing.empty()) return;
  auto joined = [](const std::vector<std::u32string>& names) {
    std::string t;
    for (const auto& n : names) t += (t.empty() ? "'" : ", '") + encodeUtf8(n) + "'";
    return t;
  };
  throw DataError(where + ": the template reads none of the header's names (" + joined(header) + "), and " +
                  joined(missing) + (missing.size() == 1 ? " has" : " have") + " no value; nothing written");
}

}  // namespace moravel::tool
