// session.cpp: finding and loading the plug-in, checking its answers, reading the template.
#include "session.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <vector>

#include "moravel/text.h"
#include "text_io.h"

#ifndef MORAVEL_BUILD_PLUGIN_U
#define MORAVEL_BUILD_PLUGIN_U ""
#endif
#ifndef MORAVEL_BUILD_PLUGIN_8
#define MORAVEL_BUILD_PLUGIN_8 ""
#endif
#ifndef MORAVEL_PLUGIN_RELDIR
#define MORAVEL_PLUGIN_RELDIR "../lib/moravel"
#endif

namespace fs = std::filesystem;

namespace moravel::tool {

namespace {

std::string executableDir() {
  std::error_code ec;
  fs::path p = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.parent_path().string();
}

// What a result code of the plug-in means, as its exit status does.
std::string meaningOf(int code) {
  for (const ExitMeaning& e : kExitMeanings)
    if (e.status == code && code > 0 && code < kExitUsage) return e.meaning;
  return "the plug-in answered an unknown result code";
}

std::string buildName(bool unicode) { return unicode ? "Unicode build" : "8-bit build"; }

void warnNotUtf8(const std::string& what, std::size_t bad) {
  if (bad)
    std::cerr << "moravel: warning: " << what << ": " << bad << (bad == 1 ? " byte is" : " bytes are")
              << " not UTF-8; each was taken as the character of its own value\n";
}

}  // namespace

std::string locatePlugin(bool unicode) {
  const std::string file = unicode ? "libMoravelU.so" : "libMoravel.so";
  std::vector<fs::path> places;
  if (std::string dir = executableDir(); !dir.empty()) {
    places.push_back(fs::path(dir) / file);
    places.push_back((fs::path(dir) / MORAVEL_PLUGIN_RELDIR / file).lexically_normal());
  }
  if (const char* env = std::getenv("MORAVEL_PLUGIN_DIR"); env && *env) places.push_back(fs::path(env) / file);
  std::string built = unicode ? MORAVEL_BUILD_PLUGIN_U : MORAVEL_BUILD_PLUGIN_8;
  if (!built.empty()) places.emplace_back(built);
  std::string msg = "cannot find " + file + "; looked for";
  for (const auto& p : places) {
    std::error_code ec;
    if (fs::is_regular_file(p, ec)) return p.string();
    msg += ' ';
    msg += p.string();
  }
  throw Failure{kExitUnavailable, msg};
}

void resolvePlugin(Common& c) {
  // A library found by its name is expected to be that build; one named
  // with --plugin is taken for what it is unless --build says otherwise.
  bool expected = !c.build.empty() || c.plugin.empty();
  std::string path = c.plugin.empty() ? locatePlugin(c.unicode()) : c.plugin;
  std::optional<Width> width;
  try {
    width = Host::widthOf(path);
  } catch (const HostError& e) {
    throw Failure{kExitUnavailable, e.what()};
  }
  if (!width) throw Failure{kExitUnavailable, path + ": the library does not answer as a Moravel plug-in"};
  bool unicode = *width == Width::Unicode;
  if (expected && unicode != c.unicode())
    throw Failure{kExitUnavailable, path + " is the " + buildName(unicode) + " of the plug-in, not the " +
                                        buildName(c.unicode()) + (c.build.empty() ? "" : " that --build asks for")};
  c.build = unicode ? "unicode" : "8bit";
  c.plugin = path;
}

Session::Session(const Common& c)
    : host(c.plugin.empty() ? locatePlugin(c.unicode()) : c.plugin, c.unicode() ? Width::Unicode : Width::Byte),
      unicode(c.unicode()) {
  host.keepRequestTexts(false);
  host.load();
}

std::unique_ptr<Session> openSession(const Common& c) {
  try {
    return std::make_unique<Session>(c);
  } catch (const HostError& e) {
    throw Failure{kExitUnavailable, e.what()};
  }
}

void check(const CallResult& r, const std::string& what, const std::string& detail) {
  int code = r.code();
  if (code != 0)
    throw Failure{code, what + " failed with result " + std::to_string(code) + ": " + meaningOf(code) +
                            (detail.empty() ? "" : ": " + detail)};
}

void setTags(Session& s, const std::vector<std::string>& tags) {
  if (tags.empty()) return;
  std::u32string open = toText(tags[0], s.unicode, "open tag"), close = toText(tags[1], s.unicode, "close tag");
  // The plug-in keeps only the first characters of a longer tag, which would then never match.
  for (const auto* t : {&open, &close})
    if (t->size() > kMaxTagUnits)
      throw Failure{kExitUsage, std::string("--tags: the ") + (t == &open ? "open" : "close") + " tag has " +
                                    std::to_string(t->size()) + " characters; the plug-in takes at most " +
                                    std::to_string(kMaxTagUnits)};
  check(s.host.call(kSetTags, {Arg::text(open), Arg::text(close)}), "--tags: SetTags");
}

std::u32string toText(const std::string& bytes, bool unicode, const std::string& what) {
  if (!unicode) return fromLatin1(bytes);
  std::size_t bad = 0;
  std::u32string t = decodeUtf8(bytes, &bad);
  warnNotUtf8(what, bad);
  return t;
}

Text readTemplate(const std::string& name, bool unicode, std::size_t* undecoded) {
  Text t = readFileText(name, "the template", kExitUsage);
  if (undecoded) *undecoded = 0;
  if (!unicode || isAscii(t.narrowData(), t.size())) return t;
  Utf8Measure m = measureUtf8(t.narrowData(), t.size());
  warnNotUtf8(displayName(name), m.invalidBytes);
  if (undecoded && m.bits > 0xFF) {
    *undecoded = m.chars;
    return t;  // decoded where it is read
  }
  return decodeUtf8(std::move(t), m);
}

}  // namespace moravel::tool
