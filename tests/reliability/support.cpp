// support.cpp: file-fault switches and scratch directories.
#include "support.h"

#include <stdlib.h>

#include <fstream>
#include <stdexcept>

namespace moravel::test {

ScratchDir::ScratchDir()
{
  std::string templ = (std::filesystem::temp_directory_path() / "moravel-rel-XXXXXX").string();
  if (!mkdtemp(templ.data())) throw std::runtime_error("cannot make a scratch directory");
  path_ = templ;
}

ScratchDir::~ScratchDir()
{
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::u32string ScratchDir::prefix() const { return u32(path_.string() + "/"); }

std::filesystem::path ScratchDir::write(const std::string& name, std::string_view bytes) const
{
  std::filesystem::path p = path_ / name;
  std::ofstream f(p, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + p.string());
  return p;
}

}  // namespace moravel::test
