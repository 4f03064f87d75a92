#include "app/presets/PresetRules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "app/presets/PresetPercentages.h"

namespace zephro {
namespace {

using Percentages = std::vector<std::int64_t>;

FanInfoDTO idleFan(double minRPM, double maxRPM) {
  return {0, minRPM, minRPM, maxRPM, FanMode::system};
}

Preset preset(PresetMode mode, std::int64_t value) {
  return {QUuid::createUuid(), "P", mode, value, std::nullopt};
}

TEST(PresetRules, NameIsTrimmedAndCountedInUserPerceivedCharacters) {
  const QString empty = "Name cannot be empty.";
  const QString tooLong = "Name must be 30 characters or fewer.";
  EXPECT_EQ(validateName(" \t\n\r\u00a0\u2028 "), empty);

  const QString thirty = QString("a").repeated(30);
  EXPECT_EQ(validateName(thirty), std::nullopt);
  EXPECT_EQ(validateName(thirty + "b"), tooLong);
  EXPECT_EQ(validateName("  \n" + thirty + " \t\n"), std::nullopt) << "trimmed ends do not count";
  EXPECT_EQ(validateName(" " + QString("a ").repeated(15) + "b"), tooLong) << "inner spaces count";

  // One character each: an emoji outside the basic plane, a family joined with
  // zero-width joiners, and a letter with a combining accent.
  for (const QString& character :
       {QStringLiteral("\U0001F525"), QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467"),
        QStringLiteral("e\u0301")}) {
    SCOPED_TRACE(character.toStdString());
    EXPECT_EQ(validateName(character.repeated(30)), std::nullopt);
    EXPECT_EQ(validateName(character.repeated(31)), tooLong);
  }
  EXPECT_EQ(validatePreset("   ", PresetMode::percentage, 5, {}), empty) << "name checks first";
  EXPECT_EQ(validatePreset(thirty + "!", PresetMode::rpm, -5, {0, 10}), tooLong);
}

TEST(PresetRules, ValuesAreCheckedAgainstTheBoundsOfTheirMode) {
  const QString percentage = "Percentage must be between 25% and 100%.";
  const ValueBounds rpm{1200, 5800};
  EXPECT_EQ(validatePreset("P", PresetMode::percentage, 24, rpm), percentage);
  EXPECT_EQ(validatePreset("P", PresetMode::percentage, 25, rpm), std::nullopt);
  EXPECT_EQ(validatePreset("P", PresetMode::percentage, 100, rpm), std::nullopt);
  EXPECT_EQ(validatePreset("P", PresetMode::percentage, 101, rpm), percentage);

  const QString rpmMessage = "RPM must be between 1200 and 5800.";
  EXPECT_EQ(validatePreset("R", PresetMode::rpm, 1199, rpm), rpmMessage);
  EXPECT_EQ(validatePreset("R", PresetMode::rpm, 1200, rpm), std::nullopt);
  EXPECT_EQ(validatePreset("R", PresetMode::rpm, 5800, rpm), std::nullopt);
  EXPECT_EQ(validatePreset("R", PresetMode::rpm, 5801, rpm), rpmMessage);
}

TEST(PresetRules, RpmBoundsComeFromTheFans) {
  const std::vector<FanInfoDTO> two{idleFan(1200, 5800), idleFan(1000, 6200)};
  EXPECT_EQ(rpmBounds(two), (ValueBounds{1000, 6200}));
  EXPECT_EQ(rpmBounds({}), (ValueBounds{0, 6000}));
  EXPECT_EQ(valueBounds(PresetMode::percentage, two), (ValueBounds{25, 100}));

  EXPECT_EQ(rpmBounds(std::vector{idleFan(1299.9, 5899.99)}), (ValueBounds{1299, 5899}))
      << "truncated";

  // A fan reporting no usable number must neither crash nor widen the range.
  EXPECT_EQ(rpmBounds(std::vector{idleFan(std::nan(""), INFINITY), idleFan(1500, 5000)}),
            (ValueBounds{1500, 5000}));
}

// Percentage presets and clamping at either end are checked through the view model.
TEST(PresetPercentages, RpmPresetsBecomeEachFansShareOfItsOwnRange) {
  const std::vector<FanInfoDTO> one{idleFan(1200, 5800)};
  EXPECT_EQ(presetPercentages(preset(PresetMode::rpm, 3500), one), Percentages{50});

  // Exactly 62.5 % rounds away from zero to 63 (not to the even 62); 62.375 % to 62.
  const std::vector<FanInfoDTO> eighths{idleFan(1000, 1800)};
  EXPECT_EQ(presetPercentages(preset(PresetMode::rpm, 1500), eighths), Percentages{63});
  EXPECT_EQ(presetPercentages(preset(PresetMode::rpm, 1499), eighths), Percentages{62});

  // No usable range: equal or inverted bounds, or numbers that are not numbers.
  const std::vector<FanInfoDTO> unusable{idleFan(2000, 2000), idleFan(3000, 1000),
                                         idleFan(std::nan(""), 5000)};
  EXPECT_EQ(presetPercentages(preset(PresetMode::rpm, 2500), unusable), (Percentages{25, 25, 25}));
  EXPECT_EQ(presetPercentages(preset(PresetMode::rpm, INT64_MIN), one), Percentages{25});
  EXPECT_TRUE(presetPercentages(preset(PresetMode::rpm, 3000), {}).empty());
}

}  // namespace
}  // namespace zephro
