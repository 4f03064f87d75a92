#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace zephro::update::testing {

using zephro::testing::readFile;

struct TestEntry {
  enum class Type { file, folder, symlink, hardlink, characterDevice, fifo };

  std::string path;
  Type type = Type::file;
  std::string content;  // a file's bytes
  std::string link;     // a link's target
  mode_t permissions = 0644;

  static TestEntry file(std::string path, std::string content, mode_t permissions = 0644) {
    return {std::move(path), Type::file, std::move(content), "", permissions};
  }
  static TestEntry folder(std::string path) {
    return {std::move(path), Type::folder, "", "", 0755};
  }
  static TestEntry linkTo(std::string path, std::string target, Type type = Type::symlink) {
    return {std::move(path), type, "", std::move(target), type == Type::symlink ? 0777U : 0644U};
  }
};

// In the format the file's name ends in: .tar.gz, .tar.xz or .zip.
void writeArchive(const std::filesystem::path& file, const std::vector<TestEntry>& entries);

// bin/zephro holding `program`, and the information file of `version`.
[[nodiscard]] std::vector<TestEntry> releaseTree(const std::string& version,
                                                 const std::string& program = "new");

void writeText(const std::filesystem::path& file, const std::string& text);

}  // namespace zephro::update::testing
