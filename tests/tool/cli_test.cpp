// The moravel tool end to end: it runs as its own process with the shipped
// plug-in builds, and is judged by its exit status, standard output and
// standard error.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int status = -1;
  std::string out, err;
  int errLines() const {
    int n = 0;
    for (char c : err) n += c == '\n';
    return n;
  }
};

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "moravel-tool-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
  }
  void TearDown() override { fs::remove_all(dir); }

  fs::path write(const std::string& name, const std::string& content) {
    fs::path p = dir / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }

  Outcome run(const std::vector<std::string>& args, const std::string& input = "", const std::string& env = "") {
    std::string cmd = env + (env.empty() ? "" : " ") + "\"$MORAVEL\"";
    for (const auto& a : args) cmd += " " + quote(a);
    return shell(cmd, input);
  }

  // A bash script run with $MORAVEL naming the tool, `input` on its standard
  // input; its own redirections override those that catch its output.
  Outcome shell(const std::string& script, const std::string& input = "") {
    fs::path in = write("stdin.txt", input);
    std::string cmd = "MORAVEL=" + quote(MORAVEL_TOOL) + " bash -c " + quote(script) + " <" + quote(in.string()) +
                      " >" + quote((dir / "stdout.txt").string()) + " 2>" + quote((dir / "stderr.txt").string());
    int rc = std::system(cmd.c_str());
    Outcome r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = slurp(dir / "stdout.txt");
    r.err = slurp(dir / "stderr.txt");
    return r;
  }

  fs::path dir;
};

TEST_F(Tool, VersionOfBothBuildsAndHelp) {
  Outcome u = run({"version"});
  EXPECT_EQ(u.status, 0) << u.err;
  EXPECT_EQ(u.out, MORAVEL_PROJECT_VERSION "\n");
  Outcome b = run({"version", "--build", "8bit"});
  EXPECT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(b.out, MORAVEL_PROJECT_VERSION "\n");
  Outcome both = run({"--version"});
  EXPECT_EQ(both.status, 0) << both.err;
  EXPECT_EQ(both.out.rfind("moravel 1.5\nplug-in 1.5 (Unicode build, ", 0), 0u) << both.out;
  EXPECT_NE(both.out.find("\nplug-in 1.5 (8-bit build, "), std::string::npos) << both.out;
  for (const char* sub : {"expand", "tags", "version"}) {
    Outcome h = run({sub, "--help"});
    EXPECT_EQ(h.status, 0) << sub;
    EXPECT_NE(h.out.find("Example"), std::string::npos) << sub;
    EXPECT_NE(h.out.find("\n  65  --strict"), std::string::npos) << sub;
  }
  Outcome expandHelp = run({"expand", "--help"});
  for (const char* says : {"\"keywordMap\": [[\"NAME\", \"lName\"]]", "--delimiter", "--escape", "{\"name\": \"Ann\""})
    EXPECT_NE(expandHelp.out.find(says), std::string::npos) << says;
}

TEST_F(Tool, ExpandsWithVariablesMethodsAndKeywordMap) {
  auto t = write("page.txt",
                 "Dear <FIELD>NAME</FIELD>, you are <FIELD>age</FIELD>; next year <FIELD>EVAL=age+1</FIELD>. "
                 "<FIELD>METHOD=$cinst.$sign</FIELD>\n");
  auto d = write("data.json", R"j({
    "variables": {"lName": "Ann", "age": 41},
    "keywordMap": [["NAME", "lName"]],
    "methods": {"wLetter.$sign": ["0", "con('-- ', upp(lName))"]},
    "instance": "wLetter"
  })j");
  for (const char* build : {"unicode", "8bit"}) {
    Outcome r = run({"expand", t.string(), "--data", d.string(), "--build", build});
    EXPECT_EQ(r.status, 0) << build << ": " << r.err;
    EXPECT_EQ(r.out, "Dear Ann, you are 41; next year 42. -- ANN\n") << build;
    EXPECT_EQ(r.err, "") << build;
  }
}

TEST_F(Tool, TemplateFromStandardInputAndOwnTags) {
  auto d = write("data.json", R"j({"variables": {"x": "X"}})j");
  Outcome r = run({"expand", "-", "--data", d.string(), "--tags", "{{", "}}"}, "a{{x}}b<FIELD>x</FIELD>");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "aXb<FIELD>x</FIELD>");
}

TEST_F(Tool, IncludesFilesFromTheFilesDirectory) {
  write("parts/head.txt", "<h1><FIELD>title</FIELD></h1>");
  auto d = write("data.json", R"j({"variables": {"title": "Hello"}})j");
  std::string filesDir = (dir / "parts").string() + "/";
  Outcome r = run({"expand", "-", "--data", d.string(), "--files-dir", filesDir},
              "<FIELD>FILE=head.txt</FIELD>|<FIELD>TAGGEDFILE=head.txt</FIELD>");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "<h1><FIELD>title</FIELD></h1>|<h1>Hello</h1>");
}

TEST_F(Tool, AFailedExpansionWritesNothingAndExplainsOnOneLine) {
  // The euro sign keeps the template in UTF-8 until the plug-in reads it,
  // and the tags are listed from it again.
  Outcome r = run({"expand", "-", "--files-dir", dir.string() + "/"}, "\xE2\x82\xAC <FIELD>FILE=missing.txt</FIELD>");
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.errLines(), 1) << r.err;
  EXPECT_NE(r.err.find("could not be opened: standard input:1:3: FILE=missing.txt: looked for as " + dir.string() +
                       "/missing.txt: No such file or directory"), std::string::npos) << r.err;
  write("inner.txt", "<FIELD> file=gone.txt </FIELD>");
  Outcome inner = run({"expand", "-", "--files-dir", dir.string() + "/"}, "<FIELD>TAGGEDFILE=inner.txt</FIELD>");
  EXPECT_EQ(inner.status, 4);
  // A file named in an included one is placed at the tag that included it.
  EXPECT_NE(inner.err.find(": standard input:1:1: FILE=gone.txt: looked for as " + dir.string() + "/gone.txt"),
            std::string::npos)
      << inner.err;

  Outcome t = run({"expand", "-", "--tags", "", "}}"}, "text");
  EXPECT_EQ(t.status, 3);
  EXPECT_EQ(t.out, "");
  EXPECT_EQ(t.errLines(), 1) << t.err;

  auto d = write("data.json", R"j({"keywordMap": [["K", ""]]})j");
  Outcome k = run({"expand", "-", "--data", d.string()}, "text");
  EXPECT_EQ(k.status, 3);
  EXPECT_EQ(k.out, "");
  EXPECT_NE(k.err.find("MapKeywordsToFields"), std::string::npos) << k.err;

  auto loop = write("loop.json", R"j({"variables": {"self": "<FIELD>TAGGEDFIELD=self</FIELD>"}})j");
  Outcome n = run({"expand", "-", "--data", loop.string()}, "<FIELD>TAGGEDFIELD=self</FIELD>");
  EXPECT_EQ(n.status, 2);
  EXPECT_NE(n.err.find("leads back to itself"), std::string::npos) << n.err;
}

TEST_F(Tool, OutputFile) {
  auto out = dir / "out.txt";
  Outcome r = run({"expand", "-", "-o", out.string()}, "plain <FIELD>EVAL=2*3</FIELD>");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(slurp(out), "plain 6");
  Outcome bad = run({"expand", "-", "-o", (dir / "no/such/dir/out.txt").string()}, "x");
  EXPECT_EQ(bad.status, 73);
  EXPECT_NE(bad.err.find("no/such/dir/out.txt: cannot write the output"), std::string::npos) << bad.err;
  // Through a link, the file it leads to is replaced and the link stays.
  fs::create_symlink(out, dir / "link.txt");
  EXPECT_EQ(run({"expand", "-", "-o", (dir / "link.txt").string()}, "via link").status, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
  EXPECT_EQ(slurp(out), "via link");
  // Names of the process's own descriptors are written as they stand, as a
  // shell writes them: into a pipe, and appended to a file open for appending.
  Outcome piped = shell("\"$MORAVEL\" expand - -o /dev/stdout | cat; exit ${PIPESTATUS[0]}", "to a pipe");
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, "to a pipe");
  write("log.txt", "earlier\n");
  Outcome appended = shell("\"$MORAVEL\" expand - -o /dev/fd/1 >>" + quote((dir / "log.txt").string()), "later");
  EXPECT_EQ(appended.status, 0) << appended.err;
  EXPECT_EQ(slurp(dir / "log.txt"), "earlier\nlater");
  // A loop of links is reported as the system reports it, and left alone.
  fs::create_symlink("lb", dir / "la");
  fs::create_symlink("la", dir / "lb");
  Outcome loop = run({"expand", "-", "-o", (dir / "la").string()}, "x");
  EXPECT_EQ(loop.status, 73);
  EXPECT_NE(loop.err.find("la: cannot write the output: Too many levels of symbolic links"), std::string::npos)
      << loop.err;
  EXPECT_TRUE(fs::is_symlink(dir / "la"));
}

