#pragma once

#include "app/core/Detach.h"
#include "app/core/HelperClient.h"
#include "app/viewmodel/FanControlViewModel.h"
#include "platform/defaults/UserDefaults.h"
#include "tests/support/SpinUntil.h"
#include "tests/support/TempDir.h"

namespace zephro::testing {

// A view model whose real client talks to whatever listens on a temp socket; the test fires wakes.
// The client shares the service manager: a registration on its worker thread may still be
// running when the test's objects go.
struct ViewModelOnSocket {
  // Last to go: the view model's polls and checks still under way end first, with an answer
  // or an error from a helper that has stopped, rather than outlive the test.
  struct Drain {
    ~Drain() {
      spinUntil([] { return runningDetachedTasks() == 0; }, std::chrono::seconds(30));
    }
  } drain;

  explicit ViewModelOnSocket(const std::shared_ptr<ServiceManager>& services,
                             std::string socketPath = {})
      : socket(socketPath.empty() ? (dir / "helper.sock").string() : std::move(socketPath)),
        defaults(QString::fromStdString((dir / "settings.json").string())) {
    HelperClientOptions clientOptions;
    clientOptions.connectionFactory = HelperClientOptions::connectingTo(socket);
    clientOptions.serviceManager = services;
    clientOptions.settleInterval = std::chrono::milliseconds(1);
    client = std::make_unique<HelperClient>(std::move(clientOptions));
    auto source = std::make_unique<WakeSource>();
    wake = source.get();
    // Intervals short enough that a test never waits on a real 2-second poll.
    viewModel = std::make_unique<FanControlViewModel>(
        *client, defaults, *services, std::move(source),
        FanControlViewModelOptions{.pollInterval = std::chrono::milliseconds(20),
                                   .installPollInterval = std::chrono::milliseconds(20)});
  }

  TempDir dir;
  std::string socket;
  UserDefaults defaults;
  std::unique_ptr<HelperClient> client;
  WakeSource* wake = nullptr;
  std::unique_ptr<FanControlViewModel> viewModel;
};

}  // namespace zephro::testing
