#pragma once

#include <cstdint>
#include <span>

namespace zephro::smc {

// The SMC's numeric encodings. Decoders read the leading bytes of a value; the
// caller guarantees the span holds them (2 bytes for fpe2/sp78, 4 for flt).
//
// Encoders never convert a NaN or an out-of-range double to an integer: the clamps
// catch infinities, and NaN encodes as 0 (fpe2 and sp78), the one value that means
// "nothing" rather than a speed or temperature someone could have asked for.

// Unsigned 14.2 fixed point, big-endian.
[[nodiscard]] double decodeFpe2(std::span<const std::uint8_t> bytes);
[[nodiscard]] std::uint16_t encodeFpe2(double value);

// Signed 8.8 fixed point, big-endian two's complement.
[[nodiscard]] double decodeSp78(std::span<const std::uint8_t> bytes);
[[nodiscard]] std::uint16_t encodeSp78(double value);

// 32-bit IEEE float, host byte order. Magnitudes beyond the float range become
// infinities (as the hardware's own narrowing would), NaN stays NaN.
[[nodiscard]] double decodeFlt(std::span<const std::uint8_t> bytes);
[[nodiscard]] float narrowToFloat(double value);
void storeFlt(double value, std::span<std::uint8_t> bytes);

// Big-endian 16-bit pattern into bytes 0 and 1.
void storeBigEndian16(std::uint16_t value, std::span<std::uint8_t> bytes);
[[nodiscard]] std::uint16_t loadBigEndian16(std::span<const std::uint8_t> bytes);

}  // namespace zephro::smc