// Where no new file can be made beside the output, or it may not replace
// the output, a file the caller may write is written in place, and only once
// the expansion has succeeded; one it may not write is left alone. The caller
// must not be root, whom no directory or mode refuses: as root, the tool
// runs as user 65534 from a copy that user can reach, with both plug-ins
// beside it.
TEST_F(Tool, AnOutputWrittenInPlaceIsLeftAsItWasByAFailedRun) {
  fs::path locked = dir / "locked";
  fs::create_directories(locked);
  fs::path out = write("locked/out.txt", "old");
  auto t = write("t.txt", "<FIELD>x</FIELD><FIELD>FILE=inc.txt</FIELD>");
  write("inc.txt", "!");
  std::string tool = "\"$MORAVEL\"";
  bool root = geteuid() == 0;
  if (root) {
    fs::path bin = dir / "bin";
    fs::create_directories(bin);
    fs::copy_file(MORAVEL_TOOL, bin / "moravel");
    fs::copy_file(MORAVEL_PLUGIN_8, bin / "libMoravel.so");
    fs::copy_file(MORAVEL_PLUGIN_U, bin / "libMoravelU.so");
    tool = "setpriv --reuid=65534 --regid=65534 --clear-groups " + quote((bin / "moravel").string());
    ASSERT_EQ(chown(out.c_str(), 65534, 65534), 0);
    fs::permissions(dir, fs::perms(0755));
  }
  fs::permissions(locked, fs::perms(0555));
  auto expand = [&](const fs::path& to, const std::string& extra) {
    return shell(tool + " expand " + quote(t.string()) + " -o " + quote(to.string()) + " --files-dir " +
                 quote(dir.string() + "/") + extra);
  };
  Outcome strict = expand(out, " --strict");
  EXPECT_EQ(strict.status, 65) << strict.err;
  EXPECT_EQ(slurp(out), "old");
  fs::rename(dir / "inc.txt", dir / "gone.txt");
  Outcome missing = expand(out, " -D x=X");
  EXPECT_EQ(missing.status, 4) << missing.err;
  EXPECT_EQ(slurp(out), "old");
  fs::rename(dir / "gone.txt", dir / "inc.txt");
  Outcome done = expand(out, " -D x=X");
  EXPECT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(slurp(out), "X!");
  fs::permissions(locked, fs::perms(0755));
  // A file its owner made read-only, in a directory the caller may write, is
  // refused as a shell's > refuses it.
  fs::path mine = write("mine/ro.txt", "kept");
  if (root) {
    ASSERT_EQ(chown(mine.parent_path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(mine.c_str(), 65534, 65534), 0);
  }
  fs::permissions(mine, fs::perms(0444));
  Outcome readOnly = expand(mine, " -D x=Y");
  EXPECT_EQ(readOnly.status, 73) << readOnly.err;
  EXPECT_NE(readOnly.err.find("ro.txt: cannot write the output: Permission denied"), std::string::npos)
      << readOnly.err;
  EXPECT_EQ(slurp(mine), "kept");
  if (!root) return;
  // Another user's writable file in a sticky directory, which only its
  // owner may replace, is written as a shell's > writes it.
  fs::path shared = dir / "shared";
  fs::create_directories(shared);
  fs::permissions(shared, fs::perms(01777));
  fs::path theirs = write("shared/theirs.txt", "theirs");
  ASSERT_EQ(chown(theirs.c_str(), 65533, 65533), 0);
  fs::permissions(theirs, fs::perms(0666));
  Outcome sticky = expand(theirs, " -D x=Z");
  EXPECT_EQ(sticky.status, 0) << sticky.err;
  EXPECT_EQ(slurp(theirs), "Z!");
  EXPECT_EQ(std::distance(fs::directory_iterator(shared), fs::directory_iterator()), 1);
}

TEST_F(Tool, AnOutputThatFailsIsReportedAndLeavesTheOldFile) {
  auto t = write("t.txt", std::string(3000, 'x'));
  Outcome full = shell("\"$MORAVEL\" expand " + quote(t.string()) + " >/dev/full");
  EXPECT_EQ(full.status, 73);
  EXPECT_EQ(full.err, "moravel: standard output: cannot write the output: No space left on device\n");
  Outcome closed = shell("\"$MORAVEL\" expand " + quote(t.string()) + " >&-");
  EXPECT_EQ(closed.status, 73);
  EXPECT_EQ(closed.err, "moravel: standard output: cannot write the output: Bad file descriptor\n");
  for (std::string sub : {"tags " + quote(t.string()), std::string("version"), std::string("--version")}) {
    EXPECT_EQ(shell("\"$MORAVEL\" " + sub + " >/dev/full").status, 73) << sub;
    EXPECT_EQ(shell("\"$MORAVEL\" " + sub + " >&-").status, 73) << sub;
  }
  // A reader that goes away ends the tool quietly, as a shell tool ends,
  // also when SIGPIPE was left ignored.
  auto big = write("big.txt", std::string(1 << 20, 'y'));
  for (std::string pipe : {"", "trap '' PIPE; "}) {
    Outcome p = shell(pipe + "\"$MORAVEL\" expand " + quote(big.string()) + " | head -c 3; exit ${PIPESTATUS[0]}");
    EXPECT_EQ(p.status, 128 + SIGPIPE) << pipe;
    EXPECT_EQ(p.out, "yyy");
    EXPECT_EQ(p.err, "") << pipe;
  }
  // A disk that fills (here the file-size limit): the old file stays, and
  // nothing else is left beside it.
  write("sub/out.txt", "old");
  fs::permissions(dir / "sub/out.txt", fs::perms(0640));
  Outcome limit = shell("ulimit -f 1; \"$MORAVEL\" expand " + quote(t.string()) + " -o " +
                        quote((dir / "sub/out.txt").string()));
  EXPECT_EQ(limit.status, 73);
  EXPECT_NE(limit.err.find("sub/out.txt: cannot write the output: File too large"), std::string::npos) << limit.err;
  EXPECT_EQ(slurp(dir / "sub/out.txt"), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "sub"), fs::directory_iterator()), 1);
  // Nor does a new file appear, whole or in part.
  Outcome fresh = shell("ulimit -f 1; \"$MORAVEL\" expand " + quote(t.string()) + " -o " +
                        quote((dir / "sub/fresh.txt").string()));
  EXPECT_EQ(fresh.status, 73);
  EXPECT_NE(fresh.err.find("sub/fresh.txt: cannot write the output: File too large"), std::string::npos) << fresh.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "sub"), fs::directory_iterator()), 1);
  // Replaced when complete, the file keeps its permissions.
  EXPECT_EQ(run({"expand", t.string(), "-o", (dir / "sub/out.txt").string()}).status, 0);
  EXPECT_EQ(slurp(dir / "sub/out.txt"), std::string(3000, 'x'));
  EXPECT_EQ(fs::status(dir / "sub/out.txt").permissions(), fs::perms(0640));
  // A new file gets what the umask leaves, as a shell's > gives it.
  EXPECT_EQ(shell("umask 027; \"$MORAVEL\" expand " + quote(t.string()) + " -o " +
                  quote((dir / "sub/new.txt").string())).status, 0);
  EXPECT_EQ(fs::status(dir / "sub/new.txt").permissions(), fs::perms(0640));
}

TEST_F(Tool, OutOfMemoryInTheToolIsStatus2) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
#endif
  // A template far larger than the address space allowed: neither mapped
  // nor read (a sparse file, so no disk is used).
  auto t = dir / "huge.txt";
  std::ofstream(t).close();
  fs::resize_file(t, std::uintmax_t{1} << 30);
  Outcome r = shell("ulimit -v 262144; \"$MORAVEL\" expand " + quote(t.string()));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "moravel: out of memory\n");
  // A device that never ends, included by the plug-in, is read until memory runs out.
  Outcome zero = shell("ulimit -v 262144; \"$MORAVEL\" expand -", "<FIELD>FILE=/dev/zero</FIELD>");
  EXPECT_EQ(zero.status, 2);
  EXPECT_EQ(zero.out, "");
}

TEST_F(Tool, Encodings) {
  std::string text = "caf\xC3\xA9 \xE2\x82\xAC";
  EXPECT_EQ(run({"expand", "-", "--utf", "0"}, text).out, text);
  EXPECT_EQ(run({"expand", "-", "--utf", "1"}, text).out, "caf&eacute; &#8364;");
  EXPECT_EQ(run({"expand", "-", "--utf", "2"}, text).out, "caf&#233; &#8364;");
  EXPECT_EQ(run({"expand", "-", "--utf", "3"}, text).out, "caf&#xE9; &#x20AC;");
  // --escape html: each value the host hands out is escaped, the template's
  // own text and included files are not, and a TAGGED value's tags are shown.
  write("inc.html", "<b>&</b>");
  auto d = write("data.json", R"j({"variables": {"v": "O'Brien & <Sons>", "t": "<FIELD>v</FIELD>"},
    "methods": {"$m": "con(v, '\"')"}})j");
  Outcome html = run({"expand", "-", "--data", d.string(), "-D", "w=a<b", "--files-dir", dir.string() + "/",
                      "--escape", "html", "--utf", "1"},
                     "<i>\xC3\xA9</i><FIELD>v</FIELD>|<FIELD>w</FIELD>|<FIELD>METHOD=$m</FIELD>|"
                     "<FIELD>EVAL=con(w, len(v))</FIELD>|<FIELD>TAGGEDFIELD=t</FIELD>|<FIELD>FILE=inc.html</FIELD>");
  EXPECT_EQ(html.status, 0) << html.err;
  EXPECT_EQ(html.out, "<i>&eacute;</i>O&#39;Brien &amp; &lt;Sons&gt;|a&lt;b|O&#39;Brien &amp; &lt;Sons&gt;&quot;|"
                      "a&lt;b16|&lt;FIELD&gt;v&lt;/FIELD&gt;|<b>&</b>");
}

