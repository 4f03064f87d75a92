#include "app/presets/PresetRules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace zephro {
namespace {

FanInfoDTO fan(double minRPM, double maxRPM) {
  return FanInfoDTO(0, minRPM, minRPM, maxRPM, FanMode::system);
}

QString repeated(const QString& piece, int times) {
  return piece.repeated(times);
}

TEST(PresetRules, NameIsTrimmedAndCountedInUserPerceivedCharacters) {
  const QString empty = "Name cannot be empty.";
  const QString tooLong = "Name must be 30 characters or fewer.";
  EXPECT_EQ(validateName(""), empty);
  EXPECT_EQ(validateName(" \t\n\r\u00a0\u2028 "), empty);
  EXPECT_EQ(validateName("x"), std::nullopt);

  const QString thirty = repeated("a", 30);
  EXPECT_EQ(validateName(thirty), std::nullopt);
  EXPECT_EQ(validateName(thirty + "b"), tooLong);
  EXPECT_EQ(validateName("  \n" + thirty + " \t\n"), std::nullopt) << "trimmed ends do not count";
  EXPECT_EQ(validateName(" " + repeated("a ", 15) + "b"), tooLong) << "inner spaces count";

  // Each of these is one character: an emoji outside the basic plane, a family joined
  // with zero-width joiners, a flag, a letter with a combining accent, a skin tone.
  for (const QString& character :
       {QStringLiteral("\U0001F525"), QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467"),
        QStringLiteral("\U0001F1EF\U0001F1F5"), QStringLiteral("e\u0301"),
        QStringLiteral("\U0001F44D\U0001F3FD")}) {
    SCOPED_TRACE(character.toStdString());
    EXPECT_EQ(characterCount(character), 1);
    EXPECT_EQ(validateName(repeated(character, 30)), std::nullopt);
    EXPECT_EQ(validateName(repeated(character, 31)), tooLong);
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
  EXPECT_EQ(validatePreset("R", PresetMode::rpm, 60, {0, 6000}), std::nullopt);
  EXPECT_EQ(validatePreset("R", PresetMode::rpm, -1, {0, 6000}), "RPM must be between 0 and 6000.");
}

TEST(PresetRules, RpmBoundsComeFromTheFans) {
  const std::vector<FanInfoDTO> two{fan(1200, 5800), fan(1000, 6200)};
  EXPECT_EQ(rpmBounds(two), (ValueBounds{1000, 6200}));
  EXPECT_EQ(rpmBounds({}), (ValueBounds{0, 6000}));
  EXPECT_EQ(valueBounds(PresetMode::percentage, two), (ValueBounds{25, 100}));
  EXPECT_EQ(valueBounds(PresetMode::rpm, two), (ValueBounds{1000, 6200}));

  const std::vector<FanInfoDTO> fractional{fan(1299.9, 5899.99)};
  EXPECT_EQ(rpmBounds(fractional), (ValueBounds{1299, 5899})) << "truncated, not rounded";
  const std::vector<FanInfoDTO> inverted{fan(3000, 2000)};
  EXPECT_EQ(rpmBounds(inverted), (ValueBounds{3000, 3000}));

  // A fan reporting no usable number must neither crash nor widen the range.
  const double nan = std::nan("");
  const std::vector<FanInfoDTO> broken{fan(nan, INFINITY), fan(1500, 5000)};
  EXPECT_EQ(rpmBounds(broken), (ValueBounds{1500, 5000}));
  const std::vector<FanInfoDTO> allBroken{fan(nan, nan)};
  EXPECT_EQ(rpmBounds(allBroken), (ValueBounds{0, 6000}));
}

}  // namespace
}  // namespace zephro
