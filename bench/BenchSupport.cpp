#include "bench/BenchSupport.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace zephro::bench {

std::filesystem::path freshDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zephro-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  return pattern;
}

void reportPercentiles(benchmark::State& state, std::vector<double>& micros) {
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  const auto at = [&](double q) {
    return micros[std::min(micros.size() - 1,
                           static_cast<std::size_t>(q * static_cast<double>(micros.size())))];
  };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
}

}  // namespace zephro::bench
