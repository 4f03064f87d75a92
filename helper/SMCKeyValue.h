#pragma once

#include <array>
#include <cstdint>
#include <type_traits>

namespace zephro {

// A key's value as the helper passes it around: filled by a read, handed to a write.
struct SMCKeyValue {
  std::uint32_t key = 0;
  std::uint32_t dataType = 0;
  std::array<std::uint8_t, 32> bytes{};
};

static_assert(sizeof(SMCKeyValue) == 40);
static_assert(std::is_trivially_copyable_v<SMCKeyValue>);

}  // namespace zephro
