#include "tests/support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace zephro::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zephro-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path sourcePath(const std::string& relative) {
  return std::filesystem::path(ZEPHRO_SOURCE_DIR) / relative;
}

std::filesystem::path binaryPath(const std::string& relative) {
  return std::filesystem::path(ZEPHRO_BINARY_DIR) / relative;
}

std::string readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace zephro::testing
