// expand.cpp: the expand subcommand, strict mode included.
#include "expand.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "data_file.h"
#include "findings.h"
#include "includes.h"
#include "moravel/text.h"
#include "output.h"
#include "places.h"
#include "text_io.h"

namespace moravel::tool {

namespace {

// Names beginning thus are the tool's own host variables.
constexpr std::u32string_view kReservedPrefix = U"#MORAVEL";
// The keyword map goes to the plug-in as a reference to this host variable.
constexpr std::u32string_view kKeywordMapVar = U"#MORAVELKEYWORDMAP";
static_assert(kKeywordMapVar.starts_with(kReservedPrefix));
// The plug-in counts the map's rows in a 16-bit integer.
constexpr std::size_t kMaxKeywordMapRows = 32767;

void refuseReservedName(const DataSet& d, const std::string& source) {
  auto check = [&](const std::string& kind, const std::u32string& name) {
    if (name.starts_with(kReservedPrefix))
      throw Failure{kExitUsage, source + ": " + kind + "." + encodeUtf8(name) + ": the name is reserved"};
  };
  for (const auto& v : d.variables) check("variables", v.first);
  for (const auto& l : d.lists) check("lists", l.first);
}

}  // namespace

// The data files merged in order, then the -D variables over them.
DataSet gatherData(const ExpandOptions& o) {
  DataSet all;
  for (const auto& file : o.data) {
    DataSet d = loadDataSet(file, !o.common.unicode());
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

namespace {

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

}  // namespace

void checkInputs(const ExpandOptions& o) {
  std::vector<std::string> inputs = o.data;
  inputs.push_back(o.templ);
  if (o.each) inputs.push_back(*o.each);
  if (std::count(o.data.begin(), o.data.end(), "-") > 1)
    throw Failure{kExitUsage, "--data -: standard input is named twice; it can be read once"};
  if (std::count(inputs.begin(), inputs.end(), "-") > 1)
    throw Failure{kExitUsage, o.each ? "the template, a data file and the records cannot come from standard input together"
                                     : "the template and a data file cannot both come from standard input"};
}

std::unique_ptr<Session> prepareSession(const ExpandOptions& o, DataSet& data) {
  auto s = openSession(o.common);
  setTags(*s, o.tags);
  if (o.filesDir)
    check(s->host.call(kSetFilesDirectory, {Arg::text(toText(*o.filesDir, o.common.unicode(), "files directory"))}),
          "--files-dir: SetFilesDirectory");
  applyData(*s, data);
  data = DataSet();  // released before the calls, like all the tool no longer needs
  s->host.escapeValuesForHtml(o.escape == "html");
  return s;
}

std::vector<Arg> substitutionArgs(const ExpandOptions& o, Arg templ, Arg out) {
  return {std::move(templ), std::move(out), Arg::number(o.utf), Arg::number(o.forceEval ? 1 : 0),
          Arg::number(o.stripLinebreaks ? 1 : 0), Arg::number(o.senseBrackets ? 1 : 0)};
}

void checkSubstitution(Session& s, const ExpandOptions& o, const CallResult& r, const std::string& what,
                       const Places* places) {
  int code = r.code();
  std::string detail;
  if (code == 4 || code == 5) {
    IncludeProblem p = includeFailure(s, kTemplateVar, o.filesDir, code);
    std::optional<Places> own;
    if (!places && p.tag) {
      const Text* t = s.host.storedText(kTemplateVar);
      own.emplace(s, t ? t->str() : U"", o.tags, displayName(o.templ), TagReading{});
      places = &*own;
    }
    detail = p.tag ? places->ofTag(*p.tag) + ": " + p.detail : p.detail;
  }
  check(r, what, detail);
}

void warnUnclosed(const Places& places) {
  if (auto at = places.unclosed())
    std::cerr << "moravel: " << *at << ": warning: this tag is not closed; it and the text after it are copied as "
                 "they stand\n";
}

int runExpand(const ExpandOptions& o) {
  if (o.each) return runMerge(o);
  bool unicode = o.common.unicode();
  std::string templName = displayName(o.templ);
  checkInputs(o);
  std::size_t undecoded = 0;
  Text templ = readTemplate(o.templ, unicode, &undecoded);
  DataSet data = gatherData(o);
  TagReading reading = o.strict ? readingOf(o.forceEval, o.stripLinebreaks, data) : TagReading{};
  std::optional<Output> out;
  try {
    if (!o.check) out.emplace(o.output);
  } catch (const OutputError& e) {
    throw Failure{kExitCantCreate, e.what()};
  }
  auto s = prepareSession(o, data);
  Findings findings;
  if (o.strict) findings.listen(s->host);
  // The template moves into the host's variable, read by reference. The
  // expanded text goes out as the plug-in hands it to the host, straight
  // from the plug-in's units; it arrives only when the call succeeds. With
  // --strict nothing may be written before the findings are known, so the
  // text is kept in the call's second parameter and written after them.
  // A template of characters above U+00FF is decoded where the plug-in reads
  // it, straight into its buffer, from the bytes kept here.
  Text utf8;
  if (undecoded) {
    utf8 = std::move(templ);
    s->host.streamReads(kTemplateVar, undecoded, [&utf8](char32_t* units, std::size_t n) {
      decodeUtf8Into(utf8.narrowData(), utf8.size(), units, n);
    });
  }
  s->host.setText(kTemplateVar, std::move(templ));
  std::optional<UnitWriter> writer;
  if (!o.strict) {
    writer.emplace(*out, unicode);
    s->host.setText(kOutVar, Text());
    s->host.streamWrites(kOutVar, [&writer](const void* units, std::size_t n) { writer->put(units, n); });
  }
  Arg resultArg = writer ? Arg::reference(std::u32string(kOutVar)) : Arg::text(U"");
  CallResult r = s->host.call(kDoSubstitutions,
                              substitutionArgs(o, Arg::reference(std::u32string(kTemplateVar)), std::move(resultArg)));
  s->host.onUnanswered(nullptr);
  s->host.streamWrites(kOutVar, nullptr);
  // The places of the tags are looked for only when a message names one.
  std::optional<Places> places;
  if (o.strict || r.code() == 4 || r.code() == 5) {
    const Text* held = s->host.storedText(kTemplateVar);
    std::u32string text = undecoded ? decodeUtf8(std::string_view(reinterpret_cast<const char*>(utf8.narrowData()),
                                                                  utf8.size()))
                                    : held ? held->str() : U"";
    places.emplace(*s, std::move(text), o.tags, templName, std::move(reading));
    if (o.strict) warnUnclosed(*places);
  }
  if (r.code() != 0) findings.report(templName, places ? &*places : nullptr);
  checkSubstitution(*s, o, r, templName + ": DoSubstitutions", places ? &*places : nullptr);
  s->host.streamReads(kTemplateVar, 0, nullptr);
  s->host.remove(kTemplateVar);
  if (!findings.empty()) {
    findings.report(templName, places ? &*places : nullptr);
    throw Failure{kExitStrict, templName + (o.check ? ": check: the host could not answer what is listed above"
                                                    : ": --strict: the host could not answer what is listed above; "
                                                      "nothing written")};
  }
  if (o.check) return 0;
  static const Text kEmpty;
  const auto* result = std::get_if<Value>(&r.parameters.at(1));
  const Text* expanded = result ? result->storedText() : nullptr;
  try {
    if (writer) writer->finish();
    else writeText(expanded ? *expanded : kEmpty, unicode, *out);
    out->commit();
  } catch (const OutputError& e) {
    throw Failure{kExitCantCreate, e.what()};
  }
  return 0;
}

int runCheck(ExpandOptions o) {
  o.strict = o.check = true;
  // With records, each is checked, and the run goes on to the last.
  o.keepGoing = o.quiet = o.each.has_value();
  return runExpand(o);
}

}  // namespace moravel::tool
