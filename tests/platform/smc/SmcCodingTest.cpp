#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/smc/FourCharCode.h"
#include "platform/smc/ValueCodec.h"

namespace zephro::smc {
namespace {

using Bytes = std::array<std::uint8_t, 4>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::uint16_t fpe2Bytes(double value) {
  Bytes bytes{};
  storeBigEndian16(encodeFpe2(value), bytes);
  return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

TEST(FourCharCode, PacksFirstCharacterHighestAndNeverReadsPastAShortText) {
  EXPECT_EQ(packFourCharCode("FNum"), 0x464E756DU);
  EXPECT_EQ(packFourCharCode("F0Tgxyz"), packFourCharCode("F0Tg"));
  // Missing characters read as the terminator would: zero.
  EXPECT_EQ(packFourCharCode("F0A"), 0x46304100U);
  EXPECT_EQ(packFourCharCode(""), 0U);
  const std::string heapText = "F";  // ASan reports any read past its one character
  EXPECT_EQ(packFourCharCode(heapText), 0x46000000U);
  EXPECT_EQ(unpackFourCharCode(0x46532120), "FS! ");
  EXPECT_EQ(unpackFourCharCode(packFourCharCode("F0A")), std::string("F0A\0", 4));
}

TEST(ValueCodec, Fpe2RoundsTowardZeroAndClampsToItsRange) {
  const Bytes raw{0x17, 0x70};
  EXPECT_EQ(decodeFpe2(raw), 1500.0);
  EXPECT_EQ(fpe2Bytes(1500.0), 0x1770);
  EXPECT_EQ(fpe2Bytes(1500.9), 0x1773);
  EXPECT_EQ(fpe2Bytes(20000.0), 0xFFFF);
  EXPECT_EQ(fpe2Bytes(-5.0), 0x0000);
  EXPECT_EQ(fpe2Bytes(0.24), 0x0000);
  EXPECT_EQ(decodeFpe2(Bytes{0xFF, 0xFF}), 16383.75);
}

TEST(ValueCodec, Sp78IsSignedAndClampsBothWays) {
  EXPECT_EQ(decodeSp78(Bytes{0x2D, 0x80}), 45.5);
  EXPECT_EQ(decodeSp78(Bytes{0xFF, 0x00}), -1.0);
  EXPECT_EQ(encodeSp78(200.0), 0x7FFF);
  EXPECT_EQ(encodeSp78(-200.0), 0x8000);
  // Truncation toward zero, not toward minus infinity.
  EXPECT_EQ(encodeSp78(-0.001), 0x0000);
  EXPECT_EQ(encodeSp78(45.5), 0x2D80);
}

TEST(ValueCodec, NonFiniteValuesHaveDefinedEncodings) {
  EXPECT_EQ(encodeFpe2(kNaN), 0);
  EXPECT_EQ(encodeFpe2(kInf), 0xFFFF);
  EXPECT_EQ(encodeFpe2(-kInf), 0);
  EXPECT_EQ(encodeSp78(kNaN), 0);
  EXPECT_EQ(encodeSp78(kInf), 0x7FFF);
  EXPECT_EQ(encodeSp78(-kInf), 0x8000);

  Bytes bytes{};
  storeFlt(1e300, bytes);
  EXPECT_EQ(decodeFlt(bytes), kInf);
  storeFlt(kNaN, bytes);
  EXPECT_TRUE(std::isnan(decodeFlt(bytes)));
  storeFlt(2317.5, bytes);
  EXPECT_EQ(decodeFlt(bytes), 2317.5);
}

}  // namespace
}  // namespace zephro::smc
