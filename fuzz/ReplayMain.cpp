// Runs a libFuzzer entry point over every file of the corpus folders (or files)
// named on the command line. Used where the fuzzer is not built with clang, so an
// ordinary test run still replays each corpus under the sanitizers.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void replayFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
        if (!entry.is_regular_file()) continue;
        replayFile(entry.path());
        ++replayed;
      }
    } else {
      replayFile(path);
      ++replayed;
    }
  }
  std::cout << "replayed " << replayed << " inputs\n";
  // An empty corpus would make this test pass without checking anything.
  return replayed > 0 ? 0 : 1;
}
