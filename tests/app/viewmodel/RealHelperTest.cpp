// The view model against the real com.zephro.helper, started by the development
// service manager on an emulated machine. What reaches the fans is read back from the
// emulated machine's shared state file; how percentages become targets is the helper's
// own tests' business.
#include <gtest/gtest.h>

#include "app/viewmodel/FanControlViewModel.h"
#include "platform/log/Log.h"
#include "platform/servicemanager/DevelopmentServiceManager.h"
#include "platform/smc/EmulatedSmc.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/app/viewmodel/ViewModelFixture.h"
#include "tests/platform/servicemanager/TestHelperLayout.h"

namespace zephro {
namespace {

using namespace std::chrono_literals;
using testing::awaitTask;

struct RealHelper {
  RealHelper()
      : layout(testing::testHelperLayout(dir / "runtime", dir / "helper.sock")),
        services(layout, runner,
                 std::make_unique<AutostartLoginItem>(dir / "zephro.desktop", "zephro"),
                 StartupSettingsOpener(runner, "", "")),
        vm(services, testing::quickOptions(), layout.socketPath.string()) {}
  ~RealHelper() {
    // Never leave a helper running, whatever the test did.
    (void)services.daemonService(kHelperPlistName)->unregisterService();
  }

  FanControlViewModel& model() const { return *vm.viewModel; }
  [[nodiscard]] std::unique_ptr<smc::EmulatedSmc> machine() const {
    return std::make_unique<smc::EmulatedSmc>(smc::MachineProfile::load(layout.machineProfile),
                                              layout.machineStateFile());
  }

  testing::TempDir dir;
  DevelopmentLayout layout;
  std::shared_ptr<CommandRunner> runner = std::make_shared<ProcessCommandRunner>();
  DevelopmentServiceManager services;
  testing::ViewModelOnSocket vm;
};

TEST(FanControlViewModelWithHelper, InstallingConnectsAndEveryModeChangeReachesTheFans) {
  RealHelper h;
  auto& model = h.model();
  const log::Capture capture;
  ASSERT_TRUE(awaitTask(model.installHelper()).succeeded());
  EXPECT_TRUE(capture.contains("[Zephro] Helper registered with SMAppService. Status: 1"));
  ASSERT_EQ(model.connectionState(), ConnectionState::connected());
  const auto fans = model.fans();
  ASSERT_EQ(fans.size(), 2u);
  EXPECT_EQ(fans[1].maxRPM(), 6100);
  EXPECT_GT(model.systemTemperature(), 20);
  EXPECT_LT(model.systemTemperature(), 110);

  ASSERT_TRUE(awaitTask(model.setMaxMode()).succeeded());
  EXPECT_EQ(model.activeMode(), FanMode::max);
  EXPECT_EQ(model.sliderPercentages(), (QList<int>{100, 100}));
  {
    const auto machine = h.machine();
    for (std::size_t i = 0; i < 2; ++i) {
      EXPECT_DOUBLE_EQ(machine->fanTarget(i), fans[i].maxRPM()) << "fan " << i;
      EXPECT_TRUE(machine->isFanForced(i)) << "fan " << i;
      EXPECT_EQ(machine->modeValue(i), 1) << "fan " << i;
    }
  }

  ASSERT_TRUE(awaitTask(model.setPercentage(0, 50)).succeeded());
  EXPECT_EQ(model.activeMode(), FanMode::manual);
  EXPECT_DOUBLE_EQ(h.machine()->fanTarget(0),
                   fans[0].minRPM() + (fans[0].maxRPM() - fans[0].minRPM()) / 2);
  EXPECT_DOUBLE_EQ(h.machine()->fanTarget(1), fans[1].maxRPM());

  ASSERT_TRUE(awaitTask(model.setSystemMode()).succeeded());
  EXPECT_EQ(model.activeMode(), FanMode::system);
  {
    const auto machine = h.machine();
    EXPECT_EQ(machine->forceMask(), 0);
    for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(machine->modeValue(i), 0) << "fan " << i;
  }
  ASSERT_TRUE(awaitTask(model.refresh()).succeeded());
  EXPECT_EQ(model.fans()[0].mode(), FanMode::system);
}

}  // namespace
}  // namespace zephro
