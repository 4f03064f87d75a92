#include "protocol/remote/RemoteHelper.h"

#include <nlohmann/json.hpp>

#include "protocol/remote/HelperInterface.h"

namespace zephro {
namespace {

using nlohmann::json;

// Decodes a reply; anything malformed is a protocol violation, which makes the
// connection give this call its error handler instead.
template <typename Decode>
void decodeReply(const char* selector, const json& arguments, std::size_t count, Decode decode) {
  if (!arguments.is_array() || arguments.size() != count) {
    throw xpc::ProtocolViolation(std::string("reply to ") + selector + " has " +
                                 std::to_string(arguments.size()) + " arguments");
  }
  try {
    decode();
  } catch (const archive::DecodingError& error) {
    throw xpc::ProtocolViolation(std::string("reply to ") + selector + ": " + error.what());
  }
}

class RemoteHelperProxy final : public HelperProtocol {
 public:
  RemoteHelperProxy(std::shared_ptr<xpc::Connection> connection,
                    xpc::Connection::ErrorHandler errorHandler)
      : connection_(std::move(connection)), errorHandler_(std::move(errorHandler)) {}

  void getFanInfo(FanInfoReply reply) override {
    send(selector::kGetFanInfo, json::array(), [reply = std::move(reply)](const json& arguments) {
      std::vector<FanInfoDTO> fans;
      std::optional<Error> error;
      decodeReply(selector::kGetFanInfo, arguments, 2, [&] {
        if (!arguments[0].is_null()) {
          fans = archive::decodeFanInfoArray(arguments[0], allowed::kFanInfoReply);
        }
        error = archive::decodeOptionalError(arguments[1]);
      });
      reply(std::move(fans), std::move(error));
    });
  }

  void getSystemTemperature(TemperatureReply reply) override {
    send(selector::kGetSystemTemperature, json::array(),
         [reply = std::move(reply)](const json& arguments) {
           double celsius = 0;
           std::optional<Error> error;
           decodeReply(selector::kGetSystemTemperature, arguments, 2, [&] {
             celsius = archive::decodeDouble(arguments[0]);
             error = archive::decodeOptionalError(arguments[1]);
           });
           reply(celsius, std::move(error));
         });
  }

  void setFanMode(std::int64_t mode, std::vector<std::int64_t> percentages,
                  SetFanModeReply reply) override {
    send(selector::kSetFanMode, json::array({mode, archive::archiveNumberArray(percentages)}),
         [reply = std::move(reply)](const json& arguments) {
           std::optional<Error> error;
           decodeReply(selector::kSetFanMode, arguments, 1,
                       [&] { error = archive::decodeOptionalError(arguments[0]); });
           reply(std::move(error));
         });
  }

  void getVersion(VersionReply reply) override {
    send(selector::kGetVersion, json::array(), [reply = std::move(reply)](const json& arguments) {
      std::string version;
      decodeReply(selector::kGetVersion, arguments, 1,
                  [&] { version = archive::decodeString(arguments[0]); });
      reply(std::move(version));
    });
  }

 private:
  void send(const char* selector, json arguments, xpc::Connection::ReplyHandler reply) {
    connection_->send(selector, std::move(arguments), std::move(reply), errorHandler_);
  }

  std::shared_ptr<xpc::Connection> connection_;
  xpc::Connection::ErrorHandler errorHandler_;
};

}  // namespace

std::shared_ptr<HelperProtocol> remoteHelperProxy(std::shared_ptr<xpc::Connection> connection,
                                                  xpc::Connection::ErrorHandler errorHandler) {
  return std::make_shared<RemoteHelperProxy>(std::move(connection), std::move(errorHandler));
}

}  // namespace zephro