TEST_F(Tool, InvalidUtf8IsKeptAsCharactersOfTheirOwnValue) {
  Outcome r = run({"expand", "-"}, "a\xE9z");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "a\xC3\xA9z");  // the byte 0xE9 became U+00E9
  EXPECT_NE(r.err.find("not UTF-8"), std::string::npos) << r.err;
  // So it does in a template decoded where the plug-in reads it.
  Outcome wide = run({"expand", "-"}, "a\xE9z \xE2\x82\xAC");
  EXPECT_EQ(wide.out, "a\xC3\xA9z \xE2\x82\xAC");
  EXPECT_NE(wide.err.find("not UTF-8"), std::string::npos) << wide.err;
  // The one-byte build takes bytes as they are, both ways.
  std::string bytes = "a\xE9\xFF\x80z";
  Outcome b = run({"expand", "-", "--build", "8bit"}, bytes);
  EXPECT_EQ(b.status, 0);
  EXPECT_EQ(b.out, bytes);
  EXPECT_EQ(b.err, "");
}

TEST_F(Tool, OptionFlagsReachThePlugin) {
  auto d = write("data.json", R"j({"variables": {"v": "[1+2]", "1+1": "field"}})j");
  EXPECT_EQ(run({"expand", "-", "--data", d.string()}, "<FIELD>1+1</FIELD>").out, "field");
  EXPECT_EQ(run({"expand", "-", "--data", d.string(), "--force-eval"}, "<FIELD>1+1</FIELD>").out, "2");
  EXPECT_EQ(run({"expand", "-", "--data", d.string()}, "<FIELD>FIELD=v</FIELD>").out, "[1+2]");
  EXPECT_EQ(run({"expand", "-", "--data", d.string(), "--sense-brackets"}, "<FIELD>FIELD=v</FIELD>").out, "3");
  EXPECT_EQ(run({"expand", "-"}, "<FIELD>EVAL=con('a\nb')</FIELD>").out, "a\nb");
  EXPECT_EQ(run({"expand", "-", "--strip-linebreaks"}, "<FIELD>EVAL=con('a\nb')</FIELD>").out, "ab");
}

TEST_F(Tool, ListsInTheDataFileServeCalculations) {
  auto d = write("data.json", R"j({
    "variables": {"lName": "Ann", "out": ""},
    "lists": {"map": {"columns": ["k", "f"], "rows": [["WHO", "lName"]]}}
  })j");
  Outcome r = run({"expand", "-", "--data", d.string()},
              "<FIELD>EVAL=Moravel.MapKeywordsToFields(map)</FIELD>:<FIELD>who</FIELD>");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0:Ann");
}

TEST_F(Tool, TagsAsJson) {
  Outcome r = run({"tags", "-"}, "x<FIELD>a</FIELD>y<FIELD> FILE=b.html </FIELD><FIELD>caf\xC3\xA9</FIELD><FIELD>open");
  EXPECT_EQ(r.status, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j, nlohmann::json({"a", " FILE=b.html ", "caf\xC3\xA9"}));
  Outcome own = run({"tags", "-", "--tags", "[", "]", "--build", "8bit"}, "[one][two]");
  EXPECT_EQ(own.status, 0) << own.err;
  EXPECT_EQ(own.out, "[\"one\",\"two\"]\n");
  Outcome none = run({"tags", "-"}, "no tags");
  EXPECT_EQ(none.out, "[]\n");
}

TEST_F(Tool, UsageErrorsExit64AndNameWhatFailed) {
  auto t = write("t.txt", "x");
  fs::create_directories(dir / "adir");
  std::string adir = (dir / "adir").string();
  for (const auto& [args, says] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{}, "a subcommand is required"},
           {{"frobnicate"}, "unknown subcommand 'frobnicate'"},
           {{"expand"}, "TEMPLATE"},
           {{"expand", t.string(), "--utf", "4"}, "--utf"},
           {{"expand", t.string(), "--utf", "x"}, "--utf"},
           {{"expand", t.string(), "--build", "16bit"}, "--build"},
           {{"expand", t.string(), "--tags", "only-one"}, "--tags"},
           {{"expand", t.string(), "--no-such-option"}, "--no-such-option"},
           {{"expand", (dir / "missing.txt").string()}, "missing.txt: cannot read the template: No such file"},
           {{"expand", adir}, "adir: cannot read the template: it is a directory"},
           {{"expand", t.string(), "--data", (dir / "missing.json").string()}, "missing.json: cannot read the data"},
           {{"expand", t.string(), "--data", adir}, "adir: cannot read the data file: it is a directory"},
           {{"expand", "-", "--data", "-"}, "cannot both come from standard input"},
           {{"expand", t.string(), "-D", "novalue"}, "-D novalue: expected name=value"},
           {{"expand", t.string(), "--data", "-", "--data", "-"}, "standard input is named twice"},
           {{"expand", t.string(), "--tags", std::string(256, '<'), ">"}, "open tag has 256 characters"},
           {{"tags", t.string(), "--tags", "<", std::string(300, '>')}, "close tag has 300 characters"},
           {{"--version", "expand", t.string()}, "--version takes no subcommand"},
           {{"tags"}, "TEMPLATE"},
       }) {
    Outcome r = run(args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.status, 64) << joined << r.err;
    EXPECT_EQ(r.out, "") << joined;
    EXPECT_NE(r.err.find(says), std::string::npos) << joined << r.err;
  }
}

TEST_F(Tool, BadDataFilesExit64AndSayWhere) {
  auto t = write("t.txt", "x");
  auto bad = write("bad.json", R"j({"variables": {"lName": ["Ann"]}})j");
  Outcome r = run({"expand", t.string(), "--data", bad.string()});
  EXPECT_EQ(r.status, 64);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("bad.json: variables.lName: expected text, a number, true, false or null"), std::string::npos) << r.err;
  auto broken = write("broken.json", "{\"variables\": ");
  Outcome b = run({"expand", t.string(), "--data", broken.string()});
  EXPECT_EQ(b.status, 64);
  EXPECT_NE(b.err.find("broken.json: not valid JSON"), std::string::npos) << b.err;
  auto wide = write("wide.json", R"j({"variables": {"e": "\u20ac"}})j");
  Outcome w = run({"expand", t.string(), "--data", wide.string(), "--build", "8bit"});
  EXPECT_EQ(w.status, 64);
  EXPECT_NE(w.err.find("variables.e"), std::string::npos) << w.err;
  auto huge = write("huge.json", R"j({"variables": {"d": 1e400}})j");
  Outcome h = run({"expand", t.string(), "--data", huge.string()});
  EXPECT_EQ(h.status, 64);
  EXPECT_EQ(h.err, "moravel: " + huge.string() + ": variables.d: number out of range: 1e400\n");
  std::string rows = "[\"K\", \"f\"]";
  for (int i = 1; i < 32768; ++i) rows += ", [\"K\", \"f\"]";
  auto map = write("map.json", "{\"keywordMap\": [" + rows + "]}");
  Outcome m = run({"expand", t.string(), "--data", map.string()});
  EXPECT_EQ(m.status, 64);
  EXPECT_EQ(m.err, "moravel: " + map.string() + ": keywordMap: 32768 rows; the plug-in takes at most 32767\n");
  auto nul = write("nul.json", R"j({"lists": {"l": {"columns": ["a"], "rows": [["x\u0000y"]]}}})j");
  Outcome n = run({"expand", t.string(), "--data", nul.string()});
  EXPECT_EQ(n.status, 64);
  EXPECT_NE(n.err.find("nul.json: lists.l.rows[0][0]: text holds a NUL character"), std::string::npos) << n.err;
}

TEST_F(Tool, DataValuesTakeTheHostsForms) {
  auto d = write("data.json", R"j({"variables": {"yes": true, "no": false, "none": null,
    "big": 12345678901234567890, "neg": -98765432109876543210, "exact": 9007199254740992, "half": 0.5}})j");
  Outcome r = run({"expand", "-", "--data", d.string()},
                  "<FIELD>yes</FIELD>|<FIELD>no</FIELD>|<FIELD>none</FIELD>|<FIELD>big</FIELD>|"
                  "<FIELD>neg</FIELD>|<FIELD>exact</FIELD>|<FIELD>half</FIELD>|<FIELD>EVAL=yes+1</FIELD>");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1|0||12345678901234567890|-98765432109876543210|9007199254740992|0.5|2");
  EXPECT_EQ(r.err, "");
}

