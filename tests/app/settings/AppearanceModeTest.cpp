#include "app/settings/AppearanceMode.h"

#include <gtest/gtest.h>

#include <QGuiApplication>

#include "platform/defaults/UserDefaults.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

TEST(AppearanceMode, StoredTextMapsToAModeAndUnknownTextIsLeftAlone) {
  const testing::TempDir dir;
  const QString path = QString::fromStdString((dir / "defaults.json").string());
  UserDefaults defaults(path);
  EXPECT_EQ(currentAppearanceMode(defaults), AppearanceMode::system);
  defaults.setString("appearanceMode", "dark");
  EXPECT_EQ(currentAppearanceMode(defaults), AppearanceMode::dark);
  defaults.setString("appearanceMode", "light");
  EXPECT_EQ(currentAppearanceMode(defaults), AppearanceMode::light);

  for (const QString& other : {QStringLiteral("sepia"), QStringLiteral("Dark"), QString()}) {
    defaults.setString("appearanceMode", other);
    EXPECT_EQ(currentAppearanceMode(defaults), AppearanceMode::system);
    EXPECT_EQ(UserDefaults(path).string("appearanceMode"), other)
        << "read as system, not rewritten";
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

}  // namespace
}  // namespace zephro
