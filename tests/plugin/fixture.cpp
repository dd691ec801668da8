// fixture.cpp: the plug-in test fixture.
#include "fixture.h"

namespace moravel::test {

std::string NativePath(const std::string& path)
{
#if MORAVEL_WINDOWS_PLUGIN
  // The build's paths are those of the machine that built it; under wine, and
  // for the PE loader, the root of that file system is drive Z:.
  std::string p = path;
  if (!p.empty() && p[0] == '/') p = "Z:" + p;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
#else
  return path;
#endif
}

std::string LibraryPath(Width width)
{
  return NativePath(width == Width::Byte ? MORAVEL_LIB_BYTE : MORAVEL_LIB_UNICODE);
}

std::string WidthName(const ::testing::TestParamInfo<Width>& info)
{
  if (kFixtureForm == Form::Mac) return "Mac";
  return info.param == Width::Byte ? "Byte" : "Unicode";
}

void PluginTest::SetUp()
{
  host = std::make_unique<Host>(LibraryPath(GetParam()), GetParam(), kFixtureForm);
  host->load();
  host->setText(U"out", U"");
}

void PluginTest::TearDown()
{
  if (!host) return;
  if (host->loaded()) host->unload();
  EXPECT_TRUE(host->hasTestHooks()) << "the suite runs on test builds";
  if (host->hasTestHooks()) {
    EXPECT_EQ(host->liveBlocks(), 0) << "blocks left after unload";
  }
  EXPECT_EQ(host->log().staleHandles, 0);
  host.reset();
}

RecordInfo PluginTest::info() const
{
  RecordInfo r{};
  if (!host->recordInfo(r)) ADD_FAILURE() << "no record: the plug-in is not loaded, or its inspector differs";
  return r;
}

int PluginTest::expand(const std::u32string& text, std::vector<Arg> options)
{
  std::vector<Arg> args{Arg::text(text), Arg::reference(U"out")};
  for (auto& o : options) args.push_back(std::move(o));
  return host->call(kDoSubstitutions, std::move(args)).code();
}

std::u32string PluginTest::expanded(const std::u32string& text, std::vector<Arg> options)
{
  int code = expand(text, std::move(options));
  EXPECT_EQ(code, 0) << "expanding " << u8(text);
  return out();
}

std::vector<std::u32string> PluginTest::tagList(const std::u32string& text, int* code)
{
  host->setList(U"tags", List{{U"tag"}, {}});
  int c = host->call(kGetTagList, {Arg::text(text), Arg::reference(U"tags"), Arg::number(1)}).code();
  if (code) *code = c;
  std::vector<std::u32string> rows;
  List list = host->list(U"tags").value_or(List{});
  for (auto& row : list.rows) rows.push_back(row.empty() ? U"" : row[0].asText());
  return rows;
}

int PluginTest::setTags(const std::u32string& open, const std::u32string& close)
{
  return host->call(kSetTags, {Arg::text(open), Arg::text(close)}).code();
}

int PluginTest::mapKeywords(std::vector<std::vector<std::u32string>> rows, std::vector<std::u32string> columns)
{
  List list{std::move(columns), {}};
  for (auto& row : rows) {
    std::vector<Value> cells;
    for (auto& cell : row) cells.push_back(Value::text(cell));
    list.rows.push_back(std::move(cells));
  }
  host->setList(U"map", std::move(list));
  return host->call(kMapKeywordsToFields, {Arg::reference(U"map")}).code();
}

}  // namespace moravel::test
