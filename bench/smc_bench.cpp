// Cost of the helper's SMC operations on the emulated controller, with the number
// of user-client calls each one makes.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "helper/SMCWrapperObjC.h"
#include "platform/log/Log.h"
#include "platform/smc/EmulatedSmc.h"

namespace {

using namespace zephro;

class NoSleep final : public Sleeper {
 public:
  void sleepFor(std::chrono::milliseconds) override {}
};

smc::MachineProfile laptop() {
  return smc::MachineProfile::load(smc::findMachineProfile("macbookpro16-1").value());
}

struct Rig {
  explicit Rig(smc::MachineProfile profile, std::optional<std::filesystem::path> state = {})
      : quiet(std::make_unique<log::Capture>()),
        smc(std::make_shared<smc::EmulatedSmc>(std::move(profile), std::move(state),
                                               std::make_shared<smc::ManualClock>())),
        wrapper(SMCWrapperObjC::create(std::make_unique<smc::EmulatedUserClient>(smc),
                                       std::make_shared<NoSleep>())) {
    smc->setCallLogCapacity(0);
    quiet.reset();
  }
  void report(benchmark::State& state, std::uint64_t before) const {
    state.counters["calls"] = benchmark::Counter(static_cast<double>(smc->callCount() - before),
                                                 benchmark::Counter::kAvgIterations);
  }
  std::unique_ptr<log::Capture> quiet;  // swallows the open line
  std::shared_ptr<smc::EmulatedSmc> smc;
  std::unique_ptr<SMCWrapperObjC> wrapper;
};

void BM_ReadFloatKey(benchmark::State& state) {
  Rig rig(laptop());
  const auto before = rig.smc->callCount();
  for ([[maybe_unused]] auto _ : state) benchmark::DoNotOptimize(rig.wrapper->readFloatKey("F0Ac"));
  rig.report(state, before);
}
BENCHMARK(BM_ReadFloatKey);

void BM_ReadFloatKeySharedStateFile(benchmark::State& state) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("zephro-smc-bench-" + std::to_string(::getpid()) + ".json");
  {
    Rig rig(laptop(), path);
    const auto before = rig.smc->callCount();
    for ([[maybe_unused]] auto _ : state)
      benchmark::DoNotOptimize(rig.wrapper->readFloatKey("F0Ac"));
    rig.report(state, before);
  }
  std::filesystem::remove(path);
  std::filesystem::remove(path.string() + ".lock");
}
BENCHMARK(BM_ReadFloatKeySharedStateFile);

// Every one of the twelve sensors exists and none qualifies: 24 calls.
void BM_SystemTemperatureWorstCase(benchmark::State& state) {
  auto profile = laptop();
  profile.sensors.clear();
  for (const char* key : {"Te05", "Tp01", "Tp05", "Tp09", "Tp0T", "Tp0D", "Tp0H", "Tp0L", "Tp0P",
                          "Tp0b", "TC0D", "TC0P"}) {
    profile.sensors.push_back({key, "sp78", -200.0});
  }
  Rig rig(profile);
  const auto before = rig.smc->callCount();
  for ([[maybe_unused]] auto _ : state) benchmark::DoNotOptimize(rig.wrapper->systemTemperature());
  rig.report(state, before);
}
BENCHMARK(BM_SystemTemperatureWorstCase);

// One fan taken over from automatic control, as the service does it (the 200 ms
// firmware wait is skipped).
void BM_OverrideOneFan(benchmark::State& state) {
  Rig rig(laptop());
  log::Capture lines;
  std::uint64_t calls = 0;
  for ([[maybe_unused]] auto _ : state) {
    const auto before = rig.smc->callCount();
    benchmark::DoNotOptimize(
        rig.wrapper->setFanSpeedWithWakeOverrideForIndex(0, 4000.0, 200, nullptr));
    calls += rig.smc->callCount() - before;
    state.PauseTiming();
    (void)rig.wrapper->releaseFanOverrideForIndex(0, nullptr);
    lines.clear();
    state.ResumeTiming();
  }
  state.counters["calls"] =
      benchmark::Counter(static_cast<double>(calls), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_OverrideOneFan);

// The fan table of a two-fan machine as the service reads it: the count, the
// manual-control test per fan (none forced, so every fan is asked), then speed,
// minimum and maximum of each fan.
void BM_FanTableTwoFans(benchmark::State& state) {
  Rig rig(laptop());
  log::Capture lines;
  const auto before = rig.smc->callCount();
  std::int64_t round = 0;
  for ([[maybe_unused]] auto _ : state) {
    const auto count = rig.wrapper->fanCount();
    for (std::int64_t fan = 0; fan < count; ++fan) {
      if (rig.wrapper->isFanUnderManualControlForIndex(fan)) break;
    }
    for (std::int64_t fan = 0; fan < count; ++fan) {
      benchmark::DoNotOptimize(rig.wrapper->fanSpeedForIndex(fan));
      benchmark::DoNotOptimize(rig.wrapper->fanMinSpeedForIndex(fan));
      benchmark::DoNotOptimize(rig.wrapper->fanMaxSpeedForIndex(fan));
    }
    if (++round % 1024 == 0) lines.clear();
  }
  rig.report(state, before);
}
BENCHMARK(BM_FanTableTwoFans);

// One poll of the service on the two-fan laptop: the fan table, then the temperature.
// "first_poll" counts the calls of the first poll, when no key's information is known
// yet (every poll made as many before the helper remembered it); "calls" those of a poll
// after it.
void pollOnce(SMCWrapperObjC& wrapper) {
  const auto count = wrapper.fanCount();
  for (std::int64_t fan = 0; fan < count; ++fan) {
    if (wrapper.isFanUnderManualControlForIndex(fan)) break;
  }
  for (std::int64_t fan = 0; fan < count; ++fan) {
    benchmark::DoNotOptimize(wrapper.fanSpeedForIndex(fan));
    benchmark::DoNotOptimize(wrapper.fanMinSpeedForIndex(fan));
    benchmark::DoNotOptimize(wrapper.fanMaxSpeedForIndex(fan));
  }
  benchmark::DoNotOptimize(wrapper.systemTemperature());
}

void BM_PollTwoFans(benchmark::State& state) {
  Rig rig(laptop());
  log::Capture lines;
  const auto cold = rig.smc->callCount();
  pollOnce(*rig.wrapper);
  state.counters["first_poll"] = static_cast<double>(rig.smc->callCount() - cold);
  const auto before = rig.smc->callCount();
  std::int64_t round = 0;
  for ([[maybe_unused]] auto _ : state) {
    pollOnce(*rig.wrapper);
    if (++round % 1024 == 0) lines.clear();
  }
  rig.report(state, before);
}
BENCHMARK(BM_PollTwoFans);

}  // namespace

BENCHMARK_MAIN();
