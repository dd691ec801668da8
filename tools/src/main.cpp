// moravel: expand templates with the Moravel plug-in from the command line.
//
// The plug-in library is loaded at run time, from the directory of this
// executable, else from the directory named by MORAVEL_PLUGIN_DIR, else from
// where the build put it. The tool is a host: it answers the plug-in's
// requests from the data file's variables, lists and methods.
//
// Exit status: the plug-in function's result code (0 success, 2 no memory, a
// TAGGED value nested too deep, or not ready, 3 parameters rejected, 4 a file could not be opened, 5 a file
// could not be read); 64 a usage error (bad arguments, unreadable template,
// bad data file); 69 the plug-in cannot be loaded; 73 the output file cannot
// be written.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "data_file.h"
#include "moravel/host.h"
#include "moravel/text.h"
#include "text_io.h"

#ifndef MORAVEL_BUILD_PLUGIN_U
#define MORAVEL_BUILD_PLUGIN_U ""
#endif
#ifndef MORAVEL_BUILD_PLUGIN_8
#define MORAVEL_BUILD_PLUGIN_8 ""
#endif

namespace fs = std::filesystem;
using namespace moravel;

namespace {

constexpr int kExitUsage = 64;
constexpr int kExitUnavailable = 69;
constexpr int kExitCantCreate = 73;

// The keyword map goes to the plug-in as a reference to this host variable.
constexpr std::u32string_view kKeywordMapVar = U"#MORAVELKEYWORDMAP";

struct Failure {
  int status;
  std::string message;
};

std::string executableDir() {
  std::error_code ec;
  fs::path p = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.parent_path().string();
}

std::string locatePlugin(bool unicode) {
  const std::string file = unicode ? "libMoravelU.so" : "libMoravel.so";
  std::vector<std::string> tried;
  auto exists = [](const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
  };
  if (std::string dir = executableDir(); !dir.empty()) {
    fs::path p = fs::path(dir) / file;
    if (exists(p)) return p.string();
    tried.push_back(p.string());
  }
  if (const char* env = std::getenv("MORAVEL_PLUGIN_DIR"); env && *env) {
    fs::path p = fs::path(env) / file;
    if (exists(p)) return p.string();
    tried.push_back(p.string());
  }
  std::string built = unicode ? MORAVEL_BUILD_PLUGIN_U : MORAVEL_BUILD_PLUGIN_8;
  if (!built.empty()) {
    if (exists(built)) return built;
    tried.push_back(built);
  }
  std::string msg = "cannot find " + file + "; looked for";
  for (const auto& t : tried) msg += " " + t;
  throw Failure{kExitUnavailable, msg};
}

std::string meaningOf(int code) {
  switch (code) {
    case kNoMemoryOrNotReady:
      return "the plug-in could not obtain memory or is not ready, or a TAGGED value leads "
             "back to itself (more than 256 nested levels)";
    case kBadParameters:
      return "the plug-in rejected the parameters";
    case kCannotOpenFile:
      return "a file named in a tag could not be opened";
    case kCannotReadFile:
      return "a file named in a tag could not be read, or its text holds a zero character";
    default:
      return "the plug-in answered an unknown result code";
  }
}

void check(const CallResult& r, const std::string& function) {
  int code = r.code();
  if (code != 0)
    throw Failure{code, function + " failed with result " + std::to_string(code) + ": " + meaningOf(code)};
}

void warnNotUtf8(const std::string& what, std::size_t bad) {
  if (bad)
    std::cerr << "moravel: warning: " << what << ": " << bad << (bad == 1 ? " byte is" : " bytes are")
              << " not UTF-8; each was taken as the character of its own value\n";
}

// The template as the chosen build's text, read straight into the host's
// storage: UTF-8 for the Unicode build (a byte that is not part of valid
// UTF-8 is taken as the character of its own value, and a warning says so),
// one byte a character for the 8-bit build. A NUL character is refused.
Text readTemplate(const std::string& name, bool unicode) {
  std::string what = name == "-" ? "standard input" : name;
  Text t;
  try {
    t = tool::readFileText(name);
  } catch (const std::runtime_error& e) {
    throw Failure{kExitUsage, e.what()};
  }
  if (unicode) {
    std::size_t bad = 0;
    t = decodeUtf8(std::move(t), &bad);
    warnNotUtf8(what, bad);
  }
  if (long long p = tool::firstZero(t); p >= 0)
    throw Failure{kExitUsage, what + ": the template contains a NUL character (character " + std::to_string(p + 1) +
                                  "), which would end it early"};
  return t;
}

// Bytes as the chosen build's text: UTF-8 for the Unicode build (a byte that
// is not part of valid UTF-8 is taken as the character of its own value, and
// a warning says so), one byte a character for the 8-bit build.
std::u32string toText(const std::string& bytes, bool unicode, const std::string& what) {
  if (!unicode) return fromLatin1(bytes);
  std::size_t bad = 0;
  std::u32string t = decodeUtf8(bytes, &bad);
  warnNotUtf8(what, bad);
  return t;
}

struct Common {
  std::string build = "unicode";
  std::string plugin;  // explicit library file, overrides the search
};

struct Session {
  Host host;
  bool unicode;
  Session(const Common& c)
      : host(openPath(c), c.build == "8bit" ? Width::Byte : Width::Unicode), unicode(c.build != "8bit") {
    host.keepRequestTexts(false);
    host.load();
  }
  static std::string openPath(const Common& c) {
    return c.plugin.empty() ? locatePlugin(c.build != "8bit") : c.plugin;
  }
};

std::unique_ptr<Session> openSession(const Common& c) {
  try {
    return std::make_unique<Session>(c);
  } catch (const HostError& e) {
    throw Failure{kExitUnavailable, e.what()};
  }
}

void setTags(Session& s, const std::vector<std::string>& tags) {
  if (tags.empty()) return;
  check(s.host.call(kSetTags, {Arg::text(toText(tags[0], s.unicode, "open tag")),
                               Arg::text(toText(tags[1], s.unicode, "close tag"))}),
        "SetTags");
}

void applyData(Session& s, tool::DataSet& d) {
  for (auto& [name, v] : d.variables) s.host.set(name, std::move(v));
  for (auto& [name, l] : d.lists) s.host.setList(name, std::move(l));
  for (auto& [name, body] : d.methods) s.host.defineMethod(name, std::move(body));
  if (d.instance) s.host.setInstanceName(*d.instance);
  if (d.keywordMap) {
    List map;
    map.columns = {U"keyword", U"fieldName"};
    for (const auto& [k, f] : *d.keywordMap) map.rows.push_back({Value::text(k), Value::text(f)});
    s.host.setList(kKeywordMapVar, std::move(map));
    check(s.host.call(kMapKeywordsToFields, {Arg::reference(std::u32string(kKeywordMapVar))}),
          "MapKeywordsToFields");
  }
}

struct ExpandOptions {
  Common common;
  std::string templ;
  std::string data;
  std::optional<std::string> filesDir;
  std::vector<std::string> tags;
  int utf = 0;
  bool forceEval = false, stripLinebreaks = false, senseBrackets = false;
  std::string output;
};

int runExpand(const ExpandOptions& o) {
  bool unicode = o.common.build != "8bit";
  std::optional<tool::DataSet> data;
  if (!o.data.empty()) {
    try {
      data = tool::loadDataSet(o.data, !unicode);
    } catch (const tool::DataError& e) {
      throw Failure{kExitUsage, e.what()};
    }
  }
  Text templ = readTemplate(o.templ, unicode);
  if (data && data->keywordMap) {
    for (const auto& [name, v] : data->variables)
      if (name == kKeywordMapVar) throw Failure{kExitUsage, o.data + ": variables." + encodeUtf8(name) + ": the name is reserved"};
    for (const auto& [name, l] : data->lists)
      if (name == kKeywordMapVar) throw Failure{kExitUsage, o.data + ": lists." + encodeUtf8(name) + ": the name is reserved"};
  }
  auto s = openSession(o.common);
  setTags(*s, o.tags);
  if (o.filesDir)
    check(s->host.call(kSetFilesDirectory, {Arg::text(toText(*o.filesDir, unicode, "files directory"))}),
          "SetFilesDirectory");
  if (data) applyData(*s, *data);
  data.reset();  // released before the call, like all the tool no longer needs
  // The template moves into the call's first parameter; the expanded text is
  // written out from the second.
  CallResult r = s->host.call(kDoSubstitutions,
                              {Arg::text(std::move(templ)), Arg::text(U""), Arg::number(o.utf),
                               Arg::number(o.forceEval ? 1 : 0), Arg::number(o.stripLinebreaks ? 1 : 0),
                               Arg::number(o.senseBrackets ? 1 : 0)});
  r.parameters.at(0) = Value();
  check(r, "DoSubstitutions");
  static const Text kEmpty;
  const auto* out = std::get_if<Value>(&r.parameters.at(1));
  const Text* expanded = out ? out->storedText() : nullptr;
  try {
    tool::writeText(expanded ? *expanded : kEmpty, unicode, o.output);
  } catch (const std::runtime_error& e) {
    throw Failure{kExitCantCreate, e.what()};
  }
  return 0;
}

int runTags(const Common& common, const std::string& templName, const std::vector<std::string>& tags) {
  bool unicode = common.build != "8bit";
  Text templ = readTemplate(templName, unicode);
  auto s = openSession(common);
  setTags(*s, tags);
  List list;
  list.columns = {U"tag"};
  CallResult r = s->host.call(kGetTagList, {Arg::text(std::move(templ)), Arg(list), Arg::number(1)});
  check(r, "GetTagList");
  nlohmann::json arr = nlohmann::json::array();
  if (const auto* l = std::get_if<List>(&r.parameters.at(1)))
    for (std::size_t i = 1; i <= l->rows.size(); ++i) arr.push_back(encodeUtf8(l->cell(i, 0).asText()));
  std::cout << arr.dump() << "\n";
  return 0;
}

int runVersion(const Common& common) {
  auto s = openSession(common);
  CallResult r = s->host.call(kVersion, {});
  if (r.returnValue.isNumber()) check(r, "Version");
  std::cout << encodeUtf8(r.returnValue.asText()) << "\n";
  return 0;
}

void addCommon(CLI::App* app, Common& c) {
  app->add_option("--build", c.build, "Plug-in build to load: unicode (default) or 8bit")
      ->check(CLI::IsMember({"unicode", "8bit"}));
  app->add_option("--plugin", c.plugin, "Load this plug-in library file instead of searching for it");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"moravel: expand templates with the Moravel plug-in"};
  app.require_subcommand(1);

