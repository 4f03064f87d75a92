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

  for (const AppearanceMode mode : allAppearanceModes) {
    defaults.setString("appearanceMode", rawValue(mode));
    EXPECT_EQ(currentAppearanceMode(defaults), mode);
  }
  EXPECT_EQ(rawValue(AppearanceMode::light), "light");
  EXPECT_EQ(rawValue(AppearanceMode::dark), "dark");
  EXPECT_EQ(rawValue(AppearanceMode::system), "system");

  for (const QString& other : {QStringLiteral("sepia"), QStringLiteral("Dark"), QString()}) {
    defaults.setString("appearanceMode", other);
    EXPECT_EQ(currentAppearanceMode(defaults), AppearanceMode::system);
    EXPECT_EQ(UserDefaults(path).string("appearanceMode"), other)
        << "read as system, not rewritten";
  }
  defaults.setBool("appearanceMode", true);
  EXPECT_EQ(currentAppearanceMode(defaults), AppearanceMode::system);
}

TEST(AppearanceMode, PopoverFollowsTheModeOrTheEffectiveAppearance) {
  EXPECT_EQ(applicationAppearance(AppearanceMode::system), std::nullopt);
  EXPECT_EQ(applicationAppearance(AppearanceMode::light), Appearance::light);
  EXPECT_EQ(applicationAppearance(AppearanceMode::dark), Appearance::dark);
  for (const Appearance effective : {Appearance::light, Appearance::dark}) {
    EXPECT_EQ(popoverAppearance(AppearanceMode::system, effective), effective);
    EXPECT_EQ(popoverAppearance(AppearanceMode::light, effective), Appearance::light);
    EXPECT_EQ(popoverAppearance(AppearanceMode::dark, effective), Appearance::dark);
  }

  EXPECT_EQ(appearanceOfPalette(paletteFor(Appearance::light)), Appearance::light);
  EXPECT_EQ(appearanceOfPalette(paletteFor(Appearance::dark)), Appearance::dark);
  // A desktop palette with light text on a dark window is dark, the usual one light,
  // and one with no contrast at all is taken as light.
  QPalette desktop(Qt::gray);
  desktop.setColor(QPalette::Window, QColor(0x30, 0x30, 0x38));
  desktop.setColor(QPalette::WindowText, QColor(0xe0, 0xe0, 0xe0));
  EXPECT_EQ(appearanceOfPalette(desktop), Appearance::dark);
  desktop.setColor(QPalette::Window, QColor(0xf0, 0xf0, 0xf0));
  desktop.setColor(QPalette::WindowText, Qt::black);
  EXPECT_EQ(appearanceOfPalette(desktop), Appearance::light);
  desktop.setColor(QPalette::WindowText, QColor(0xf0, 0xf0, 0xf0));
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
  EXPECT_EQ(effectiveApplicationAppearance(), appearanceOfPalette(desktop));
}

}  // namespace
}  // namespace zephro
