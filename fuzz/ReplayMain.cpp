// Runs a libFuzzer entry point over every file of the corpus folders (or files)
// named on the command line. Used where the fuzzer is not built with clang, so an
// ordinary test run still replays each corpus under the sanitizers.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iostream>

#include "tests/support/TempDir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  const auto replay = [&](const std::filesystem::path& file) {
    const auto bytes = zephro::testing::readFile(file);
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++replayed;
  };
  for (int i = 1; i < argc; ++i) {
    if (!std::filesystem::is_directory(argv[i])) {
      replay(argv[i]);
      continue;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i])) {
      if (entry.is_regular_file()) replay(entry.path());
    }
  }
  std::cout << "replayed " << replayed << " inputs\n";
  // An empty corpus would make this test pass without checking anything.
  return replayed > 0 ? 0 : 1;
}
