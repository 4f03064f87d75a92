#include "app/ui/ReduceMotion.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "tests/support/TempDir.h"

namespace zephro {
namespace {

TEST(ReduceMotion, TheOverrideDecidesThenKdeThenGnome) {
  const std::vector<std::pair<MotionSettings, bool>> cases{
      {{}, false},
      {{.override = "1", .kdeAnimationDurationFactor = 1.0, .gnomeEnableAnimations = true}, true},
      {{.override = "0", .kdeAnimationDurationFactor = 0.0, .gnomeEnableAnimations = false}, false},
      // Anything else in the variable is no override.
      {{.override = "yes", .kdeAnimationDurationFactor = 0.0}, true},
      {{.kdeAnimationDurationFactor = 0.0}, true},
      {{.kdeAnimationDurationFactor = 0.5}, false},
      {{.gnomeEnableAnimations = false}, true},
      {{.gnomeEnableAnimations = true}, false},
  };
  for (const auto& [settings, reduces] : cases) {
    EXPECT_EQ(reducesMotion(settings), reduces) << settings.override.value_or("-").toStdString();
  }
}

TEST(ReduceMotion, ReadsTheEnvironmentAndKdeglobals) {
  const testing::TempDir config;
  std::ofstream(config / "kdeglobals") << "[KDE]\nAnimationDurationFactor=0\n";
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.path().string()));

  qputenv("ZEPHRO_REDUCE_MOTION", "0");
  const MotionSettings forced = desktopMotionSettings();
  EXPECT_EQ(forced.override, "0");
  // An override is not second-guessed by the desktop.
  EXPECT_EQ(forced.kdeAnimationDurationFactor, std::nullopt);

  qunsetenv("ZEPHRO_REDUCE_MOTION");
  const MotionSettings desktop = desktopMotionSettings();
  EXPECT_EQ(desktop.override, std::nullopt);
  EXPECT_EQ(desktop.kdeAnimationDurationFactor, 0.0);
  EXPECT_TRUE(reducesMotion(desktop));
  qunsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace zephro
