// file_fixture.h: a plug-in test with a folder of its own for the files that tags include.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "fixture.h"

namespace moravel::test {

class FileTest : public PluginTest {
 protected:
  // `prefix` begins the name of the test's folder in the temporary directory.
  explicit FileTest(std::string prefix) : prefix_(std::move(prefix)) {}
  void SetUp() override
  {
    PluginTest::SetUp();
    root = std::filesystem::temp_directory_path() /
           (prefix_ + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root);
  }
  void TearDown() override
  {
    std::filesystem::remove_all(root);
    PluginTest::TearDown();
  }
  // Writes a file below the test's folder.
  void write(const std::filesystem::path& rel, const std::string& bytes)
  {
    std::filesystem::create_directories((root / rel).parent_path());
    std::ofstream(root / rel, std::ios::binary) << bytes;
  }
  int setDir(const std::u32string& d) { return host->call(kSetFilesDirectory, {Arg::text(d)}).code(); }
  // What a FILE= tag of `name` expands to, or "<code>" when the call fails.
  std::u32string include(const std::u32string& name, std::vector<Arg> options = {})
  {
    int code = expand(U"<FIELD>FILE=" + name + U"</FIELD>", std::move(options));
    return code == 0 ? out() : U"<" + formatNumberU(code) + U">";
  }

  std::filesystem::path root;

 private:
  std::string prefix_;
};

}  // namespace moravel::test
