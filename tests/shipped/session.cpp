// session.cpp: a host session with the shipped plug-in builds, written down
// answer by answer, so that a build for another platform can be held to the
// same transcript line for line.
//
//   moravel_session TRANSCRIPT WORKDIR LIBRARY_8BIT LIBRARY_UNICODE
//   moravel_session_mac TRANSCRIPT WORKDIR BUNDLE
//
// Each library is loaded, driven through every function as a host would
// (fields, calculations, methods, included files, each encoding, tag lists,
// design information, a nested call) and unloaded. WORKDIR receives the files
// the templates include. Paths are given as the build machine names them.
// The Mac form (MORAVEL_SESSION_MAC_BUNDLE) runs the Unicode part with the
// shipped Mac bundle, loaded by the bundle loader of tests/macbundle, its
// system functions those of the Mac stand-in: its files directory is then
// an HFS path on a volume that is WORKDIR, and its catalogue strings come
// from the bundle's resource file.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "moravel/host.h"
#include "moravel/text.h"

#if MORAVEL_SESSION_MAC_BUNDLE
#include "loader.h"
#include "macsubst.h"
#endif

namespace {

using namespace moravel;
namespace fs = std::filesystem;

// A path of the build machine as a Windows program names it: the root of
// that file system is drive Z: (under wine, and for the PE loader).
[[maybe_unused]] std::string windowsPath(std::string path)
{
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// A path of the build machine in the form this program's system opens.
std::string nativePath(const std::string& path)
{
#if defined(_WIN32)
  return windowsPath(path);
#else
  return path;
#endif
}

// The site's folder as the plug-in's platform names it.
[[maybe_unused]] std::u32string filesDirectoryOf(const fs::path& site)
{
#if MORAVEL_WINDOWS_PLUGIN
  return u32(windowsPath((site / "").string()));
#else
  return u32((site / "").string());
#endif
}

// A text as one transcript line: UTF-8, control characters escaped.
std::string shown(const std::u32string& text)
{
  std::u32string safe;
  for (char32_t c : text) {
    if (c >= 0x20 && c != U'\\') {
      safe += c;
      continue;
    }
    char esc[8];
    std::snprintf(esc, sizeof esc, "\\x%02X", static_cast<unsigned>(c));
    safe += u32(esc);
  }
  return u8(safe);
}

class Transcript {
 public:
  explicit Transcript(const std::string& path) : out_(path, std::ios::binary) {}
  bool good() const { return out_.good(); }
  void operator()(const std::string& what, const std::string& answer) { out_ << what << ": " << answer << '\n'; }
  void operator()(const std::string& what, const std::u32string& answer) { (*this)(what, shown(answer)); }
  void operator()(const std::string& what, long answer) { (*this)(what, std::to_string(answer)); }

 private:
  std::ofstream out_;
};

void writeFile(const fs::path& path, const std::string& bytes)
{
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// The files the templates include, in the encodings the Unicode builds tell by
// their byte-order mark (the 8-bit builds take the bytes as they are).
void writeSite(const fs::path& site)
{
  writeFile(site / "parts" / "footer.html", "\xEF\xBB\xBF<p>Gr\xC3\xBC\xC3\x9F aus <FIELD>city</FIELD></p>");
  writeFile(site / "parts" / "header.html", "<h1><FIELD>NAME</FIELD></h1>");
  writeFile(site / "parts" / "le.txt", std::string("\xFF\xFE\xE9\x00\xAC\x20!\x00", 8));
  writeFile(site / "latin.txt", "caf\xE9");
}

class Session {
 public:
  Session(const std::string& library, Width width, Form form, Transcript& t) : host_(library, width, form), t_(t) {}

  // `filesDirectory` names the site's folder as the plug-in's platform names it.
  void run(const std::u32string& filesDirectory)
  {
    host_.load();
    t_("load: the slot holds the record registered under MORAVEL",
       host_.slot() && host_.atom(U"MORAVEL") == reinterpret_cast<std::uintptr_t>(host_.slot()) ? "yes" : "no");
    t_("Version()", host_.call(kVersion, {}).returnValue.asText());
    designInformation();
    setup(filesDirectory);
    substitutions();
    options();
    nested();
    tagLists();
    tags();
    refusals();
    t_("host problems", static_cast<long>(host_.log().problems.size()));
    t_("requests through a stale handle", host_.log().staleHandles);
    host_.unload();
    t_("unload: slot and registration cleared", !host_.slot() && host_.atomCount() == 0 ? "yes" : "no");
    t_("references left", host_.log().outstanding());
  }

 private:
  void designInformation()
  {
    for (int id = 0; id <= 7; ++id) {
      for (int qfldid : {int(design::kAskParameters), int(design::kAskReturnValue), 7}) {
        DesignAnswer a = host_.describe(id, qfldid);
        t_("design " + std::to_string(id) + "/" + std::to_string(qfldid),
           std::string(a.changed ? "" : "unchanged ") + "usedefault " + std::to_string(a.useDefault) + " [" +
               std::to_string(a.label.size()) + "] " + shown(a.label));
      }
    }
    t_("setup information", host_.setupInfo());
  }

  void setup(const std::u32string& dir)
  {
    host_.setList(U"map", List{{U"keyword", U"field"},
                               {{Value::text(U"name"), Value::text(U"lName")},
                                {Value::text(U"TOWN"), Value::text(U"city")}}});
    t_("MapKeywordsToFields", code(kMapKeywordsToFields, {Arg::reference(U"map")}));
    t_("SetFilesDirectory", code(kSetFilesDirectory, {Arg::text(dir)}));
    bool wide = host_.width() == Width::Unicode;
    host_.setText(U"lName", U"Zo\u00eb M\u00fcller");
    host_.setNumber(U"qty", 3);
    host_.setNumber(U"price", 12.5);
    host_.setText(U"city", U"Z\u00fcrich");
    host_.setText(U"note", wide ? U"\u20ac 5 \U0001F600 \u00a0\u00ff" : U"\u00a0\u00a9\u00ff");
    host_.setText(U"tagged", U"[<FIELD>qty</FIELD>]");
    host_.setText(U"which", U"city");
    host_.setInstanceName(U"wOrder");
    host_.defineMethod(U"wOrder.$closing", U"upp(city)");
    host_.defineMethod(U"$tagged", std::vector<std::u32string>{U"1", U"'<FIELD>TOWN</FIELD>!'"});
  }

  void substitutions()
  {
    // A UTF-16 file only for the Unicode builds: to an 8-bit build its zero
    // bytes would end the text.
    bool wide = host_.width() == Width::Unicode;
    const std::u32string page =
        U"<FIELD>TAGGEDFILE=/parts/header.html</FIELD>\n"
        U"<p>Dear <FIELD>NAME</FIELD>, <FIELD>qty</FIELD> at <FIELD>price</FIELD> come to "
        U"<FIELD>EVAL=qty*price</FIELD> (<FIELD>+qty+1</FIELD>).</p>\n"
        U"<FIELD> METHOD=$cinst.$closing </FIELD> <FIELD>TAGGEDMETHOD=$tagged</FIELD> "
        U"<FIELD>FIELD=tagged</FIELD> <FIELD>TAGGEDFIELD=tagged</FIELD> <FIELD>note</FIELD>\n"
        U"<FIELD>FILE=:parts:footer.html</FIELD>" + std::u32string(wide ? U"<FIELD>FILE=/parts/le.txt</FIELD>" : U"") +
        U" <FIELD>FILE=latin.txt</FIELD> <FIELD>unclosed";
    for (int utf = 0; utf <= 3; ++utf)
      expand("DoSubstitutions utfType " + std::to_string(utf), page, {Arg::number(utf)});
  }

  void options()
  {
    const std::u32string text = U"<FIELD>EVAL=qty\n*2</FIELD>|<FIELD>qty+1</FIELD>|<FIELD>[which]</FIELD>|"
                                U"<FIELD>METHOD=[$cinst.$closing]</FIELD>";
    const int flags[][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}};
    for (const auto& f : flags)
      expand("options " + std::to_string(f[0]) + std::to_string(f[1]) + std::to_string(f[2]), text,
             {Arg::number(0), Arg::number(f[0]), Arg::number(f[1]), Arg::number(f[2])});
  }

  void nested()
  {
    host_.setText(U"inner", U"(<FIELD>NAME</FIELD> <FIELD>EVAL=qty*2</FIELD>)");
    host_.setText(U"innerOut", U"");
    expand("nested call", U"a<FIELD>EVAL=Moravel.DoSubstitutions(inner, innerOut, 1)</FIELD>b<FIELD>innerOut</FIELD>c",
           {Arg::number(2)});
    t_("nested call: inner result", host_.text(U"innerOut"));
    t_("nested call: deepest level", static_cast<long>(host_.log().maxDepth));
  }

  void tagLists()
  {
    host_.setList(U"tags", List{{U"first", U"tag"}, {}});
    int c = code(kGetTagList, {Arg::text(U"x<FIELD> a </FIELD><FIELD>EVAL=1+2</FIELD>y<FIELD></FIELD><FIELD>open"),
                               Arg::reference(U"tags"), Arg::number(2)});
    std::u32string rows;
    for (const auto& row : host_.list(U"tags").value_or(List{}).rows)
      rows += U"{" + (row.size() > 1 ? row[1].asText() : U"") + U"}";
    t_("GetTagList", std::to_string(c) + " " + shown(rows));
  }

  void tags()
  {
    t_("SetTags {{ }}", code(kSetTags, {Arg::text(U"{{"), Arg::text(U"}}")}));
    expand("with {{ }}", U"{{NAME}} {{ town }} <FIELD>qty</FIELD>");
    t_("SetTags empty", code(kSetTags, {Arg::text(U""), Arg::text(U"]")}));
    expand("with an empty tag", U"{{NAME}}");
    t_("SetTags back", code(kSetTags, {Arg::text(U"<field>"), Arg::text(U"</field>")}));
    expand("tags back", U"<FIELD>NAME</FIELD>");
  }

  void refusals()
  {
    expand("utfType 4", U"<FIELD>qty</FIELD>", {Arg::number(4)});
    expand("a missing file", U"a<FIELD>FILE=missing.html</FIELD>b");
    t_("DoSubstitutions with one parameter", code(kDoSubstitutions, {Arg::text(U"x")}));
    t_("package id 7", code(7, {}));
  }

  int code(int function, std::vector<Arg> args) { return host_.call(function, std::move(args)).code(); }

  void expand(const std::string& what, const std::u32string& text, std::vector<Arg> options = {})
  {
    host_.setText(U"out", U"(untouched)");
    std::vector<Arg> args{Arg::text(text), Arg::reference(U"out")};
    for (auto& o : options) args.push_back(std::move(o));
    int c = code(kDoSubstitutions, std::move(args));
    t_(what, std::to_string(c) + " " + shown(host_.text(U"out")));
  }

  Host host_;
  Transcript& t_;
};

#if MORAVEL_SESSION_MAC_BUNDLE

constexpr int kLibraries = 1;
constexpr const char* kUsage = "moravel_session_mac TRANSCRIPT WORKDIR BUNDLE";

// The Unicode part, with the shipped bundle loaded by the bundle loader.
void runSessions(Transcript& t, const fs::path& work, char** libraries)
{
  static macbundle::BundleLoader loader;
  Host::useLoader(&loader);
  macsubst::setVolumesDirectory(work.string());
  macsubst::useResourceFile((fs::path(libraries[0]) / "Contents" / "Resources" / "MoravelMac.rsrc").string());
  writeSite(work / "Unicode");
  t("== Unicode build", "");
  Session(libraries[0], Width::Unicode, Form::Mac, t).run(U"Unicode:");
}

#else

constexpr int kLibraries = 2;
constexpr const char* kUsage = "moravel_session TRANSCRIPT WORKDIR LIBRARY_8BIT LIBRARY_UNICODE";

void runSessions(Transcript& t, const fs::path& work, char** libraries)
{
  const char* const names[] = {"8-bit", "Unicode"};
  for (int i = 0; i < 2; ++i) {
    fs::path site = work / names[i];
    writeSite(site);
    t("== " + std::string(names[i]) + " build", "");
    Session(nativePath(libraries[i]), i ? Width::Unicode : Width::Byte, Form::Windows, t).run(filesDirectoryOf(site));
  }
}

#endif

}  // namespace

int main(int argc, char** argv)
{
  if (argc != 3 + kLibraries) {
    std::fprintf(stderr, "usage: %s\n", kUsage);
    return 64;
  }
  try {
    fs::path work = nativePath(argv[2]);
    fs::remove_all(work);
    fs::create_directories(work);
    Transcript t(nativePath(argv[1]));
    runSessions(t, work, argv + 3);
    if (!t.good()) throw std::runtime_error("the transcript could not be written");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
    return 1;
  }
  return 0;
}
