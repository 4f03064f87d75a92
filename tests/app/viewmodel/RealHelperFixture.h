#pragma once

#include <filesystem>
#include <memory>

#include "platform/servicemanager/DevelopmentServiceManager.h"
#include "platform/smc/EmulatedSmc.h"
#include "tests/app/viewmodel/ViewModelFixture.h"
#include "tests/platform/servicemanager/TestHelperLayout.h"
#include "tests/support/TempDir.h"

namespace zephro::testing {

// A view model over the build's real com.zephro.helper, which the development service
// manager starts on an emulated machine (the two-fan MacBookPro16,1 unless a profile file
// is given). The test program must be signed as the application.
struct ViewModelOnRealHelper {
  explicit ViewModelOnRealHelper(const std::filesystem::path& machineProfile = {})
      : layout(layoutIn(dir, machineProfile)),
        services(layout, runner,
                 std::make_unique<AutostartLoginItem>(dir / "zephro.desktop", "zephro"),
                 StartupSettingsOpener(runner, "", "")),
        vm(services, quickOptions(), layout.socketPath.string()) {}
  ~ViewModelOnRealHelper() {
    // Never leave a helper running, whatever the test did.
    (void)services.daemonService(kHelperPlistName)->unregisterService();
  }
  ViewModelOnRealHelper(const ViewModelOnRealHelper&) = delete;
  ViewModelOnRealHelper& operator=(const ViewModelOnRealHelper&) = delete;

  [[nodiscard]] FanControlViewModel& model() const { return *vm.viewModel; }
  // The emulated machine as the helper left it in its state file.
  [[nodiscard]] std::unique_ptr<smc::EmulatedSmc> machine() const {
    return std::make_unique<smc::EmulatedSmc>(smc::MachineProfile::load(layout.machineProfile),
                                              layout.machineStateFile());
  }

  static DevelopmentLayout layoutIn(const TempDir& dir, const std::filesystem::path& profile) {
    auto layout = testHelperLayout(dir / "runtime", dir / "helper.sock");
    if (!profile.empty()) layout.machineProfile = profile;
    return layout;
  }

  TempDir dir;
  DevelopmentLayout layout;
  std::shared_ptr<CommandRunner> runner = std::make_shared<ProcessCommandRunner>();
  DevelopmentServiceManager services;
  ViewModelOnSocket vm;
};

}  // namespace zephro::testing