TEST_F(Tool, DataFilesMergeInOrderAndDefinesOverrideThem) {
  auto first = write("first.json", R"j({"variables": {"a": "A1", "b": "B1", "l": "was text"},
    "methods": {"$m": "'M1'"}, "keywordMap": [["K", "a"]], "instance": "w1"})j");
  auto second = write("second.json", R"j({"variables": {"b": "B2"}, "lists": {"l": {"columns": ["c"]}},
    "methods": {"$m": "'M2'"}})j");
  std::string templ = "<FIELD>a</FIELD> <FIELD>b</FIELD> <FIELD>K</FIELD> [<FIELD>l</FIELD>] "
                      "<FIELD>METHOD=$m</FIELD> <FIELD>c</FIELD>";
  Outcome r = run({"expand", "-", "--data", first.string(), "-D", "c=C=D", "--data", second.string(), "-D",
                   "a=over"}, templ);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "over B2 over [] M2 C=D");
  // The data from standard input, merged in its place.
  Outcome in = run({"expand", write("t.txt", templ).string(), "--data", second.string(), "--data", "-"},
                   R"j({"variables": {"a": "in", "b": "B3"}})j");
  EXPECT_EQ(in.status, 0) << in.err;
  EXPECT_EQ(in.out, "in B3  [] M2 ");
  // An empty map given later leaves no map.
  auto cleared = write("cleared.json", R"j({"keywordMap": []})j");
  Outcome none = run({"expand", "-", "--data", first.string(), "--data", cleared.string()}, "<FIELD>K</FIELD>");
  EXPECT_EQ(none.status, 0) << none.err;
  EXPECT_EQ(none.out, "");
}

TEST_F(Tool, StrictReportsWhatTheHostCouldNotAnswerOnce) {
  auto d = write("data.json", R"j({"variables": {"q": 2}, "lists": {"l": {"columns": ["c"]}},
    "methods": {"$bad": "upp(nothing)"}})j");
  std::string templ = "<FIELD>q</FIELD><FIELD>who</FIELD><FIELD>EVAL=q*x</FIELD><FIELD>who</FIELD>"
                      "<FIELD>METHOD=$none</FIELD><FIELD>METHOD=$bad</FIELD><FIELD>l</FIELD><FIELD>EVAL=q*x</FIELD>";
  Outcome lax = run({"expand", "-", "--data", d.string()}, templ);
  EXPECT_EQ(lax.status, 0) << lax.err;
  EXPECT_EQ(lax.out, "2");
  auto out = write("out.txt", "old");
  Outcome r = run({"expand", "-", "--data", d.string(), "--strict", "-o", out.string()}, templ);
  EXPECT_EQ(r.status, 65);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(slurp(out), "old");
  EXPECT_EQ(r.err,
            "moravel: standard input:1:17: no value for 'who': no such variable\n"
            "moravel: standard input:1:35: calculation 'q*x' failed: unknown variable x\n"
            "moravel: standard input:1:76: method '$none' failed: no such method\n"
            "moravel: standard input:1:103: method '$bad' failed: upp(nothing): unknown variable nothing\n"
            "moravel: standard input:1:129: no value for 'l': it holds a list, not a value\n"
            "moravel: standard input: --strict: the host could not answer what is listed above; nothing written\n");
  Outcome clean = run({"expand", "-", "--data", d.string(), "--strict"}, "<FIELD>q</FIELD><FIELD>EVAL=q*3</FIELD>");
  EXPECT_EQ(clean.status, 0) << clean.err;
  EXPECT_EQ(clean.out, "26");
}

// check says what --strict finds, each at the line and column of the first
// tag behind it as the plug-in reads tag texts (trimmed, keyword map,
// brackets, $cinst.), and writes nothing; an unclosed tag is a warning.
TEST_F(Tool, CheckNamesTheTagBehindEachFinding) {
  auto d = write("data.json", R"j({"variables": {"ok": 1}, "keywordMap": [["NAME", "lName"]], "instance": "wA"})j");
  std::string templ = "<FIELD>ok</FIELD>\n"
                      "x <field>\n  NAME </field> <FIELD>[ref]</FIELD>\n"
                      "\xC3\xA9 <FIELD>METHOD=$cinst.$m</FIELD> <FIELD>+ok*y</FIELD>\n"
                      "<FIELD>unclosed";
  Outcome r = run({"check", "-", "--data", d.string()}, templ);
  EXPECT_EQ(r.status, 65);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "moravel: standard input:5:1: warning: this tag is not closed; it and the text after it are copied as "
            "they stand\n"
            "moravel: standard input:2:3: no value for 'lName': no such variable\n"
            "moravel: standard input:3:17: no value for 'ref': no such variable\n"
            "moravel: standard input:3:17: no value for '[ref]': no such variable\n"
            "moravel: standard input:4:3: method 'wA.$m' failed: no such method\n"
            "moravel: standard input:4:35: calculation 'ok*y' failed: unknown variable y\n"
            "moravel: standard input: check: the host could not answer what is listed above\n");
  // Only the warning: status 0, and still nothing on standard output.
  Outcome clean = run({"check", "-", "-D", "x=1"}, "<FIELD>x</FIELD>\n <FIELD>y");
  EXPECT_EQ(clean.status, 0) << clean.err;
  EXPECT_EQ(clean.out, "");
  EXPECT_EQ(clean.err, "moravel: standard input:2:2: warning: this tag is not closed; it and the text after it are "
                       "copied as they stand\n");
  // The bundled examples check clean, the merge with its records.
  fs::path ex = fs::path(MORAVEL_SOURCE_DIR) / "examples";
  Outcome letter = run({"check", (ex / "letter/template.html").string(), "--data", (ex / "letter/data.json").string(),
                        "--files-dir", (ex / "letter").string() + "/"});
  EXPECT_EQ(letter.status, 0) << letter.err;
  EXPECT_EQ(letter.out + letter.err, "");
  Outcome merge = run({"check", (ex / "merge/letter.txt").string(), "--each", (ex / "merge/people.csv").string(),
                       "-D", "town=Basel"});
  EXPECT_EQ(merge.status, 65);
  EXPECT_EQ(merge.errLines(), 9) << merge.err;  // each of the four records, then the count
  EXPECT_NE(merge.err.find("people.csv: record 4 (line 5): " + (ex / "merge/letter.txt").string() +
                           ":6:1: no value for 'sender'"),
            std::string::npos)
      << merge.err;
  Outcome merged = run({"check", (ex / "merge/letter.txt").string(), "--each", (ex / "merge/people.csv").string(),
                        "-D", "town=Basel", "-D", "sender=us"});
  EXPECT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(merged.out + merged.err, "");
}

TEST_F(Tool, ATemplateWithANulCharacterIsRefused) {
  Outcome r = run({"expand", "-"}, std::string("a\0b", 3));
  EXPECT_EQ(r.status, 64);
  EXPECT_EQ(r.out, "");
  // Read in pieces, a stream is refused at its first NUL, not read to its end.
  Outcome zero = run({"expand", "/dev/zero"});
  EXPECT_EQ(zero.status, 64);
  EXPECT_EQ(zero.err, "moravel: /dev/zero: the template contains a NUL character (byte 1), which would end it early\n");
  Outcome data = run({"expand", "-", "--data", "/dev/zero"}, "x");
  EXPECT_EQ(data.status, 64);
  EXPECT_NE(data.err.find("/dev/zero: the data file contains a NUL character"), std::string::npos) << data.err;
}

// Calculations that nest too deeply or whose result a double cannot hold
// fail as calculations, and --strict says why; long ones work.
TEST_F(Tool, HostileCalculationsFailAsCalculations) {
  std::string con = "len(con('a'";
  for (int i = 1; i < 2000; ++i) con += ", 'a'";
  nlohmann::json data = {
      {"variables", {{"t", "<FIELD>METHOD=$again</FIELD>"}, {"out", ""}}},
      {"methods",
       {{"$deep", std::string(30000, '(') + "1" + std::string(30000, ')')},
        {"$long", "1" + [] { std::string s; for (int i = 0; i < 30000; ++i) s += "+1"; return s; }()},
        {"$con", con + "))"},
        {"$again", "Moravel.DoSubstitutions(t, out)"}}}};
  auto d = write("data.json", data.dump());
  std::string templ = "<FIELD>METHOD=$deep</FIELD>|<FIELD>METHOD=$long</FIELD>|<FIELD>METHOD=$con</FIELD>|"
                      "<FIELD>EVAL=1e400</FIELD>|<FIELD>EVAL=1e308*10-1e308*10</FIELD>|<FIELD>EVAL=1e-400</FIELD>|"
                      "<FIELD>METHOD=$again</FIELD>";
  Outcome lax = run({"expand", "-", "--data", d.string()}, templ);
  EXPECT_EQ(lax.status, 0) << lax.err;
  // A failed calculation or method gives what #S1 held before: here the
  // count of the last that succeeded. The nested calls end in failure
  // inside, and the outermost call succeeds with nothing to add.
  EXPECT_EQ(lax.out, "|30001|2000|2000|2000|2000|0");
  Outcome strict = run({"expand", "-", "--data", d.string(), "--strict"}, templ);
  EXPECT_EQ(strict.status, 65);
  for (const char* why : {"nested more than 100 levels deep", "calculation '1e400' failed: number out of range",
                          "calculation '1e308*10-1e308*10' failed: the result is out of range",
                          "calculation '1e-400' failed: number out of range", "plug-in calls nested more than 16 deep"})
    EXPECT_NE(strict.err.find(why), std::string::npos) << why << "\n" << strict.err;
}

