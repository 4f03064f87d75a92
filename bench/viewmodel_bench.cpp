// One poll of the view model (the fan table and the temperature, asked for together)
// against the real helper on an emulated two-fan machine, as the poll loop makes it
// every 2 seconds.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "app/core/HelperClient.h"
#include "app/viewmodel/FanControlViewModel.h"
#include "bench/BenchSupport.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "platform/servicemanager/DevelopmentServiceManager.h"

namespace {

using namespace zephro;
using Clock = std::chrono::steady_clock;
using bench::freshDir;

// The real helper, started the way the development service manager starts it, and a
// view model that polls it.
struct Setup {
  Setup()
      : dir(freshDir()),
        layout(makeLayout(dir)),
        services(layout, std::make_shared<ProcessCommandRunner>(),
                 std::make_unique<AutostartLoginItem>(dir / "zephro.desktop", "zephro"),
                 StartupSettingsOpener(std::make_shared<ProcessCommandRunner>(), "", "")),
        defaults(QString::fromStdString((dir / "settings.json").string())) {
    if (const auto error = services.daemonService(kHelperPlistName)->registerService()) {
      throw std::runtime_error("the helper did not start: " + error->fullDescription());
    }
    HelperClientOptions options;
    options.connectionFactory = HelperClientOptions::connectingTo(layout.socketPath.string());
    client = std::make_unique<HelperClient>(std::move(options));
    viewModel = std::make_unique<FanControlViewModel>(*client, defaults, services,
                                                      std::make_unique<WakeSource>());
  }
  ~Setup() {
    viewModel.reset();
    client.reset();
    (void)services.daemonService(kHelperPlistName)->unregisterService();
    std::filesystem::remove_all(dir);
  }

  static DevelopmentLayout makeLayout(const std::filesystem::path& dir) {
    DevelopmentLayout layout;
    layout.helperExecutable = HELPER_BINARY;
    layout.machineProfile = ZEPHRO_SOURCE_DIR "/platform/smc/machines/macbookpro16-1.json";
    layout.anchorKey = ZEPHRO_DEV_ANCHOR_KEY;
    layout.runtimeDir = dir / "runtime";
    layout.socketPath = dir / "helper.sock";
    return layout;
  }

  std::filesystem::path dir;
  DevelopmentLayout layout;
  DevelopmentServiceManager services;
  UserDefaults defaults;
  std::unique_ptr<HelperClient> client;
  std::unique_ptr<FanControlViewModel> viewModel;
};

Setup* setup = nullptr;

void BM_ViewModelPoll(benchmark::State& state) {
  auto& model = *setup->viewModel;
  std::vector<double> micros;
  for ([[maybe_unused]] auto _ : state) {
    const auto start = Clock::now();
    QCoro::waitFor(model.refresh());
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (model.connectionState() != ConnectionState::connected()) {
      state.SkipWithError("the poll failed");
      break;
    }
  }
  bench::reportPercentiles(state, micros);
}
BENCHMARK(BM_ViewModelPoll)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  const QCoreApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The client's lines (none while the helper answers) stay out of the measurement.
  const log::Capture capture;
  try {
    Setup running;
    setup = &running;
    benchmark::RunSpecifiedBenchmarks();
    setup = nullptr;
  } catch (const std::exception& error) {
    std::cerr << "viewmodel_bench: " << error.what() << "\n";
    return 1;
  }
  benchmark::Shutdown();
  return 0;
}
