// Frames as a client may send them to the helper, and as its replies reach the application.
#include "platform/xpc/Connection.h"
#include "platform/xpc/Frame.h"
#include "platform/xpc/Message.h"
#include "protocol/KeyedArchive.h"
#include "protocol/remote/HelperInterface.h"

namespace {

using namespace zephro;

class AnsweringHelper final : public HelperProtocol {
 public:
  void getFanInfo(FanInfoReply reply) override {
    reply({FanInfoDTO(0, 1200, 1200, 6000, FanMode::system)}, std::nullopt);
  }
  void getSystemTemperature(TemperatureReply reply) override { reply(45.5, std::nullopt); }
  void setFanMode(std::int64_t, std::vector<std::int64_t>, SetFanModeReply reply) override {
    reply(std::nullopt);
  }
  void getVersion(VersionReply reply) override { reply(kHelperProtocolVersion); }
};

void decodeAsReply(const nlohmann::json& arguments) {
  const auto attempt = [](const auto& decode) {
    try {
      (void)decode();
    } catch (const archive::DecodingError&) {
    }
  };
  for (const auto& argument : arguments) {
    attempt([&] { return archive::decodeFanInfoArray(argument, allowed::kFanInfoReply); });
    attempt([&] { return archive::decodeOptionalError(argument); });
    attempt([&] { return archive::decodeString(argument); });
    attempt([&] { return archive::decodeDouble(argument); });
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static AnsweringHelper helper;
  static const auto exported = exportedHelper(helper);

  xpc::FrameDecoder decoder;
  decoder.feed(std::span(data, size));
  while (auto payload = decoder.next()) {
    try {
      const auto message = xpc::Message::fromCbor(*payload);
      if (message.kind == xpc::Message::Kind::invoke) {
        exported->invoke(message.selector, message.arguments, [](nlohmann::json answer) {
          (void)xpc::Message::reply(1, std::move(answer)).toCbor();
        });
      } else {
        decodeAsReply(message.arguments);
      }
    } catch (const xpc::ProtocolViolation&) {
    }
  }
  return 0;
}