// Variables are many only in number: well past the host's 16-bit field
// numbers, each is read by its name.
TEST_F(Tool, ManyVariablesLoadAndExpand) {
  nlohmann::json vars;
  for (int i = 0; i < 40000; ++i) vars["v" + std::to_string(i)] = i;
  auto d = write("data.json", nlohmann::json({{"variables", vars}}).dump());
  Outcome r = run({"expand", "-", "--data", d.string()}, "<FIELD>v0</FIELD>|<FIELD>v39999</FIELD>|<FIELD>EVAL=v7*2</FIELD>");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0|39999|14");
}

// A large template is mapped; shortened while the tool holds it, it ends
// the tool with a message rather than a crash. The file is cut once the
// tool has mapped it, while it reads the template or waits for its data.
TEST_F(Tool, ATemplateShortenedWhileMappedEndsWithAMessage) {
  auto t = write("large.txt", std::string(4 << 20, 'z') + "<FIELD>v</FIELD>");
  int toTool[2];
  ASSERT_EQ(pipe(toTool), 0);
  std::string err = (dir / "err.txt").string();
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(toTool[0], STDIN_FILENO);
    close(toTool[1]);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int null = open("/dev/null", O_WRONLY);
    dup2(e, STDERR_FILENO);
    dup2(null, STDOUT_FILENO);
    execl(MORAVEL_TOOL, "moravel", "expand", t.c_str(), "--data", "-", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(toTool[0]);
  bool mapped = false;
  for (int i = 0; i < 1000 && !mapped; ++i) {
    mapped = slurp("/proc/" + std::to_string(pid) + "/maps").find(t.string()) != std::string::npos;
    if (!mapped) usleep(10000);
  }
  EXPECT_TRUE(mapped);
  fs::resize_file(t, 0);
  // The tool may meet the cut while it still reads the template, before it
  // reads its data; it has then ended and the pipe has no reader.
  auto previous = signal(SIGPIPE, SIG_IGN);
  ssize_t wrote = ::write(toTool[1], "{}", 2);
  int writeError = errno;
  signal(SIGPIPE, previous);
  EXPECT_TRUE(wrote == 2 || (wrote < 0 && writeError == EPIPE)) << "write: " << std::strerror(writeError);
  close(toTool[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 64);
  EXPECT_EQ(slurp(err), "moravel: " + t.string() + ": cannot read the template: the file was shortened while it was read\n");
}

TEST_F(Tool, PluginLocation) {
  Outcome r = run({"version", "--plugin", (dir / "nothing.so").string()});
  EXPECT_EQ(r.status, 69);
  EXPECT_NE(r.err.find("nothing.so"), std::string::npos);
  // A library named without --build is used as the build it is; one of the
  // other build than --build asks for is refused by name.
  Outcome own = run({"expand", "-", "--plugin", MORAVEL_PLUGIN_8}, "\xE9<FIELD>EVAL=1+1</FIELD>");
  EXPECT_EQ(own.status, 0) << own.err;
  EXPECT_EQ(own.out, "\xE9" "2");
  for (const char* sub : {"expand", "tags", "version"}) {
    std::vector<std::string> args = {sub, "--plugin", MORAVEL_PLUGIN_8, "--build", "unicode"};
    if (sub != std::string("version")) args.insert(args.begin() + 1, "-");
    Outcome m = run(args, "x");
    EXPECT_EQ(m.status, 69) << sub;
    EXPECT_EQ(m.err, std::string("moravel: ") + MORAVEL_PLUGIN_8 +
                         " is the 8-bit build of the plug-in, not the Unicode build that --build asks for\n")
        << sub;
  }
  // A copy of the tool with no plug-in beside it and a plug-in directory
  // that holds only the 8-bit build: the Unicode build is still found where
  // the build put it, the 8-bit one is taken from the directory.
  fs::path lonely = dir / "bin";
  fs::create_directories(lonely);
  fs::copy_file(MORAVEL_TOOL, lonely / "moravel");
  fs::path pluginDir = dir / "plugins";
  fs::create_directories(pluginDir);
  fs::copy_file(MORAVEL_PLUGIN_8, pluginDir / "libMoravel.so");
  std::string cmd = "MORAVEL_PLUGIN_DIR=" + quote(pluginDir.string()) + " " + quote((lonely / "moravel").string()) +
                    " version --build 8bit >" + quote((dir / "o.txt").string()) + " 2>&1";
  EXPECT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 0) << slurp(dir / "o.txt");
  EXPECT_EQ(slurp(dir / "o.txt"), MORAVEL_PROJECT_VERSION "\n");
}

}  // namespace

