#include "app/settings/LaunchAtLogin.h"

#include <gtest/gtest.h>

#include "platform/log/Log.h"
#include "tests/platform/servicemanager/FakeServiceManager.h"

namespace zephro {
namespace {

using testing::FakeServiceManager;

TEST(LaunchAtLogin, EnablingRegistersOnceDisablingAlwaysUnregistersAndFailuresAreLogged) {
  FakeServiceManager manager;
  auto& item = manager.loginItem;
  const log::Capture capture;
  setLaunchAtLogin(manager, true);
  EXPECT_TRUE(isLaunchAtLoginEnabled(manager));
  setLaunchAtLogin(manager, true);
  EXPECT_EQ(item.registerCalls, 1);
  setLaunchAtLogin(manager, false);
  setLaunchAtLogin(manager, false);
  EXPECT_EQ(item.unregisterCalls, 2);
  EXPECT_FALSE(isLaunchAtLoginEnabled(manager));
  EXPECT_TRUE(capture.lines().empty());
  EXPECT_TRUE(manager.calls().empty()) << "neither the daemon nor the settings touched";

  // Disabled by the user in the desktop's settings: registering is refused.
  item.setStatus(static_cast<int>(ServiceStatus::requiresApproval));
  item.registerFailure =
      Error::withDescription("SMAppServiceErrorDomain", 1, "Operation not permitted");
  setLaunchAtLogin(manager, true);
  EXPECT_EQ(item.registerCalls, 2);
  EXPECT_FALSE(isLaunchAtLoginEnabled(manager));

  item.unregisterFailure = Error{"SMAppServiceErrorDomain", 3, {}};
  setLaunchAtLogin(manager, false);

  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{
                "[Zephro] Failed to toggle launch at login: Error Domain=SMAppServiceErrorDomain "
                "Code=1 \"Operation not permitted\" UserInfo={NSLocalizedDescription=Operation "
                "not permitted}",
                "[Zephro] Failed to toggle launch at login: Error Domain=SMAppServiceErrorDomain "
                "Code=3 \"(null)\""}));

  // A registration that succeeds but still awaits approval leaves the switch off.
  item.registerFailure.reset();
  item.statusAfterRegister = static_cast<int>(ServiceStatus::requiresApproval);
  setLaunchAtLogin(manager, true);
  EXPECT_FALSE(isLaunchAtLoginEnabled(manager));
  item.setStatus(42);
  EXPECT_FALSE(isLaunchAtLoginEnabled(manager));
}

}  // namespace
}  // namespace zephro
