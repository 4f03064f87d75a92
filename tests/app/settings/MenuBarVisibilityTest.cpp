#include "app/settings/MenuBarVisibility.h"

#include <gtest/gtest.h>

#include "platform/defaults/UserDefaults.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

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
