// The moravel tool end to end: it runs as its own process with the shipped
// plug-in builds, and is judged by its exit status, standard output and
// standard error.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

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
    fs::path in = write("stdin.txt", input);
    std::string cmd = env + (env.empty() ? "" : " ") + quote(MORAVEL_TOOL);
    for (const auto& a : args) cmd += " " + quote(a);
    cmd += " <" + quote(in.string()) + " >" + quote((dir / "stdout.txt").string()) + " 2>" +
           quote((dir / "stderr.txt").string());
    int rc = std::system(cmd.c_str());
    Outcome r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = slurp(dir / "stdout.txt");
    r.err = slurp(dir / "stderr.txt");
    return r;
  }

  fs::path dir;
};

TEST_F(Tool, VersionOfBothBuilds) {
  Outcome u = run({"version"});
  EXPECT_EQ(u.status, 0) << u.err;
  EXPECT_EQ(u.out, "1.5\n");
  Outcome b = run({"version", "--build", "8bit"});
  EXPECT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(b.out, "1.5\n");
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
  Outcome r = run({"expand", "-", "--files-dir", dir.string() + "/"}, "before <FIELD>FILE=missing.txt</FIELD>");
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.errLines(), 1) << r.err;
  EXPECT_NE(r.err.find("could not be opened"), std::string::npos) << r.err;

  Outcome t = run({"expand", "-", "--tags", "", "}}"}, "text");
  EXPECT_EQ(t.status, 3);
  EXPECT_EQ(t.out, "");
  EXPECT_EQ(t.errLines(), 1) << t.err;

  auto d = write("data.json", R"j({"keywordMap": []})j");
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
}

TEST_F(Tool, Encodings) {
  std::string text = "caf\xC3\xA9 \xE2\x82\xAC";
  EXPECT_EQ(run({"expand", "-", "--utf", "0"}, text).out, text);
  EXPECT_EQ(run({"expand", "-", "--utf", "1"}, text).out, "caf&eacute; &#8364;");
  EXPECT_EQ(run({"expand", "-", "--utf", "2"}, text).out, "caf&#233; &#8364;");
  EXPECT_EQ(run({"expand", "-", "--utf", "3"}, text).out, "caf&#xE9; &#x20AC;");
}

TEST_F(Tool, InvalidUtf8IsKeptAsCharactersOfTheirOwnValue) {
  Outcome r = run({"expand", "-"}, "a\xE9z");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "a\xC3\xA9z");  // the byte 0xE9 became U+00E9
  EXPECT_NE(r.err.find("not UTF-8"), std::string::npos) << r.err;
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

TEST_F(Tool, UsageErrorsExit64) {
  auto t = write("t.txt", "x");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {},
           {"frobnicate"},
           {"expand"},
           {"expand", t.string(), "--utf", "4"},
           {"expand", t.string(), "--utf", "x"},
           {"expand", t.string(), "--build", "16bit"},
           {"expand", t.string(), "--tags", "only-one"},
           {"expand", t.string(), "--no-such-option"},
           {"expand", (dir / "missing.txt").string()},
           {"expand", t.string(), "--data", (dir / "missing.json").string()},
           {"tags"},
       }) {
    Outcome r = run(args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.status, 64) << joined << r.err;
    EXPECT_EQ(r.out, "") << joined;
    EXPECT_FALSE(r.err.empty()) << joined;
  }
}

TEST_F(Tool, BadDataFilesExit64AndSayWhere) {
  auto t = write("t.txt", "x");
  auto bad = write("bad.json", R"j({"variables": {"lName": ["Ann"]}})j");
  Outcome r = run({"expand", t.string(), "--data", bad.string()});
  EXPECT_EQ(r.status, 64);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("bad.json: variables.lName: expected text or number"), std::string::npos) << r.err;
  auto broken = write("broken.json", "{\"variables\": ");
  Outcome b = run({"expand", t.string(), "--data", broken.string()});
  EXPECT_EQ(b.status, 64);
  EXPECT_NE(b.err.find("broken.json: not valid JSON"), std::string::npos) << b.err;
  auto wide = write("wide.json", R"j({"variables": {"e": "\u20ac"}})j");
  Outcome w = run({"expand", t.string(), "--data", wide.string(), "--build", "8bit"});
  EXPECT_EQ(w.status, 64);
  EXPECT_NE(w.err.find("variables.e"), std::string::npos) << w.err;
}

TEST_F(Tool, ATemplateWithANulCharacterIsRefused) {
  Outcome r = run({"expand", "-"}, std::string("a\0b", 3));
  EXPECT_EQ(r.status, 64);
  EXPECT_EQ(r.out, "");
}

TEST_F(Tool, PluginLocation) {
  Outcome r = run({"version", "--plugin", (dir / "nothing.so").string()});
  EXPECT_EQ(r.status, 69);
  EXPECT_NE(r.err.find("nothing.so"), std::string::npos);
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
  EXPECT_EQ(slurp(dir / "o.txt"), "1.5\n");
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
}

}  // namespace