  ExpandOptions ex;
  auto* expand = app.add_subcommand("expand", "Expand a template and write the expanded text");
  expand->add_option("TEMPLATE", ex.templ, "Template file, or - for standard input")->required();
  expand->add_option("--data", ex.data, "JSON data file with variables, lists, keywordMap, methods, instance");
  expand->add_option("--files-dir", ex.filesDir, "Directory from which FILE= tags include files");
  expand->add_option("--tags", ex.tags, "Open and close tag")->expected(2);
  expand->add_option("--utf", ex.utf, "Output encoding: 0 none, 1 named, 2 decimal, 3 hexadecimal references")
      ->check(CLI::Range(0, 3));
  expand->add_flag("--force-eval", ex.forceEval, "Evaluate field tags as calculations");
  expand->add_flag("--strip-linebreaks", ex.stripLinebreaks, "Remove line breaks inside tag texts");
  expand->add_flag("--sense-brackets", ex.senseBrackets, "Evaluate bracketed field values and files");
  expand->add_option("-o,--output", ex.output, "Write the expanded text to this file");
  addCommon(expand, ex.common);

  Common tagsCommon;
  std::string tagsTemplate;
  std::vector<std::string> tagsTags;
  auto* tags = app.add_subcommand("tags", "List the tags of a template as a JSON array");
  tags->add_option("TEMPLATE", tagsTemplate, "Template file, or - for standard input")->required();
  tags->add_option("--tags", tagsTags, "Open and close tag")->expected(2);
  addCommon(tags, tagsCommon);

  Common versionCommon;
  auto* version = app.add_subcommand("version", "Print the plug-in's version");
  addCommon(version, versionCommon);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "moravel: " << e.what() << "\n"
              << "Run 'moravel --help' for usage.\n";
    return kExitUsage;
  }

  try {
    if (*expand) return runExpand(ex);
    if (*tags) return runTags(tagsCommon, tagsTemplate, tagsTags);
    if (*version) return runVersion(versionCommon);
  } catch (const Failure& f) {
    std::cerr << "moravel: " << f.message << "\n";
    return f.status;
  } catch (const std::invalid_argument& e) {
    std::cerr << "moravel: " << e.what() << "\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "moravel: " << e.what() << "\n";
    return kExitUnavailable;
  }
  return kExitUsage;
}
