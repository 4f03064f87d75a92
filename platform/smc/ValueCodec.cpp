#include "platform/smc/ValueCodec.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace zephro::smc {

void storeBigEndian16(std::uint16_t value, std::span<std::uint8_t> bytes) {
  bytes[0] = static_cast<std::uint8_t>(value >> 8);
  bytes[1] = static_cast<std::uint8_t>(value & 0xFF);
}

std::uint16_t loadBigEndian16(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

double decodeFpe2(std::span<const std::uint8_t> bytes) {
  return loadBigEndian16(bytes) / 4.0;
}

std::uint16_t encodeFpe2(double value) {
  double scaled = value * 4.0;
  if (std::isnan(scaled)) return 0;
  if (scaled < 0) scaled = 0;
  if (scaled > 65535) scaled = 65535;
  return static_cast<std::uint16_t>(scaled);
}

double decodeSp78(std::span<const std::uint8_t> bytes) {
  return static_cast<std::int16_t>(loadBigEndian16(bytes)) / 256.0;
}

std::uint16_t encodeSp78(double value) {
  double scaled = value * 256.0;
  if (std::isnan(scaled)) return 0;
  if (scaled > 32767) scaled = 32767;
  if (scaled < -32768) scaled = -32768;
  return static_cast<std::uint16_t>(static_cast<std::int16_t>(scaled));
}

double decodeFlt(std::span<const std::uint8_t> bytes) {
  float value = 0;
  std::memcpy(&value, bytes.data(), sizeof value);
  return value;
}

float narrowToFloat(double value) {
  constexpr double kLargest = std::numeric_limits<float>::max();
  if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
  if (value > kLargest) return std::numeric_limits<float>::infinity();
  if (value < -kLargest) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

void storeFlt(double value, std::span<std::uint8_t> bytes) {
  const float narrowed = narrowToFloat(value);
  std::memcpy(bytes.data(), &narrowed, sizeof narrowed);
}

}  // namespace zephro::smc