namespace {

TEST_F(Tool, TheLetterExampleGivesItsExpectedOutput) {
  fs::path ex = fs::path(MORAVEL_SOURCE_DIR) / "examples" / "letter";
  Outcome r = run({"expand", (ex / "template.html").string(), "--data", (ex / "data.json").string(),
                   "--files-dir", ex.string() + "/", "--utf", "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, slurp(ex / "expected.html"));
  Outcome tags = run({"tags", (ex / "template.html").string()});
  EXPECT_EQ(tags.status, 0) << tags.err;
  EXPECT_EQ(nlohmann::json::parse(tags.out).size(), 9u);
  fs::path merge = fs::path(MORAVEL_SOURCE_DIR) / "examples" / "merge";
  Outcome letters = run({"expand", (merge / "letter.txt").string(), "--each", (merge / "people.csv").string(), "-D",
                         "town=Basel", "-D", "sender=The Moravel shop", "--separator", "\\f"});
  EXPECT_EQ(letters.status, 0) << letters.err;
  EXPECT_EQ(letters.out, slurp(merge / "expected.txt"));
  // The README's merge example, as written, from a fresh directory.
  Outcome readme = shell("cd " + quote(dir.string()) + " && \"$MORAVEL\" expand " +
                         quote((merge / "letter.txt").string()) + " --each " + quote((merge / "people.csv").string()) +
                         " -o 'out/{n:03}-{last}.txt'");
  EXPECT_EQ(readme.status, 0) << readme.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 4);
  // The demo builds what ships.
  auto presets = nlohmann::json::parse(slurp(fs::path(MORAVEL_SOURCE_DIR) / "CMakePresets.json"));
  for (const auto& p : presets["configurePresets"])
    if (p["name"] == "demo") {
      EXPECT_EQ(p["cacheVariables"]["CMAKE_BUILD_TYPE"], "Release");
    }
}

}  // namespace

namespace {

// Mail merge: one template, a record at a time, each record's variables over
// the common data and gone before the next.
TEST_F(Tool, MergeCsvRecordsToStandardOutput) {
  auto t = write("letter.txt", "<FIELD>name</FIELD> of <FIELD>city</FIELD>, <FIELD>greet</FIELD>.");
  auto csv = write("people.csv", "name,city\r\nAnn,\"Z\xC3\xBCrich, CH\"\r\n\"Bo \"\"B\"\"\",\"two\nlines\"\r\n");
  Outcome r = run({"expand", t.string(), "--each", csv.string(), "-D", "greet=hi", "-D", "city=none",
                   "--separator", "\\n--\\n"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Ann of Z\xC3\xBCrich, CH, hi.\n--\nBo \"B\" of two\nlines, hi.");
  EXPECT_EQ(r.err, "");
  // A name a record defines is gone before the next, or holds the common value again.
  // A name given twice in a record holds its later value, then the common one again.
  auto jsonl = write("people.jsonl", "{\"variables\": {\"name\": \"Ann\", \"greet\": \"yo\"}}\n\n"
                                     "{\"variables\": {\"name\": \"Bob\"}}\n"
                                     "{\"name\": \"Cy\", \"city\": \"A\", \"city\": \"B\"}\n{\"name\": \"Di\"}\n");
  Outcome j = run({"expand", t.string(), "--each", jsonl.string(), "-D", "city=X", "--separator", "|"});
  EXPECT_EQ(j.status, 0) << j.err;
  EXPECT_EQ(j.out, "Ann of X, yo.|Bob of X, .|Cy of B, .|Di of X, .");
}

// Records as spreadsheets and databases write them: a byte-order mark,
// fields separated by ';' or tabs, and JSON Lines of flat objects beside
// those of the data file's shape.
TEST_F(Tool, MergeReadsRecordsAsSpreadsheetsAndDatabasesWriteThem) {
  auto t = write("letter.txt", "Dear <FIELD>name</FIELD> of <FIELD>city</FIELD>.");
  auto merge = [&](const fs::path& records, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"expand", t.string(), "--each", records.string(), "--separator", "|"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args);
  };
  Outcome bom = merge(write("bom.csv", "\xEF\xBB\xBFname,city\r\nAnn,Paris\r\n"));
  EXPECT_EQ(bom.status, 0) << bom.err;
  EXPECT_EQ(bom.out, "Dear Ann of Paris.");
  Outcome semi = merge(write("semi.csv", "name;city\nAnn;\"Paris; FR\"\n"), {"--delimiter", ";"});
  EXPECT_EQ(semi.status, 0) << semi.err;
  EXPECT_EQ(semi.out, "Dear Ann of Paris; FR.");
  Outcome tabs = merge(write("tabs.tsv", "name\tcity\nAnn\tParis\nBo\tRome\n"));
  EXPECT_EQ(tabs.status, 0) << tabs.err;
  EXPECT_EQ(tabs.out, "Dear Ann of Paris.|Dear Bo of Rome.");
  Outcome flat = merge(write("flat.jsonl", "{\"name\": \"Ann\", \"city\": \"Paris\"}\n"
                                           "{\"variables\": {\"name\": \"Bo\"}, \"lists\": {}}\n"
                                           "{\"name\": \"Cy\", \"variables\": 2, \"city\": null}\n"));
  EXPECT_EQ(flat.status, 0) << flat.err;
  EXPECT_EQ(flat.out, "Dear Ann of Paris.|Dear Bo of .|Dear Cy of .");
  // A quote inside a field that does not begin with one is a character of it.
  Outcome quotes = merge(write("quotes.csv", "name,city\n12\" pizza,5'11\"\n\"a \"\"b\"\"\",37\xC2\xB0\x33\x36'37.8\"N\n"));
  EXPECT_EQ(quotes.status, 0) << quotes.err;
  EXPECT_EQ(quotes.out, "Dear 12\" pizza of 5'11\".|Dear a \"b\" of 37\xC2\xB0\x33\x36'37.8\"N.");
}

// JSON Lines end where the input ends, however the last line ends: the
// output is cut short by head, so a run that repeats a record cannot go on.
TEST_F(Tool, MergeReadsJsonLinesToTheirEndHoweverTheLastLineEnds) {
  auto t = write("t.txt", "<FIELD>name</FIELD>");
  for (const auto& [records, expected] : std::vector<std::pair<std::string, std::string>>{
           {"{\"name\":\"A\"}\n{\"name\":\"B\"}", "A|B"},
           {"{\"name\":\"A\"}\n{\"name\":\"B\"}\n", "A|B"},
           {"{\"name\":\"A\"}\r\n{\"name\":\"B\"}", "A|B"},
           {"{\"name\":\"A\"}\r\n{\"name\":\"B\"}\r\n", "A|B"},
           {"{\"name\":\"A\"}\n{\"name\":\"B\"}\n\n \r\n\t\n", "A|B"},
           {"{\"name\":\"A\"}\n{\"name\":\"B\"}\n\n  ", "A|B"},
           {"{\"name\":\"A\"}", "A"},
       }) {
    SCOPED_TRACE(records);
    auto file = write("r.jsonl", records);
    std::string merge = "set -o pipefail; \"$MORAVEL\" expand " + quote(t.string()) + " --separator '|' --each ";
    Outcome f = shell(merge + quote(file.string()) + " | head -c 100");
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_EQ(f.out, expected);
    Outcome in = shell(merge + "- --each-format jsonl | head -c 100", records);
    EXPECT_EQ(in.status, 0) << in.err;
    EXPECT_EQ(in.out, expected);
  }
}

// A JSON Lines line longer than the limit is refused before the rest is
// read: an endless one ends the run at once, under a bounded address space.
TEST_F(Tool, MergeRefusesAJsonLinesLineTooLongBeforeReadingItWhole) {
  auto t = write("t.txt", "<FIELD>name</FIELD>");
  std::string merge = "timeout 60 \"$MORAVEL\" expand " + quote(t.string()) + " --each-format jsonl --each ";
  std::string bounded = "ulimit -v 1500000; ";
  // AddressSanitizer reserves more address space than such a limit: the time
  // bound alone serves there.
#if defined(__SANITIZE_ADDRESS__)
  bounded.clear();
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  bounded.clear();
#endif
#endif
  Outcome zeros = shell(bounded + merge + "/dev/zero");
  EXPECT_EQ(zeros.status, 64) << zeros.err;
  EXPECT_NE(zeros.err.find("/dev/zero: record 1 (line 1): a NUL character"), std::string::npos) << zeros.err;
  Outcome endless = shell(bounded + "tr '\\0' x </dev/zero | " + merge + "-");
  EXPECT_EQ(endless.status, 64) << endless.err;
  EXPECT_NE(endless.err.find("standard input: record 1 (line 1): a line longer than 64 MiB"), std::string::npos)
      << endless.err;
  Outcome later = shell(bounded + "(printf '{\"name\":\"A\"}\\n\\n'; tr '\\0' ' ' </dev/zero) | " + merge + "-");
  EXPECT_EQ(later.status, 64) << later.err;
  EXPECT_EQ(later.out, "A");
  EXPECT_NE(later.err.find("standard input: record 2 (line 3): a line longer than 64 MiB"), std::string::npos)
      << later.err;
  // The same for a CSV row, here a quoted field that never closes.
  Outcome row = shell(bounded + "(printf 'name\\nAnn\\n\"'; tr '\\0' x </dev/zero) | timeout 60 \"$MORAVEL\" expand " +
                      quote(t.string()) + " --each-format csv --each -");
  EXPECT_EQ(row.status, 64) << row.err;
  EXPECT_EQ(row.out, "Ann");
  EXPECT_NE(row.err.find("standard input: record 2 (line 3): a row longer than 64 MiB"), std::string::npos) << row.err;
}

// Records whose names the template cannot read are refused before anything
// is written, not expanded with every field empty.
TEST_F(Tool, MergeRefusesAHeaderItCannotRead) {
  auto t = write("letter.txt", "Dear <FIELD>name</FIELD> of <FIELD>city</FIELD>.");
  for (const auto& [csv, says] : std::vector<std::pair<std::string, std::string>>{
           {"name,name\nAnn,Bo\n", "twice.csv: line 1: the header names the column 'name' twice"},
           {"name;city\nAnn;Paris\n", "twice.csv: line 1: the header did not split at ',': it is one column, "
                                      "'name;city'"},
           {"Name,Town\nAnn,Paris\n", "twice.csv: record 1 (line 2): the template reads none of the header's "
                                      "names ('Name', 'Town'), and 'name', 'city' have no value"},
       }) {
    Outcome r = run({"expand", t.string(), "--each", write("twice.csv", csv).string()});
    EXPECT_EQ(r.status, 64) << csv;
    EXPECT_EQ(r.out, "") << csv;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
  }
}

TEST_F(Tool, MergeWritesAFileForEachRecord) {
  auto t = write("letter.txt", "Dear <FIELD>name</FIELD>");
  auto records = write("people.jsonl", "{\"variables\": {\"name\": \"Ann\"}}\n{\"variables\": {\"name\": \"Bob\"}}\n");
  // The directories the pattern names are made; one a value names is not.
  Outcome r = run({"expand", t.string(), "--each", records.string(), "-o", (dir / "out/a/{n:03}-{name}.txt").string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(slurp(dir / "out/a/001-Ann.txt"), "Dear Ann");
  EXPECT_EQ(slurp(dir / "out/a/002-Bob.txt"), "Dear Bob");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out/a"), fs::directory_iterator()), 2);
  Outcome byValue = run({"expand", t.string(), "--each", records.string(), "-o", (dir / "by/{name}/x.txt").string()});
  EXPECT_EQ(byValue.status, 73);
  EXPECT_NE(byValue.err.find("by/Ann/x.txt: cannot write the output: No such file or directory"), std::string::npos)
      << byValue.err;
  EXPECT_TRUE(fs::is_directory(dir / "by"));
  EXPECT_FALSE(fs::exists(dir / "by/Ann"));
}

TEST_F(Tool, MergeRefusesNamesThatLeaveThePatternsDirectoryOrRepeat) {
  auto t = write("letter.txt", "x");
  fs::create_directories(dir / "out");
  std::string pattern = (dir / "out/{city}.txt").string();
  auto escape = write("escape.csv", "city\nok\n../up\n");
  Outcome e = run({"expand", t.string(), "--each", escape.string(), "-o", pattern});
  EXPECT_EQ(e.status, 64);
  EXPECT_NE(e.err.find("escape.csv: record 2 (line 3): {city} gives '../up', which would lead out"), std::string::npos)
      << e.err;
  EXPECT_TRUE(fs::exists(dir / "out/ok.txt"));
  EXPECT_FALSE(fs::exists(dir / "up.txt"));
  auto twice = write("twice.csv", "city\na\nb\na\n");
  Outcome d = run({"expand", t.string(), "--each", twice.string(), "-o", pattern});
  EXPECT_EQ(d.status, 64);
  EXPECT_NE(d.err.find("twice.csv: record 3 (line 4): " + (dir / "out/a.txt").string() + " is named by an earlier record"),
            std::string::npos) << d.err;
  Outcome bad = run({"expand", t.string(), "--each", twice.string(), "-o", (dir / "{n:x}").string()});
  EXPECT_EQ(bad.status, 64);
  auto empty = write("empty.csv", "city\nok2\n\"\"\n");
  Outcome e2 = run({"expand", t.string(), "--each", empty.string(), "-o", (dir / "out/{city}").string()});
  EXPECT_EQ(e2.status, 64);
  EXPECT_NE(e2.err.find("empty.csv: record 2 (line 3): gives an empty file name ('" + (dir / "out/").string() + "')"), std::string::npos) << e2.err;
  // A value that is neither "." nor ".." may make one with the pattern's text.
  auto dots = write("dots.csv", "city\n\"\"\n");
  Outcome up = run({"expand", t.string(), "--each", dots.string(), "-o", (dir / "out/.{city}./x.txt").string()});
  EXPECT_EQ(up.status, 64);
  EXPECT_NE(up.err.find("dots.csv: record 1 (line 2): {city} gives '', which makes '" + (dir / "out/../x.txt").string() +
                        "' lead out of the pattern's directory"), std::string::npos) << up.err;
  EXPECT_FALSE(fs::exists(dir / "x.txt"));
}

// A bad line or a failing record stops the run with its status and names it;
// --keep-going goes on, exits with the first failure's status and counts.
TEST_F(Tool, MergeStopsAtTheFirstFailureUnlessToldToGoOn) {
  auto t = write("t.txt", "[<FIELD>TAGGEDFIELD=part</FIELD>]");
  auto broken = write("broken.csv", "part\nfine\n\"open\nstill\n");
  Outcome b = run({"expand", t.string(), "--each", broken.string()});
  EXPECT_EQ(b.status, 64);
  EXPECT_EQ(b.out, "[fine]");
  EXPECT_NE(b.err.find("broken.csv: record 2 (line 3): a quoted field is not closed"), std::string::npos) << b.err;
  auto failing = write("failing.csv", "part\none\n<FIELD>FILE=missing.txt</FIELD>\nthree\n");
  fs::create_directories(dir / "out");
  std::vector<std::string> args = {"expand", t.string(), "--each", failing.string(), "--files-dir", dir.string() + "/",
                                   "-o", (dir / "out/{n}.txt").string()};
  Outcome f = run(args);
  EXPECT_EQ(f.status, 4);
  EXPECT_NE(f.err.find("failing.csv: record 2 (line 3): DoSubstitutions failed with result 4"), std::string::npos) << f.err;
  EXPECT_EQ(slurp(dir / "out/1.txt"), "[one]");
  EXPECT_FALSE(fs::exists(dir / "out/3.txt"));
  args.push_back("--keep-going");
  Outcome k = run(args);
  EXPECT_EQ(k.status, 4);
  EXPECT_EQ(slurp(dir / "out/3.txt"), "[three]");
  EXPECT_EQ(k.err.substr(k.err.rfind("moravel:")), "moravel: 2 records expanded, 1 failed\n");
}

// Records of many shapes for the merges in worker processes: flat, of the
// data file's shape with a list, numbers, characters beyond Latin-1 and the
// one-byte range, each numbered.
std::string manyRecords(int count, bool wide = false) {
  std::string out;
  for (int i = 1; i <= count; ++i) {
    std::string n = std::to_string(i);
    if (i % 7 == 0)
      out += "{\"variables\": {\"name\": \"Zoë " + n + "\", \"qty\": " + n +
             ".5}, \"lists\": {\"items\": {\"columns\": [\"a\"], \"rows\": [[\"x" + n + "\"], [2]]}}}\n";
    else if (i % 5 == 0)
      out += "{\"name\": \"Bj\\u00f6rn " + n + "\", \"qty\": -" + n + ", \"city\": \"" + (wide ? "\\u4e2d" : "\\u00e9") + "\"}\n";
    else
      out += "{\"name\": \"Ann " + n + "\", \"qty\": " + n + "}\n";
  }
  return out;
}

// Worker processes give what one process gives: standard output's bytes,
// letters in record order with the separator between them, and the same
// files; in both builds, with --records keeping the file's numbers.
TEST_F(Tool, MergeInWorkersWritesWhatOneProcessWrites) {
  auto t = write("t.txt", "<FIELD>name</FIELD>/<FIELD>qty</FIELD>/<FIELD>city</FIELD>/<FIELD>items</FIELD>\n");
  auto records = write("r.jsonl", manyRecords(600, true));
  auto narrow = write("narrow.jsonl", manyRecords(600));
  for (std::string build : {"unicode", "8bit"}) {
    std::vector<std::string> args = {"expand", t.string(), "--each", (build == "8bit" ? narrow : records).string(), "--build", build,
                                     "--separator", "--\\n"};
    Outcome one = run(args);
    ASSERT_EQ(one.status, 0) << one.err;
    args.insert(args.end(), {"--jobs", "3"});
    Outcome three = run(args);
    EXPECT_EQ(three.status, 0) << three.err;
    EXPECT_EQ(three.out, one.out) << build;
    EXPECT_NE(one.out.find("Ann 599/599//\n--\n"), std::string::npos);
  }
  Outcome range = run({"expand", t.string(), "--each", records.string(), "--records", "24-26", "-j", "2", "-o",
                       (dir / "part/{n}.txt").string()});
  EXPECT_EQ(range.status, 0) << range.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "part"), fs::directory_iterator()), 3);
  EXPECT_EQ(slurp(dir / "part/25.txt"), "Björn 25/-25/中/\n");
  for (std::string jobs : {"1", "2"}) {
    Outcome r = run({"expand", t.string(), "--each", records.string(), "-j", jobs, "-o",
                     (dir / ("files" + jobs) / "{n:04}.txt").string()});
    EXPECT_EQ(r.status, 0) << r.err;
  }
  std::vector<fs::path> names;
  for (const auto& e : fs::directory_iterator(dir / "files1")) names.push_back(e.path().filename());
  EXPECT_EQ(names.size(), 600u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "files2"), fs::directory_iterator()), 600);
  for (const auto& name : names) EXPECT_EQ(slurp(dir / "files2" / name), slurp(dir / "files1" / name)) << name;
}

