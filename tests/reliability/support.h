// support.h: file-fault switches of the test builds and a scratch directory for included files.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "fixture.h"

namespace moravel::test {

// The test build's file switches, through the host that loaded it; no step
// fails once the object goes.
class FileFaults {
 public:
  explicit FileFaults(Host& host) : host_(host) {}
  ~FileFaults() { host_.setFileFailure(kFileStepNone); }
  FileFaults(const FileFaults&) = delete;
  FileFaults& operator=(const FileFaults&) = delete;

  void fail(MoravelFileStep step) const { host_.setFileFailure(step); }
  long openFiles() const { return host_.openFiles(); }
  long injected() const { return host_.fileFaults(); }

 private:
  Host& host_;
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
