#include "platform/xpc/Message.h"

#include "platform/xpc/Connection.h"

namespace zephro::xpc {
namespace {

constexpr const char* kKindInvoke = "invoke";
constexpr const char* kKindReply = "reply";
constexpr const char* kKindAccepted = "accepted";

const nlohmann::json& member(const nlohmann::json& map, const char* key) {
  const auto it = map.find(key);
  if (it == map.end()) throw ProtocolViolation(std::string("message without \"") + key + "\"");
  return *it;
}

std::uint64_t idOf(const nlohmann::json& map) {
  const auto& id = member(map, "id");
  if (!id.is_number_unsigned()) throw ProtocolViolation("message id is not an unsigned integer");
  return id.get<std::uint64_t>();
}

// Messages nest three or four levels; the bound keeps a hostile payload of nested
// arrays from exhausting the stack of the (recursive) CBOR parser.
constexpr std::size_t kMaxNesting = 16;

std::uint64_t readArgument(std::span<const std::uint8_t> bytes, std::size_t& pos,
                           std::uint8_t info) {
  if (info < 24) return info;
  const std::size_t width = std::size_t{1} << (info - 24);  // 24..27 → 1, 2, 4, 8 bytes
  if (bytes.size() - pos < width) throw ProtocolViolation("CBOR item truncated");
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) value = (value << 8) | bytes[pos++];
  return value;
}

// Walks the item structure without building anything: exactly one definite-length,
// untagged item of bounded depth, with no trailing bytes.
void checkShape(std::span<const std::uint8_t> bytes) {
  std::vector<std::uint64_t> remaining{1};
  std::size_t pos = 0;
  while (!remaining.empty()) {
    if (pos >= bytes.size()) throw ProtocolViolation("CBOR item truncated");
    const auto initial = bytes[pos++];
    const auto major = initial >> 5;
    const auto info = static_cast<std::uint8_t>(initial & 0x1f);
    if (info >= 28) throw ProtocolViolation("indefinite or reserved CBOR length");
    const auto argument = readArgument(bytes, pos, info);
    --remaining.back();
    switch (major) {
      case 2:
      case 3:
        if (bytes.size() - pos < argument) throw ProtocolViolation("CBOR item truncated");
        pos += static_cast<std::size_t>(argument);
        break;
      case 4:
      case 5: {
        if (argument > bytes.size()) throw ProtocolViolation("CBOR item truncated");
        const auto items = major == 5 ? argument * 2 : argument;
        if (items == 0) break;
        if (remaining.size() >= kMaxNesting) throw ProtocolViolation("CBOR nested too deeply");
        remaining.push_back(items);
        break;
      }
      case 6:
        throw ProtocolViolation("tagged CBOR item");
      default:
        break;
    }
    while (!remaining.empty() && remaining.back() == 0) remaining.pop_back();
  }
  if (pos != bytes.size()) throw ProtocolViolation("bytes after the CBOR item");
}

nlohmann::json argumentsOf(const nlohmann::json& map) {
  const auto& arguments = member(map, "arguments");
  if (!arguments.is_array()) throw ProtocolViolation("message arguments are not an array");
  return arguments;
}

}  // namespace

Message Message::invoke(std::uint64_t id, std::string selector, nlohmann::json arguments) {
  return Message{Kind::invoke, id, std::move(selector), std::move(arguments)};
}

Message Message::reply(std::uint64_t id, nlohmann::json arguments) {
  return Message{Kind::reply, id, {}, std::move(arguments)};
}

Message Message::accepted() {
  return Message{Kind::accepted, 0, {}, nlohmann::json::array()};
}

std::vector<std::uint8_t> Message::toCbor() const {
  nlohmann::json map;
  switch (kind) {
    case Kind::invoke:
      map = {{"kind", kKindInvoke}, {"id", id}, {"selector", selector}, {"arguments", arguments}};
      break;
    case Kind::reply:
      map = {{"kind", kKindReply}, {"id", id}, {"arguments", arguments}};
      break;
    case Kind::accepted:
      map = {{"kind", kKindAccepted}};
      break;
  }
  return nlohmann::json::to_cbor(map);
}

Message Message::fromCbor(std::span<const std::uint8_t> bytes) {
  checkShape(bytes);
  // No exceptions from the parser: a discarded result is how it reports bad input.
  const auto map = nlohmann::json::from_cbor(bytes.begin(), bytes.end(), true, false,
                                             nlohmann::json::cbor_tag_handler_t::error);
  if (map.is_discarded()) throw ProtocolViolation("payload is not one CBOR item");
  if (!map.is_object()) throw ProtocolViolation("message is not a map");
  const auto& kind = member(map, "kind");
  if (!kind.is_string()) throw ProtocolViolation("message kind is not text");
  const auto kindText = kind.get<std::string>();
  if (kindText == kKindInvoke) {
    const auto& selector = member(map, "selector");
    if (!selector.is_string()) throw ProtocolViolation("selector is not text");
    return invoke(idOf(map), selector.get<std::string>(), argumentsOf(map));
  }
  if (kindText == kKindReply) return reply(idOf(map), argumentsOf(map));
  if (kindText == kKindAccepted) return accepted();
  throw ProtocolViolation("unknown message kind \"" + kindText + "\"");
}

}  // namespace zephro::xpc
