#include "app/presets/PresetPercentages.h"

#include <gtest/gtest.h>

#include <cmath>

namespace zephro {
namespace {

using Percentages = std::vector<std::int64_t>;

FanInfoDTO fan(double minRPM, double maxRPM) {
  return {0, 2000, minRPM, maxRPM, FanMode::manual};
}

Preset preset(PresetMode mode, std::int64_t value) {
  return {QUuid::createUuid(), "P", mode, value, std::nullopt};
}

// Percentage presets and clamping at either end are checked through the view model.
TEST(PresetPercentages, RpmPresetsBecomeEachFansShareOfItsOwnRange) {
  const std::vector<FanInfoDTO> one{fan(1200, 5800)};
  EXPECT_EQ(presetPercentages(preset(PresetMode::rpm, 3500), one), Percentages{50});

  // Exactly 62.5 % rounds away from zero to 63 (not to the even 62); 62.375 % to 62.
  const std::vector<FanInfoDTO> eighths{fan(1000, 1800)};
  EXPECT_EQ(presetPercentages(preset(PresetMode::rpm, 1500), eighths), Percentages{63});
  EXPECT_EQ(presetPercentages(preset(PresetMode::rpm, 1499), eighths), Percentages{62});

  // No usable range: equal or inverted bounds, or numbers that are not numbers.
  const std::vector<FanInfoDTO> unusable{fan(2000, 2000), fan(3000, 1000), fan(std::nan(""), 5000)};
  EXPECT_EQ(presetPercentages(preset(PresetMode::rpm, 2500), unusable), (Percentages{25, 25, 25}));
  const auto extremes = preset(PresetMode::rpm, std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(presetPercentages(extremes, one), Percentages{25});
  EXPECT_TRUE(presetPercentages(preset(PresetMode::rpm, 3000), {}).empty());
}

}  // namespace
}  // namespace zephro
