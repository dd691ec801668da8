// pe_file.h: a reader of the parts of a Windows PE file the structural tests look at.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace moravel::pe {

struct FormatError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One resource: its type, name (a number or a text) and language, and its bytes.
struct Resource {
  std::uint32_t type = 0;
  std::optional<std::uint32_t> id;  // the name when it is a number
  std::u16string name;              // the name when it is a text
  std::uint32_t language = 0;
  std::vector<std::uint8_t> data;
};

class File {
 public:
  explicit File(const std::string& path);  // throws FormatError

  std::uint16_t machine() const { return machine_; }
  std::uint16_t characteristics() const { return characteristics_; }
  bool isPe32Plus() const { return pe32plus_; }
  // Exported names, and the number of exported functions (named or not).
  const std::vector<std::string>& exportNames() const { return exportNames_; }
  std::uint32_t exportCount() const { return exportCount_; }
  const std::vector<std::string>& importedDlls() const { return imports_; }
  const std::vector<Resource>& resources() const { return resources_; }

 private:
  std::size_t offsetOf(std::uint32_t rva) const;
  std::uint16_t u16(std::size_t off) const;
  std::uint32_t u32(std::size_t off) const;
  std::string cString(std::size_t off) const;
  void readExports(std::uint32_t rva);
  void readImports(std::uint32_t rva);
  void readResources(std::uint32_t rva);
  void readResourceDir(std::size_t base, std::size_t dir, int level, Resource path);

  struct Section {
    std::uint32_t rva, size, rawOffset, rawSize;
  };
  std::vector<std::uint8_t> bytes_;
  std::vector<Section> sections_;
  std::uint16_t machine_ = 0, characteristics_ = 0;
  bool pe32plus_ = false;
  std::vector<std::string> exportNames_;
  std::uint32_t exportCount_ = 0;
  std::vector<std::string> imports_;
  std::vector<Resource> resources_;
};

}  // namespace moravel::pe
