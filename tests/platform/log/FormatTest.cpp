#include "platform/log/Format.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace zephro::format {
namespace {

TEST(Format, ShortestDoubleKeepsWholeValuesAsDecimalsAndRoundTrips) {
  EXPECT_EQ(shortestDouble(6500), "6500.0");
  EXPECT_EQ(shortestDouble(0), "0.0");
  EXPECT_EQ(shortestDouble(2317.5), "2317.5");
  EXPECT_EQ(shortestDouble(0.1), "0.1");
  EXPECT_EQ(shortestDouble(-1.0), "-1.0");
  EXPECT_EQ(shortestDouble(std::numeric_limits<double>::quiet_NaN()), "nan");
  EXPECT_EQ(shortestDouble(std::numeric_limits<double>::infinity()), "inf");
}

// Lists and other formats are checked through the helper's log lines; here only the edge.
TEST(Format, PrintfOfNothingIsEmpty) {
  EXPECT_EQ(printf("%s", ""), "");
}

TEST(Format, ErrorTextMatchesStrerrorForKnownAndUnknownValues) {
  EXPECT_EQ(errorText(ENOENT), "No such file or directory");
  EXPECT_EQ(errorText(EACCES), std::strerror(EACCES));
  EXPECT_EQ(errorText(99999), "Unknown error 99999");
}

}  // namespace
}  // namespace zephro::format
