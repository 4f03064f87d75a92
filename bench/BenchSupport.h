#pragma once

#include <benchmark/benchmark.h>

#include <filesystem>
#include <vector>

namespace zephro::bench {

// A fresh directory under the system's temp dir; the caller removes it.
[[nodiscard]] std::filesystem::path freshDir();

// Sorts the samples (microseconds) and reports their median and 99th percentile as the
// counters p50_us and p99_us.
void reportPercentiles(benchmark::State& state, std::vector<double>& micros);

}  // namespace zephro::bench