// A range outside the file, empty or reaching past its end, is no error; a malformed one is refused.
TEST_F(Tool, MergeRangesOfRecords) {
  auto t = write("t.txt", "<FIELD>name</FIELD>,");
  auto records = write("r.jsonl", manyRecords(4));
  EXPECT_EQ(run({"expand", t.string(), "--each", records.string(), "--records", "3-"}).out, "Ann 3,Ann 4,");
  EXPECT_EQ(run({"expand", t.string(), "--each", records.string(), "--records", "4-9"}).out, "Ann 4,");
  for (std::string range : {"5-4", "9-20", "3-2"}) {
    Outcome r = run({"expand", t.string(), "--each", records.string(), "--records", range});
    EXPECT_EQ(r.status, 0) << range << r.err;
    EXPECT_EQ(r.out, "") << range;
  }
  for (std::string range : {"0-3", "3", "-3", "2-x", "5-3", "1--2"}) {
    Outcome r = run({"expand", t.string(), "--each", records.string(), "--records", range});
    EXPECT_EQ(r.status, 64) << range;
    EXPECT_NE(r.err.find("--records"), std::string::npos) << r.err;
  }
  EXPECT_EQ(run({"expand", t.string(), "--records", "1-2"}).status, 64);
}

// With workers a run fails as one process fails: the first failing record
// in record order gives the status and message, every record before it is
// written and no later one; --keep-going gives the same counts.
TEST_F(Tool, MergeInWorkersFailsAsOneProcessFails) {
  auto t = write("t.txt", "[<FIELD>TAGGEDFIELD=part</FIELD>]");
  std::string csv = "part\n";
  for (int i = 1; i <= 300; ++i)
    csv += (i == 150 || i == 220 ? std::string("<FIELD>FILE=missing.txt</FIELD>") : std::to_string(i)) + "\n";
  auto failing = write("failing.csv", csv);
  for (bool keepGoing : {false, true}) {
    std::vector<Outcome> outcomes;
    for (std::string jobs : {"1", "2"}) {
      std::string out = (dir / ("out" + jobs + (keepGoing ? "k" : ""))).string();
      std::vector<std::string> args = {"expand", t.string(), "--each", failing.string(), "--files-dir",
                                       dir.string() + "/", "-j", jobs, "-o", out + "/{n}.txt"};
      if (keepGoing) args.push_back("--keep-going");
      outcomes.push_back(run(args));
      std::vector<std::string> names;
      for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename().string());
      EXPECT_EQ(names.size(), keepGoing ? 298u : 149u) << jobs;  // no file of a later record, no temporary file
      EXPECT_EQ(slurp(out + "/149.txt"), "[149]");
      outcomes.push_back(run({"expand", t.string(), "--each", failing.string(), "--files-dir", dir.string() + "/",
                              "-j", jobs, keepGoing ? "--keep-going" : "-q"}));
    }
    for (const Outcome& o : outcomes) EXPECT_EQ(o.status, 4) << o.err;
    EXPECT_EQ(outcomes[2].err, outcomes[0].err);
    EXPECT_EQ(outcomes[3].out, outcomes[1].out);
    EXPECT_EQ(outcomes[3].err, outcomes[1].err);
    EXPECT_EQ(outcomes[1].out.substr(outcomes[1].out.size() - 10), keepGoing ? "[299][300]" : "[148][149]");
  }
  auto broken = write("broken.csv", csv.substr(0, csv.find("\n200\n")) + "\n\"open\n" + csv.substr(csv.find("\n210\n") + 1));
  Outcome one = run({"expand", t.string(), "--each", broken.string(), "--files-dir", dir.string() + "/", "--keep-going"});
  Outcome two = run({"expand", t.string(), "--each", broken.string(), "--files-dir", dir.string() + "/", "--keep-going",
                     "-j", "2"});
  EXPECT_EQ(two.status, one.status);
  EXPECT_EQ(two.out, one.out);
  EXPECT_EQ(two.err, one.err);
  EXPECT_NE(one.err.find("198 records expanded, 2 failed"), std::string::npos) << one.err;
  auto twice = write("twice.csv", "part\na\nb\nc\nd\ne\nb\nf\n");
  Outcome d = run({"expand", t.string(), "--each", twice.string(), "-j", "2", "-o", (dir / "by/{part}.txt").string()});
  EXPECT_EQ(d.status, 64);
  EXPECT_NE(d.err.find("twice.csv: record 6 (line 7): "), std::string::npos) << d.err;
  EXPECT_EQ(slurp(dir / "by/b.txt"), "[b]");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "by"), fs::directory_iterator()), 5);
}

