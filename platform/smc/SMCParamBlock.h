#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace zephro::smc {

// Commands carried in SMCParamBlock::data8.
inline constexpr std::uint8_t kCommandReadKeyInfo = 9;
inline constexpr std::uint8_t kCommandReadValue = 5;
inline constexpr std::uint8_t kCommandWriteValue = 6;

// The struct-method selector of the SMC user client that exchanges a parameter block.
inline constexpr std::uint32_t kSelectorHandleParamBlock = 2;

// The part of the block the key-information lookup fills. Copied as 12 raw bytes,
// padding included.
struct SMCKeyInfoData {
  std::uint32_t dataSize;
  std::uint32_t dataType;
  std::uint8_t dataAttributes;
  std::uint8_t padding[3];
};

// The 80-byte record exchanged with the user client, in host byte order. Every
// padding byte is a named field so the layout is exactly the kernel's and a copy
// of the struct is a copy of all 80 bytes.
struct SMCParamBlock {
  std::uint32_t key;
  std::uint8_t version[6];
  std::uint8_t padding0[2];
  std::uint8_t powerLimit[16];
  SMCKeyInfoData keyInfo;
  std::uint8_t result;
  std::uint8_t status;
  std::uint8_t data8;
  std::uint8_t padding1;
  std::uint32_t data32;
  std::array<std::uint8_t, 32> bytes;
};

inline constexpr std::size_t kParamBlockSize = 80;
inline constexpr std::size_t kKeyInfoOffset = 28;
inline constexpr std::size_t kKeyInfoSize = 12;

static_assert(sizeof(SMCKeyInfoData) == kKeyInfoSize);
static_assert(sizeof(SMCParamBlock) == kParamBlockSize);
static_assert(std::is_trivially_copyable_v<SMCParamBlock>);
static_assert(std::is_standard_layout_v<SMCParamBlock>);
static_assert(std::has_unique_object_representations_v<SMCParamBlock>, "no hidden padding");
static_assert(offsetof(SMCParamBlock, key) == 0);
static_assert(offsetof(SMCParamBlock, version) == 4);
static_assert(offsetof(SMCParamBlock, padding0) == 10);
static_assert(offsetof(SMCParamBlock, powerLimit) == 12);
static_assert(offsetof(SMCParamBlock, keyInfo) == kKeyInfoOffset);
static_assert(offsetof(SMCParamBlock, keyInfo) + offsetof(SMCKeyInfoData, dataSize) == 28);
static_assert(offsetof(SMCParamBlock, keyInfo) + offsetof(SMCKeyInfoData, dataType) == 32);
static_assert(offsetof(SMCParamBlock, keyInfo) + offsetof(SMCKeyInfoData, dataAttributes) == 36);
static_assert(offsetof(SMCParamBlock, keyInfo) + offsetof(SMCKeyInfoData, padding) == 37);
static_assert(offsetof(SMCParamBlock, result) == 40);
static_assert(offsetof(SMCParamBlock, status) == 41);
static_assert(offsetof(SMCParamBlock, data8) == 42);
static_assert(offsetof(SMCParamBlock, padding1) == 43);
static_assert(offsetof(SMCParamBlock, data32) == 44);
static_assert(offsetof(SMCParamBlock, bytes) == 48);

}  // namespace zephro::smc
