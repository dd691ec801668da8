// support.h: file-fault switches of the test builds and a scratch directory for included files.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "fixture.h"

namespace moravel::test {

// The file steps a test build can be told to fail.
enum FileStep { kNoFileFault = 0, kFailOpen = 1, kFailSize = 2, kFailSeek = 3, kFailRead = 4, kFailClose = 5 };

// The test build's file switches, looked up in the library the host loaded.
class FileFaults {
 public:
  explicit FileFaults(Width width);
  ~FileFaults();
  FileFaults(const FileFaults&) = delete;
  FileFaults& operator=(const FileFaults&) = delete;

  void fail(FileStep step) const { setFailure_(static_cast<int>(step)); }
  long openFiles() const { return openFiles_(); }

 private:
  void* lib_ = nullptr;
  void (*setFailure_)(int) = nullptr;
  long (*openFiles_)() = nullptr;
};

// A directory of its own under the system's temporary directory, removed with
// everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The directory with a trailing separator, as SetFilesDirectory wants it.
  std::u32string prefix() const;
  std::filesystem::path write(const std::string& name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

}  // namespace moravel::test