// Records of about a kilobyte each, for a letter of about a kilobyte.
std::string largeRecords(int count) {
  std::string out, pad(1000, 'x');
  for (int i = 1; i <= count; ++i) out += "{\"name\": \"Ann " + std::to_string(i) + "\", \"pad\": \"" + pad + "\"}\n";
  return out;
}

// The shell lines that wait until the tool ($pid) has both its workers, and
// put their process numbers in $workers.
const char* kAwaitWorkers =
    "for i in $(seq 200); do workers=$(cat /proc/$pid/task/$pid/children 2>/dev/null); "
    "[ $(echo $workers | wc -w) -ge 2 ] && break; sleep 0.05; done; ";

// A worker that dies fails the run naming the records it held; the output
// holds the records before them, in order, with no gap. The worker is
// stopped first, so that it holds records when it is killed.
TEST_F(Tool, MergeInWorkersStopsWhenAWorkerDies) {
  auto t = write("t.txt", std::string(1000, '.') + "<FIELD>name</FIELD>\n");
  auto records = write("big.jsonl", largeRecords(3000));
  Outcome whole = run({"expand", t.string(), "--each", records.string()});
  ASSERT_EQ(whole.status, 0);
  std::string d = quote(dir.string());
  Outcome r = shell("\"$MORAVEL\" expand " + quote(t.string()) + " --each " + quote(records.string()) +
                    " -j 2 >" + d + "/out 2>" + d + "/err & pid=$!; " + kAwaitWorkers +
                    "kill -STOP ${workers%% *}; sleep 0.3; kill -KILL ${workers%% *}; wait $pid; echo $?");
  EXPECT_EQ(r.out, "70\n") << slurp(dir / "err");
  std::string err = slurp(dir / "err");
  EXPECT_NE(err.find("a worker process ("), std::string::npos) << err;
  EXPECT_NE(err.find(") was ended by signal 9 (Killed) while it held record"), std::string::npos) << err;
  std::string out = slurp(dir / "out");
  EXPECT_LT(out.size(), whole.out.size());
  EXPECT_EQ(out, whole.out.substr(0, out.size()));
  EXPECT_TRUE(out.empty() || out.back() == '\n');
}

// SIGTERM to the tool and its workers, as a terminal's interrupt reaches
// them all, leaves only whole files: no temporary file, no file of a record
// half written; and no worker runs on.
TEST_F(Tool, MergeInWorkersEndsCleanlyBySignal) {
  auto t = write("t.txt", std::string(1000, '.') + "<FIELD>name</FIELD>\n");
  auto records = write("big.jsonl", largeRecords(20000));
  std::string d = quote(dir.string());
  Outcome r = shell("setsid \"$MORAVEL\" expand " + quote(t.string()) + " --each " + quote(records.string()) +
                    " -j 2 -o " + d + "/files/{n}.txt & pid=$!; " + kAwaitWorkers +
                    "until [ $(ls " + d + "/files 2>/dev/null | wc -l) -ge 100 ]; do sleep 0.05; done; " +
                    "kill -TERM -- -$pid; wait $pid; echo $?; sleep 0.5; for w in $workers; do "
                    "s=$(grep State: /proc/$w/status 2>/dev/null); case \"$s\" in \"\"|*zombie*) ;; "
                    "*) echo left $w $s;; esac; done");
  EXPECT_EQ(r.out, "143\n") << r.err;
  long count = 0;
  for (const auto& e : fs::directory_iterator(dir / "files")) {
    std::string name = e.path().filename().string();
    ASSERT_NE(name[0], '.') << name;
    EXPECT_EQ(slurp(e.path()), std::string(1000, '.') + "Ann " + name.substr(0, name.size() - 4) + "\n");
    ++count;
  }
  EXPECT_GE(count, 100);
  EXPECT_LT(count, 20000);
}

// Workers hold a few records each: while standard output stands still, the
// tool reads no further into the records than those few.
TEST_F(Tool, MergeInWorkersReadsNoFurtherThanTheyHold) {
  auto t = write("t.txt", std::string(1000, '.') + "<FIELD>name</FIELD>\n");
  auto records = write("big.jsonl", largeRecords(20000));  // about 20 MB
  std::string d = quote(dir.string());
  Outcome r = shell("mkfifo " + d + "/o; exec 3<>" + d + "/o; \"$MORAVEL\" expand " + quote(t.string()) +
                    " --each " + quote(records.string()) + " -j 2 >" + d + "/o & pid=$!; " + kAwaitWorkers +
                    "sleep 2; for f in /proc/$pid/fd/*; do [ \"$(readlink $f)\" = " + quote(records.string()) +
                    " ] && grep pos: /proc/$pid/fdinfo/${f##*/}; done; kill $pid; wait $pid");
  ASSERT_EQ(r.out.rfind("pos:", 0), 0u) << r.out << r.err;
  EXPECT_LT(std::stol(r.out.substr(4)), 3000000) << r.out;
}

// An output that fails stops the workers and the run as in one process.
TEST_F(Tool, MergeInWorkersStopsAtAFailedOutput) {
  auto t = write("t.txt", "<FIELD>name</FIELD>\n");
  auto records = write("r.jsonl", manyRecords(5000));
  for (std::string jobs : {"1", "2"}) {
    Outcome r = shell("\"$MORAVEL\" expand " + quote(t.string()) + " --each " + quote(records.string()) + " -j " +
                      jobs + " >/dev/full");
    EXPECT_EQ(r.status, 73) << jobs;
    EXPECT_EQ(r.err, "moravel: standard output: cannot write the output: No space left on device\n") << jobs;
  }
}

// The progress line counts the records of every worker: 1000 records, then
// a pause past the line's first second before the end of the records. The
// most it shows is what was written in order before the pause (all but
// about twice the 64 a worker holds) or after: more than one worker expanded.
TEST_F(Tool, MergeInWorkersShowsProgressOfAll) {
  auto t = write("t.txt", "<FIELD>name</FIELD>\n");
  auto records = write("r.jsonl", manyRecords(1000));
  std::string d = quote(dir.string());
  std::string tool = "'" + std::string(MORAVEL_TOOL) + "' expand " + quote(t.string()) + " --each " + d +
                     "/in.jsonl -j 2 >" + d + "/out";
  Outcome r = shell("mkfifo " + d + "/in.jsonl; (cat " + quote(records.string()) + "; sleep 2) >" + d +
                    "/in.jsonl & script -qec " + quote(tool) + " /dev/null; wait");
  long most = 0;
  for (std::size_t at = r.out.find("\rmoravel: "); at != std::string::npos; at = r.out.find("\rmoravel: ", at + 1))
    most = std::max(most, std::stol(r.out.substr(at + 10)));
  EXPECT_GE(most, 700) << r.out;
  EXPECT_LE(most, 1000) << r.out;
  std::string out = slurp(dir / "out");
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1000);
}

}  // namespace
