// expand.cpp: the expand subcommand, strict mode included.
#include "expand.h"

#include <algorithm>
#include <iostream>
#include <set>
#include <utility>

#include "data_file.h"
#include "moravel/text.h"
#include "output.h"
#include "text_io.h"

namespace moravel::tool {

namespace {

// The keyword map goes to the plug-in as a reference to this host variable.
constexpr std::u32string_view kKeywordMapVar = U"#MORAVELKEYWORDMAP";
// The plug-in counts the map's rows in a 16-bit integer.
constexpr std::size_t kMaxKeywordMapRows = 32767;

void refuseReservedName(const DataSet& d, const std::string& source) {
  auto refuse = [&](const std::string& kind) {
    throw Failure{kExitUsage, source + ": " + kind + "." + encodeUtf8(kKeywordMapVar) + ": the name is reserved"};
  };
  for (const auto& v : d.variables)
    if (v.first == kKeywordMapVar) refuse("variables");
  for (const auto& l : d.lists)
    if (l.first == kKeywordMapVar) refuse("lists");
}

// The data files merged in order, then the -D variables over them.
DataSet gatherData(const ExpandOptions& o) {
  DataSet all;
  for (const auto& file : o.data) {
    DataSet d;
    try {
      d = loadDataSet(file, !o.common.unicode());
    } catch (const DataError& e) {
      throw Failure{kExitUsage, e.what()};
    }
    refuseReservedName(d, displayName(file));
    if (d.keywordMap && d.keywordMap->size() > kMaxKeywordMapRows)
      throw Failure{kExitUsage, displayName(file) + ": keywordMap: " + std::to_string(d.keywordMap->size()) +
                                    " rows; the plug-in takes at most " + std::to_string(kMaxKeywordMapRows)};
    merge(all, std::move(d));
  }
  for (const auto& def : o.defines) {
    auto eq = def.find('=');
    if (eq == std::string::npos || eq == 0)
      throw Failure{kExitUsage, "-D " + def + ": expected name=value"};
    std::string what = "-D " + def.substr(0, eq);
    DataSet d;
    d.variables.emplace_back(toText(def.substr(0, eq), o.common.unicode(), what),
                             Value::text(toText(def.substr(eq + 1), o.common.unicode(), what)));
    refuseReservedName(d, "-D");
    merge(all, std::move(d));
  }
  return all;
}

void applyData(Session& s, DataSet& d) {
  for (auto& [name, v] : d.variables) s.host.set(name, std::move(v));
  for (auto& [name, l] : d.lists) s.host.setList(name, std::move(l));
  for (auto& [name, body] : d.methods) s.host.defineMethod(name, std::move(body));
  if (d.instance) s.host.setInstanceName(*d.instance);
  // An empty map is no map: the plug-in starts without one.
  if (d.keywordMap && !d.keywordMap->empty()) {
    List map;
    map.columns = {U"keyword", U"fieldName"};
    for (const auto& [k, f] : *d.keywordMap) map.rows.push_back({Value::text(k), Value::text(f)});
    s.host.setList(kKeywordMapVar, std::move(map));
    check(s.host.call(kMapKeywordsToFields, {Arg::reference(std::u32string(kKeywordMapVar))}),
          "keywordMap: MapKeywordsToFields");
  }
}

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

}  // namespace

int runExpand(const ExpandOptions& o) {
  bool unicode = o.common.unicode();
  std::string templName = displayName(o.templ);
  if (std::count(o.data.begin(), o.data.end(), "-") > 1)
    throw Failure{kExitUsage, "--data -: standard input is named twice; it can be read once"};
  if (o.templ == "-")
    for (const auto& d : o.data)
      if (d == "-") throw Failure{kExitUsage, "the template and a data file cannot both come from standard input"};
  Text templ = readTemplate(o.templ, unicode);
  DataSet data = gatherData(o);
  auto s = openSession(o.common);
  std::optional<Output> out;
  try {
    out.emplace(o.output);
  } catch (const OutputError& e) {
    throw Failure{kExitCantCreate, e.what()};
  }
  setTags(*s, o.tags);
  if (o.filesDir)
    check(s->host.call(kSetFilesDirectory, {Arg::text(toText(*o.filesDir, unicode, "files directory"))}),
          "--files-dir: SetFilesDirectory");
  applyData(*s, data);
  data = DataSet();  // released before the call, like all the tool no longer needs
  Findings findings;
  if (o.strict) findings.listen(s->host);
  // The template moves into the call's first parameter; the expanded text is
  // written out from the second.
  CallResult r = s->host.call(kDoSubstitutions,
                              {Arg::text(std::move(templ)), Arg::text(U""), Arg::number(o.utf),
                               Arg::number(o.forceEval ? 1 : 0), Arg::number(o.stripLinebreaks ? 1 : 0),
                               Arg::number(o.senseBrackets ? 1 : 0)});
  s->host.onUnanswered(nullptr);
  r.parameters.at(0) = Value();
  check(r, templName + ": DoSubstitutions");
  if (!findings.empty()) {
    findings.report(templName);
    throw Failure{kExitStrict, templName + ": --strict: the host could not answer what is listed above; nothing written"};
  }
  static const Text kEmpty;
  const auto* result = std::get_if<Value>(&r.parameters.at(1));
  const Text* expanded = result ? result->storedText() : nullptr;
  try {
    writeText(expanded ? *expanded : kEmpty, unicode, *out);
    out->commit();
  } catch (const OutputError& e) {
    throw Failure{kExitCantCreate, e.what()};
  }
  return 0;
}

}  // namespace moravel::tool
