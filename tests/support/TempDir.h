#pragma once

#include <filesystem>
#include <string>

namespace zephro::testing {

// A fresh temp directory, removed with everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  [[nodiscard]] std::filesystem::path operator/(const std::string& name) const {
    return path_ / name;
  }

 private:
  std::filesystem::path path_;
};

// A file of the source tree, e.g. sourcePath("app/resources/machines/macbookair8-1.json").
[[nodiscard]] std::filesystem::path sourcePath(const std::string& relative);
// A file of the build tree, e.g. binaryPath("helper/com.zephro.helper").
[[nodiscard]] std::filesystem::path binaryPath(const std::string& relative);
// A file's bytes; empty when it cannot be read.
[[nodiscard]] std::string readFile(const std::filesystem::path& file);

}  // namespace zephro::testing
