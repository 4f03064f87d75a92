#include "app/viewmodel/FanPercentage.h"

#include <gtest/gtest.h>

#include <limits>

namespace zephro {
namespace {

FanInfoDTO fan(double current, double minimum, double maximum) {
  return {0, current, minimum, maximum, FanMode::system};
}

// (+10 at 95 % and -10 at 30 % are shown through the view model.)
TEST(FanPercentage, UnusableReadingsShow25AndExtremesNeverOverflow) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(fanPercentage(fan(nan, 1200, 6000)), 25);
  EXPECT_EQ(fanPercentage(fan(3000, nan, 6000)), 25);
  EXPECT_EQ(fanPercentage(fan(1e300, 0, 1e-300)), std::numeric_limits<int>::max());

  const std::vector<FanInfoDTO> at30 = {fan(1600, 1000, 3000), fan(4000, 4000, 4000)};
  EXPECT_EQ(steppedPercentages(at30, std::numeric_limits<int>::max()),
            (std::vector<int>{100, 100}));
  EXPECT_EQ(steppedPercentages(at30, std::numeric_limits<int>::min()), (std::vector<int>{25, 25}));
}

}  // namespace
}  // namespace zephro
