#include <gtest/gtest.h>

#include <QGuiApplication>

#include "app/settings/AppearanceMode.h"
#include "app/settings/LaunchAtLogin.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "tests/platform/servicemanager/FakeServiceManager.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

TEST(AppearanceMode, StoredTextMapsToAModeAndUnknownTextIsLeftAlone) {
  const testing::TempDir dir;
  const QString path = QString::fromStdString((dir / "defaults.json").string());
  UserDefaults defaults{path};
  EXPECT_EQ(currentAppearanceMode(defaults), AppearanceMode::system);
  for (const auto& [stored, mode] : {std::pair{"dark", AppearanceMode::dark},
                                     {"light", AppearanceMode::light},
                                     {"Dark", AppearanceMode::system}}) {
    defaults.setString("appearanceMode", QString::fromLatin1(stored));
    EXPECT_EQ(currentAppearanceMode(defaults), mode) << stored;
    EXPECT_EQ(UserDefaults(path).string("appearanceMode"), stored) << "read, not rewritten";
  }
}

TEST(AppearanceMode, PopoverAndPaletteFollowTheModeOrTheDesktop) {
  EXPECT_EQ(applicationAppearance(AppearanceMode::system), std::nullopt);
  EXPECT_EQ(popoverAppearance(AppearanceMode::system, Appearance::dark), Appearance::dark);
  EXPECT_EQ(popoverAppearance(AppearanceMode::light, Appearance::dark), Appearance::light);
  // A palette with no contrast at all is taken as light.
  QPalette palette(Qt::gray);
  palette.setColor(QPalette::Window, QColor(0x30, 0x30, 0x38));
  palette.setColor(QPalette::WindowText, QColor(0xe0, 0xe0, 0xe0));
  EXPECT_EQ(appearanceOfPalette(palette), Appearance::dark);
  palette.setColor(QPalette::Window, QColor(0xe0, 0xe0, 0xe0));
  EXPECT_EQ(appearanceOfPalette(palette), Appearance::light);

  const QPalette desktop = QGuiApplication::palette();
  applyApplicationAppearance(AppearanceMode::dark);
  EXPECT_EQ(effectiveApplicationAppearance(), Appearance::dark);
  EXPECT_EQ(QGuiApplication::palette().color(QPalette::Window),
            paletteFor(Appearance::dark).color(QPalette::Window));
  applyApplicationAppearance(AppearanceMode::light);
  EXPECT_EQ(effectiveApplicationAppearance(), Appearance::light);
  applyApplicationAppearance(AppearanceMode::system);
  EXPECT_TRUE(QGuiApplication::palette() == desktop) << "the desktop's palette is back";
}

TEST(LaunchAtLogin, EnablingRegistersOnceDisablingAlwaysUnregistersAndFailuresAreLogged) {
  testing::FakeServiceManager manager;
  auto& item = manager.loginItem;
  const log::Capture capture;
  const auto set = [&](bool on) {
    setLaunchAtLogin(manager, on);
    return std::tuple{isLaunchAtLoginEnabled(manager), item.registerCalls.load(),
                      item.unregisterCalls.load()};
  };
  EXPECT_EQ(set(true), std::tuple(true, 1, 0));
  EXPECT_EQ(set(true), std::tuple(true, 1, 0));
  EXPECT_EQ(set(false), std::tuple(false, 1, 1));
  EXPECT_EQ(set(false), std::tuple(false, 1, 2));
  EXPECT_TRUE(capture.lines().empty());
  EXPECT_TRUE(manager.calls().empty()) << "neither the daemon nor the settings touched";

  // Disabled by the user in the desktop's settings: registering is refused.
  item.setStatus(static_cast<int>(ServiceStatus::requiresApproval));
  item.registerFailure =
      Error::withDescription("SMAppServiceErrorDomain", 1, "Operation not permitted");
  EXPECT_EQ(set(true), std::tuple(false, 2, 2));
  EXPECT_TRUE(capture.contains(
      "[Zephro] Failed to toggle launch at login: Error Domain=SMAppServiceErrorDomain Code=1 "
      "\"Operation not permitted\" UserInfo={NSLocalizedDescription=Operation not permitted}"));

  // A registration that succeeds but still awaits approval leaves the switch off.
  item.registerFailure.reset();
  item.statusAfterRegister = static_cast<int>(ServiceStatus::requiresApproval);
  EXPECT_FALSE(std::get<0>(set(true)));
  item.setStatus(42);
  EXPECT_FALSE(isLaunchAtLoginEnabled(manager));
}

}  // namespace
}  // namespace zephro
