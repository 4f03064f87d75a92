#include "platform/log/Format.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

namespace zephro::format {
namespace {

TEST(Format, ShortestDoubleKeepsWholeValuesAsDecimalsAndRoundTrips) {
  EXPECT_EQ(shortestDouble(6500), "6500.0");
  EXPECT_EQ(shortestDouble(0), "0.0");
  EXPECT_EQ(shortestDouble(2317.5), "2317.5");
  EXPECT_EQ(shortestDouble(0.1), "0.1");
  EXPECT_EQ(shortestDouble(-1.0), "-1.0");
  EXPECT_EQ(shortestDouble(1200 + 0.5 * 4800), "3600.0");
  EXPECT_EQ(shortestDouble(std::numeric_limits<double>::quiet_NaN()), "nan");
  EXPECT_EQ(shortestDouble(std::numeric_limits<double>::infinity()), "inf");
}

TEST(Format, IntegerListsAndPrintf) {
  EXPECT_EQ(integerList(std::vector<std::int64_t>{40, 60}), "[40, 60]");
  EXPECT_EQ(integerList(std::vector<std::int64_t>{}), "[]");
  EXPECT_EQ(integerList(std::vector<std::int64_t>{-5}), "[-5]");
  EXPECT_EQ(printf("mask=0x%04X value=%.1f", 3U, 1500.0), "mask=0x0003 value=1500.0");
  EXPECT_EQ(printf("%s", ""), "");
}

TEST(Format, ErrorTextMatchesStrerrorForKnownAndUnknownValues) {
  EXPECT_EQ(errorText(ENOENT), "No such file or directory");
  EXPECT_EQ(errorText(ECONNREFUSED), "Connection refused");
  EXPECT_EQ(errorText(EACCES), std::strerror(EACCES));
  EXPECT_EQ(errorText(99999), "Unknown error 99999");
}

}  // namespace
}  // namespace zephro::format
