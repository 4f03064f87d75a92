#pragma once

#include <gtest/gtest.h>

#include <concepts>
#include <cstring>

#include "platform/smc/EmulatedSmc.h"
#include "platform/smc/FourCharCode.h"
#include "platform/smc/SysfsUserClient.h"
#include "platform/smc/ValueCodec.h"

namespace zephro::smc::testing {

using Bytes = std::array<std::uint8_t, 4>;

struct Reply {
  KernReturn status;
  SMCParamBlock block;
};

inline SMCParamBlock paramBlock(std::uint8_t command, std::string_view key, std::uint32_t size,
                                Bytes bytes) {
  SMCParamBlock block{};
  block.key = packFourCharCode(key);
  block.data8 = command;
  block.keyInfo.dataSize = size;
  std::ranges::copy(bytes, block.bytes.begin());
  return block;
}

// Through the struct method, as the helper calls an open client.
template <std::derived_from<UserClient> Client>
Reply send(Client& client, std::uint8_t command, std::string_view key, std::uint32_t size = 0,
           Bytes bytes = {}) {
  const SMCParamBlock input = paramBlock(command, key, size, bytes);
  std::array<std::byte, kParamBlockSize> in{};
  std::array<std::byte, kParamBlockSize> out{};
  std::memcpy(in.data(), &input, in.size());
  Reply reply{
      client.callStructMethod(Client::kConnectionHandle, kSelectorHandleParamBlock, in, out), {}};
  std::memcpy(&reply.block, out.data(), out.size());
  return reply;
}

Reply info(auto& smc, std::string_view key) {
  return send(smc, kCommandReadKeyInfo, key);
}

// As the helper reads: the key's information first, then its value in that size.
Reply read(auto& smc, std::string_view key) {
  const auto keyInfo = info(smc, key).block.keyInfo;
  auto reply = send(smc, kCommandReadValue, key, keyInfo.dataSize);
  reply.block.keyInfo.dataType = keyInfo.dataType;
  return reply;
}

KernReturn write(auto& smc, std::string_view key, Bytes bytes) {
  return send(smc, kCommandWriteValue, key, info(smc, key).block.keyInfo.dataSize, bytes).status;
}

inline Bytes be16(std::uint16_t value) {
  Bytes bytes{};
  storeBigEndian16(value, bytes);
  return bytes;
}

inline Bytes fpe2(double rpm) {
  return be16(encodeFpe2(rpm));
}

// A read's value in the type the key announced.
inline double decoded(const Reply& reply) {
  return reply.block.keyInfo.dataType == kTypeSp78 ? decodeSp78(reply.block.bytes)
                                                   : decodeFpe2(reply.block.bytes);
}

}  // namespace zephro::smc::testing
