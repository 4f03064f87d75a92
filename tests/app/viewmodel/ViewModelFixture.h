#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "app/core/HelperClient.h"
#include "app/viewmodel/FanControlViewModel.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/servicemanager/ServiceManager.h"
#include "tests/support/TempDir.h"

namespace zephro::testing {

// Intervals short enough that a test never waits on a real 2-second poll.
inline FanControlViewModelOptions quickOptions() {
  FanControlViewModelOptions options;
  options.pollInterval = std::chrono::milliseconds(20);
  options.installPollInterval = std::chrono::milliseconds(20);
  return options;
}

// A view model over a real helper client that talks to whatever listens on a temp
// socket, with its own settings file and a wake source the test fires.
struct ViewModelOnSocket {
  explicit ViewModelOnSocket(ServiceManager& services,
                             FanControlViewModelOptions options = quickOptions(),
                             std::string socketPath = {})
      : socket(socketPath.empty() ? (dir / "helper.sock").string() : std::move(socketPath)),
        defaults(QString::fromStdString((dir / "settings.json").string())) {
    HelperClientOptions clientOptions;
    clientOptions.connectionFactory = HelperClientOptions::connectingTo(socket);
    clientOptions.serviceManager = std::shared_ptr<ServiceManager>(&services, [](auto*) {});
    clientOptions.settleInterval = std::chrono::milliseconds(1);
    client = std::make_unique<HelperClient>(std::move(clientOptions));
    auto source = std::make_unique<WakeSource>();
    wake = source.get();
    viewModel = std::make_unique<FanControlViewModel>(*client, defaults, services,
                                                      std::move(source), options);
  }

  TempDir dir;
  std::string socket;
  UserDefaults defaults;
  std::unique_ptr<HelperClient> client;
  WakeSource* wake = nullptr;
  std::unique_ptr<FanControlViewModel> viewModel;
};

}  // namespace zephro::testing
