#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace zephro::xpc {

// One message on the wire, the CBOR map a frame carries.
//   invoke   client → service: id, selector, arguments
//   reply    service → client: id (of the invoke), arguments
//   accepted service → client: sent once, first, when the service accepts the client
struct Message {
  enum class Kind { invoke, reply, accepted };

  Kind kind = Kind::invoke;
  std::uint64_t id = 0;
  std::string selector;
  nlohmann::json arguments = nlohmann::json::array();

  [[nodiscard]] static Message invoke(std::uint64_t id, std::string selector,
                                      nlohmann::json arguments);
  [[nodiscard]] static Message reply(std::uint64_t id, nlohmann::json arguments);
  [[nodiscard]] static Message accepted();

  [[nodiscard]] std::vector<std::uint8_t> toCbor() const;
  // Throws ProtocolViolation on anything that is not a well-formed message.
  [[nodiscard]] static Message fromCbor(std::span<const std::uint8_t> bytes);
};

}  // namespace zephro::xpc
