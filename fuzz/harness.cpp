// harness.cpp: libFuzzer entry for DoSubstitutions (FUZZ_TAGLIST 0) or
// GetTagList (FUZZ_TAGLIST 1) of one unit width, through the test host.
//
// Input: sections separated by a line "~~": options, open tag, close tag,
// keyword map ("key=field" per line), three variable values, the bytes of an
// included file, the template. Missing sections take defaults. The options
// section: utfType digit, a flag digit (1 forceEval, 2 stripAllLinebreaks,
// 4 senseBrackets), the parameter count digit.
//
// Oracles besides the sanitizers: the result code is one the functions give;
// "#S1" keeps its value; no block beyond the record's own and no descriptor
// stays; a failed expansion delivers nothing; a template without open tags
// comes out unchanged (or encoded, checked for the decimal and hexadecimal
// forms); the tag list equals the rows of an independent reading of the
// template by the matching rule.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "moravel/host.h"
#include "moravel/text.h"

using namespace moravel;

namespace {

[[noreturn]] void Fail(const std::string& what)
{
  fprintf(stderr, "oracle failure: %s\n", what.c_str());
  abort();
}

struct Env {
  std::unique_ptr<Host> host;
  std::filesystem::path dir;
  std::string file;  // what the included file holds
  bool written = false;
};

Env& Environment()
{
  static Env* env = [] {
    auto* e = new Env;
    e->host = std::make_unique<Host>(FUZZ_LIBRARY, FUZZ_UNICODE ? Width::Unicode : Width::Byte);
    std::string templ = (std::filesystem::temp_directory_path() / "moravel-fuzz-XXXXXX").string();
    if (!mkdtemp(templ.data())) Fail("no scratch directory");
    e->dir = templ;
    if (!e->host->hasTestHooks()) Fail("not a test build");
    return e;
  }();
  return *env;
}

std::vector<std::string_view> Sections(std::string_view in)
{
  std::vector<std::string_view> out;
  for (;;) {
    size_t at = in.find("\n~~\n");
    if (at == std::string_view::npos) {
      out.push_back(in);
      return out;
    }
    out.push_back(in.substr(0, at));
    in.remove_prefix(at + 4);
  }
}

// Host text from input bytes: code points from UTF-8 in the Unicode build,
// bytes in the 8-bit build; a zero would end the text early in the plug-in.
std::u32string HostText(std::string_view bytes)
{
  std::u32string t = FUZZ_UNICODE ? decodeUtf8(bytes) : fromLatin1(bytes);
  for (char32_t& c : t)
    if (c == 0) c = U' ';
  return t;
}

char32_t Fold(char32_t c) { return c >= U'a' && c <= U'z' ? c - 32 : c; }

std::u32string Stored(std::u32string tag)
{
  if (tag.size() > 255) tag.resize(255);
  for (char32_t& c : tag) c = Fold(c);
  return tag;
}

bool MatchAt(const std::u32string& text, size_t at, const std::u32string& tag)
{
  if (tag.empty() || at >= text.size() || text[at] != tag[0] || text.size() - at < tag.size()) return false;
  for (size_t k = 0; k < tag.size(); k++)
    if (Fold(text[at + k]) != tag[k]) return false;
  return true;
}

std::vector<std::u32string> ExpectedRows(const std::u32string& text, const std::u32string& open,
                                         const std::u32string& close)
{
  std::vector<std::u32string> rows;
  size_t pos = 0;
  for (;;) {
    while (pos < text.size() && !MatchAt(text, pos, open)) pos++;
    if (pos >= text.size()) return rows;
    size_t t = pos + open.size();
    while (t < text.size() && !MatchAt(text, t, close)) t++;
    if (t >= text.size()) return rows;
    rows.push_back(text.substr(pos + open.size(), t - pos - open.size()));
    pos = t + close.size();
  }
}

[[maybe_unused]] bool HasOpenTag(const std::u32string& text, const std::u32string& open)
{
  for (size_t i = 0; i < text.size(); i++)
    if (MatchAt(text, i, open)) return true;
  return false;
}

[[maybe_unused]] std::u32string Encoded(const std::u32string& text, int utfType)
{
  std::u32string out;
  char buf[32];
  for (char32_t c : text) {
    if (c < 160) {
      out += c;
      continue;
    }
    snprintf(buf, sizeof buf, utfType == 2 ? "&#%lu;" : "&#x%lX;", static_cast<unsigned long>(c));
    out += u32(buf);
  }
  return out;
}

std::vector<std::u32string> Rows(Host& host)
{
  std::vector<std::u32string> rows;
  const List list = host.list(U"tags").value_or(List{});
  for (auto& row : list.rows) rows.push_back(row.empty() ? U"" : row[0].asText());
  return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  Env& env = Environment();
  Host& host = *env.host;
  std::vector<std::string_view> s = Sections(std::string_view(reinterpret_cast<const char*>(data), size));
  auto section = [&](size_t i, std::string_view fallback) { return i < s.size() ? s[i] : fallback; };

  std::string_view options = section(0, "0");
  [[maybe_unused]] int utfType = options.size() > 0 ? options[0] - '0' : 0;
  [[maybe_unused]] int flags = options.size() > 1 ? (options[1] - '0') & 7 : 0;
  int params = options.size() > 2 ? options[2] - '0' : 6;
  if (params < 2 || params > 6) params = 6;

  if (host.loaded()) host.unload();
  host.load();
  const long baseline = host.liveBlocks();

  std::u32string open = U"<FIELD>", close = U"</FIELD>";
  bool tagsUsable = true;
  if (s.size() > 2 && (!s[1].empty() || !s[2].empty())) {
    open = HostText(s[1]);
    close = HostText(s[2]);
    int code = host.call(kSetTags, {Arg::text(open), Arg::text(close)}).code();
    tagsUsable = !open.empty() && !close.empty();
    if (code != (tagsUsable ? 0 : 3)) Fail("SetTags answered " + std::to_string(code));
  }
  open = Stored(open);
  close = Stored(close);

  if (s.size() > 3 && !s[3].empty()) {
    List map{{U"keyword", U"field"}, {}};
    std::u32string rows = HostText(s[3]);
    size_t start = 0;
    while (start <= rows.size() && map.rows.size() < 40) {
      size_t end = rows.find(U'\n', start);
      if (end == std::u32string::npos) end = rows.size();
      std::u32string line = rows.substr(start, end - start);
      size_t eq = line.find(U'=');
      map.rows.push_back({Value::text(line.substr(0, eq)),
                          Value::text(eq == std::u32string::npos ? U"" : line.substr(eq + 1))});
      start = end + 1;
    }
    host.setList(U"map", map);
    int code = host.call(kMapKeywordsToFields, {Arg::reference(U"map")}).code();
    if (code != 0 && code != 3) Fail("MapKeywordsToFields answered " + std::to_string(code));
  }

  host.setText(U"v0", HostText(section(4, "zero")));
  host.setText(U"v1", HostText(section(5, "<FIELD>v0</FIELD>")));
  host.setText(U"v2", HostText(section(6, "[1+2]")));
  host.setText(U"innerOut", U"");
  host.defineMethod(U"$m", U"con(v0, '|', v1)");
  host.defineMethod(U"$inner", U"Moravel.DoSubstitutions(v1, innerOut)");
  // v1 may call $inner several times, each expanding v1 again: without a
  // bound the work grows as that count to the power of the depth.
  host.limitNestedCalls(8);
  // Written only when it changes: most inputs leave it as it was, and the
  // write would cost a third of a run.
  if (std::string_view file = section(7, ""); !env.written || file != env.file) {
    std::ofstream f(env.dir / "f", std::ios::binary | std::ios::trunc);
    f.write(file.data(), static_cast<std::streamsize>(file.size()));
    if (!f.flush()) Fail("the included file cannot be written");
    env.file = file;
    env.written = true;
  }
  if (host.call(kSetFilesDirectory, {Arg::text(u32(env.dir.string() + "/"))}).code() != 0)
    Fail("SetFilesDirectory failed");

  const std::u32string text = HostText(section(8, ""));
  host.setText(U"#S1", U"scratch");
  host.setText(U"out", U"before");
  host.setList(U"tags", List{{U"tag"}, {}});

#if FUZZ_TAGLIST
  int code = host.call(kGetTagList, {Arg::text(text), Arg::reference(U"tags"), Arg::number(1)}).code();
  if (!tagsUsable) {
    if (code != 3) Fail("GetTagList with unusable tags answered " + std::to_string(code));
  } else {
    if (code != 0) Fail("GetTagList answered " + std::to_string(code));
    if (Rows(host) != ExpectedRows(text, open, close)) Fail("tag list rows differ from the matching rule");
  }
#else
  std::vector<Arg> args{Arg::text(text), Arg::reference(U"out")};
  if (params >= 3) args.push_back(Arg::number(utfType));
  for (int p = 4; p <= params; p++) args.push_back(Arg::number((flags >> (p - 4)) & 1));
  int code = host.call(kDoSubstitutions, std::move(args)).code();
  int effectiveUtf = params >= 3 ? utfType : 0;
  bool rejected = !tagsUsable || effectiveUtf < 0 || effectiveUtf > 3;
  if (rejected) {
    if (code != 3) Fail("a rejected call answered " + std::to_string(code));
    if (host.text(U"out") != U"before") Fail("a rejected call changed its output");
  } else if (code != 0) {
    if (code != 2 && code != 4 && code != 5) Fail("DoSubstitutions answered " + std::to_string(code));
    if (!host.text(U"out").empty()) Fail("a failed expansion delivered text");
  } else if (!HasOpenTag(text, open)) {
    std::u32string want = effectiveUtf == 0 ? text : Encoded(text, effectiveUtf);
    if (effectiveUtf != 1 && host.text(U"out") != want) Fail("a template without tags changed");
  }
  if (host.text(U"#S1") != U"scratch") Fail("#S1 not restored");
  // The same template listed: the rows follow the matching rule.
  if (tagsUsable) {
    host.setList(U"tags", List{{U"tag"}, {}});
    if (host.call(kGetTagList, {Arg::text(text), Arg::reference(U"tags"), Arg::number(1)}).code() != 0)
      Fail("GetTagList failed");
    if (Rows(host) != ExpectedRows(text, open, close)) Fail("tag list rows differ from the matching rule");
  }
#endif
  if (host.liveBlocks() != baseline) Fail("blocks left after a call");
  if (env.host->openFiles() != 0) Fail("a file left open");
  if (host.log().staleHandles != 0) Fail("a request through a stale handle");
  host.clearLog();
  return 0;
}
