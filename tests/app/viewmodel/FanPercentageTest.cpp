#include "app/viewmodel/FanPercentage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zephro {
namespace {

FanInfoDTO fan(double current, double minimum, double maximum) {
  return FanInfoDTO(0, current, minimum, maximum, FanMode::system);
}

TEST(FanPercentage, RoundsHalvesAwayFromZeroWithAFloorButNoCeiling) {
  EXPECT_EQ(fanPercentage(fan(3000, 1200, 6000)), 38);  // 37.5
  EXPECT_EQ(fanPercentage(fan(2900, 1000, 3000)), 95);
  EXPECT_EQ(fanPercentage(fan(1000, 1200, 6000)), 25);  // -4.17
  EXPECT_EQ(fanPercentage(fan(2400, 1200, 6000)), 25);
  EXPECT_EQ(fanPercentage(fan(2448, 1200, 6000)), 26);
  EXPECT_EQ(fanPercentage(fan(6600, 1200, 6000)), 113);  // 112.5, above the maximum
}

TEST(FanPercentage, AFanWithoutAUsableRangeOrReadingShows25) {
  EXPECT_EQ(fanPercentage(fan(4000, 4000, 4000)), 25);
  EXPECT_EQ(fanPercentage(fan(4000, 5000, 4000)), 25);
  EXPECT_EQ(fanPercentage(fan(0, 0, 0)), 25);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(fanPercentage(fan(nan, 1200, 6000)), 25);
  EXPECT_EQ(fanPercentage(fan(3000, nan, 6000)), 25);
  EXPECT_EQ(fanPercentage(fan(1e300, 0, 1e-300)), std::numeric_limits<int>::max());
}

TEST(FanPercentage, StepsStartFromTheSpeedsAndStayWithin25To100) {
  const std::vector<FanInfoDTO> at95 = {fan(2900, 1000, 3000), fan(5750, 1000, 6000)};
  EXPECT_EQ(steppedPercentages(at95, 10), (std::vector<int>{100, 100}));
  const std::vector<FanInfoDTO> at30 = {fan(1600, 1000, 3000), fan(4000, 4000, 4000)};
  EXPECT_EQ(steppedPercentages(at30, -10), (std::vector<int>{25, 25}));
  EXPECT_EQ(steppedPercentages(at30, 5), (std::vector<int>{35, 30}));
  EXPECT_EQ(steppedPercentages(at30, std::numeric_limits<int>::max()),
            (std::vector<int>{100, 100}));
  EXPECT_EQ(steppedPercentages(at30, std::numeric_limits<int>::min()), (std::vector<int>{25, 25}));
  EXPECT_TRUE(steppedPercentages({}, 10).empty());
}

}  // namespace
}  // namespace zephro
