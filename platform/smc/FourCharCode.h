#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zephro::smc {

// Packs an SMC key or type name into its 32-bit code, first character in the most
// significant byte ("FNum" -> 0x464E756D). Exactly the first four bytes count; a
// shorter text is padded with zero bytes, the way its C terminator would read.
[[nodiscard]] constexpr std::uint32_t packFourCharCode(std::string_view text) {
  std::uint32_t code = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const auto byte = i < text.size() ? static_cast<std::uint8_t>(text[i]) : std::uint8_t{0};
    code = (code << 8) | byte;
  }
  return code;
}

// The four characters of a packed code; zero bytes are kept as they are.
[[nodiscard]] std::string unpackFourCharCode(std::uint32_t code);

// Well-known data types.
inline constexpr std::uint32_t kTypeFpe2 = packFourCharCode("fpe2");
inline constexpr std::uint32_t kTypeSp78 = packFourCharCode("sp78");
inline constexpr std::uint32_t kTypeFlt = packFourCharCode("flt ");
inline constexpr std::uint32_t kTypeUi8 = packFourCharCode("ui8 ");
inline constexpr std::uint32_t kTypeUi16 = packFourCharCode("ui16");
inline constexpr std::uint32_t kTypeUi32 = packFourCharCode("ui32");

// Keys every machine answers: the fan count and the mask of forced fans.
inline constexpr std::uint32_t kKeyFNum = packFourCharCode("FNum");
inline constexpr std::uint32_t kKeyForceMask = packFourCharCode("FS! ");

static_assert(packFourCharCode("FNum") == 0x464E756D);
static_assert(packFourCharCode("FS! ") == 0x46532120);
static_assert(packFourCharCode("ui16") == 0x75693136);

}  // namespace zephro::smc
