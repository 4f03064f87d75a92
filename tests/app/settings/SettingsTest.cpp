// Appearance, launch at login and the menu bar icon as the settings apply them.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include "app/settings/AppearanceMode.h"
#include "app/settings/LaunchAtLogin.h"
#include "app/settings/MenuBarVisibility.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "tests/platform/servicemanager/FakeServiceManager.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

TEST(AppearanceMode, StoredTextMapsToAModeAndUnknownTextIsLeftAlone) {
  const testing::TempDir dir;
  const QString path = QString::fromStdString((dir / "defaults.json").string());
  UserDefaults defaults(path);
  EXPECT_EQ(currentAppearanceMode(defaults), AppearanceMode::system);
  for (const auto& [stored, mode] : {std::pair{"dark", AppearanceMode::dark},
                                     {"light", AppearanceMode::light},
                                     {"sepia", AppearanceMode::system},
                                     {"Dark", AppearanceMode::system},
                                     {"", AppearanceMode::system}}) {
    defaults.setString("appearanceMode", QString::fromLatin1(stored));
    EXPECT_EQ(currentAppearanceMode(defaults), mode) << stored;
    EXPECT_EQ(UserDefaults(path).string("appearanceMode"), stored) << "read, not rewritten";
  }
  defaults.setBool("appearanceMode", true);
  EXPECT_EQ(currentAppearanceMode(defaults), AppearanceMode::system);
}

TEST(AppearanceMode, PopoverAndPaletteFollowTheModeOrTheDesktop) {
  EXPECT_EQ(applicationAppearance(AppearanceMode::system), std::nullopt);
  EXPECT_EQ(popoverAppearance(AppearanceMode::system, Appearance::dark), Appearance::dark);
  EXPECT_EQ(popoverAppearance(AppearanceMode::light, Appearance::dark), Appearance::light);

  // Light text on a dark window is dark; a palette with no contrast at all is taken as light.
  QPalette desktop(Qt::gray);
  desktop.setColor(QPalette::Window, QColor(0x30, 0x30, 0x38));
  desktop.setColor(QPalette::WindowText, QColor(0xe0, 0xe0, 0xe0));
  EXPECT_EQ(appearanceOfPalette(desktop), Appearance::dark);
  desktop.setColor(QPalette::Window, QColor(0xe0, 0xe0, 0xe0));
  EXPECT_EQ(appearanceOfPalette(desktop), Appearance::light);
}

TEST(AppearanceMode, ApplyingSetsTheApplicationPaletteAndSystemRestoresTheDesktops) {
  const QPalette desktop = QGuiApplication::palette();

  applyApplicationAppearance(AppearanceMode::dark);
  EXPECT_EQ(effectiveApplicationAppearance(), Appearance::dark);
  EXPECT_EQ(QGuiApplication::palette().color(QPalette::Window),
            paletteFor(Appearance::dark).color(QPalette::Window));
  applyApplicationAppearance(AppearanceMode::light);
  EXPECT_EQ(effectiveApplicationAppearance(), Appearance::light);

  applyApplicationAppearance(AppearanceMode::dark);
  applyApplicationAppearance(AppearanceMode::system);
  for (int role = 0; role < QPalette::NColorRoles; ++role) {
    EXPECT_EQ(QGuiApplication::palette().color(static_cast<QPalette::ColorRole>(role)),
              desktop.color(static_cast<QPalette::ColorRole>(role)))
        << "role " << role;
  }
}

TEST(LaunchAtLogin, EnablingRegistersOnceDisablingAlwaysUnregistersAndFailuresAreLogged) {
  testing::FakeServiceManager manager;
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

  const std::string failed =
      "[Zephro] Failed to toggle launch at login: Error Domain=SMAppServiceErrorDomain Code=";
  EXPECT_TRUE(capture.contains(failed +
                               "1 \"Operation not permitted\" "
                               "UserInfo={NSLocalizedDescription=Operation not permitted}"));
  EXPECT_TRUE(capture.contains(failed + "3 \"(null)\""));

  // A registration that succeeds but still awaits approval leaves the switch off.
  item.registerFailure.reset();
  item.statusAfterRegister = static_cast<int>(ServiceStatus::requiresApproval);
  setLaunchAtLogin(manager, true);
  EXPECT_FALSE(isLaunchAtLoginEnabled(manager));
  item.setStatus(42);
  EXPECT_FALSE(isLaunchAtLoginEnabled(manager));
}

TEST(MenuBarVisibility, TheIconComesBackWheneverThereIsNoText) {
  const testing::TempDir dir;
  const QString path = QString::fromStdString((dir / "defaults.json").string());
  UserDefaults defaults(path);

  // The user turns the icon off with both texts off: drawing still shows it, and the
  // next check writes it back on.
  defaults.setBool("showIconInMenuBar", false);
  EXPECT_TRUE(isMenuBarIconShown(defaults));
  ensureMenuBarIconVisible(defaults);
  EXPECT_TRUE(UserDefaults(path).boolValue("showIconInMenuBar"));

  // With either text on, the icon may stay off and the check leaves it alone.
  for (const char* text : {"showRPMInMenuBar", "showTempInMenuBar"}) {
    SCOPED_TRACE(text);
    defaults.setBool(text, true);
    defaults.setBool("showIconInMenuBar", false);
    EXPECT_TRUE(isMenuBarTextVisible(defaults));
    ensureMenuBarIconVisible(defaults);
    EXPECT_FALSE(defaults.boolValue("showIconInMenuBar"));
    EXPECT_FALSE(isMenuBarIconShown(defaults));
    defaults.setBool(text, false);
  }
}

}  // namespace
}  // namespace zephro
