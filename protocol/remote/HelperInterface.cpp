#include "protocol/remote/HelperInterface.h"

#include <string>

#include "platform/xpc/Connection.h"

namespace zephro {
namespace {

using nlohmann::json;

void expectCount(const std::string& selector, const json& arguments, std::size_t count) {
  if (arguments.size() != count) {
    throw xpc::ProtocolViolation(selector + " takes " + std::to_string(count) + " arguments, got " +
                                 std::to_string(arguments.size()));
  }
}

template <typename Decode>
auto decoded(const std::string& selector, int position, Decode decode) {
  try {
    return decode();
  } catch (const archive::DecodingError& error) {
    throw xpc::ProtocolViolation("argument " + std::to_string(position) + " of " + selector + ": " +
                                 error.what());
  }
}

class HelperExport final : public xpc::ExportedObject {
 public:
  explicit HelperExport(std::shared_ptr<HelperProtocol> implementation)
      : implementation_(std::move(implementation)) {}

  void invoke(const std::string& selector, const json& arguments, Reply reply) override {
    if (selector == selector::kGetFanInfo) {
      expectCount(selector, arguments, 0);
      implementation_->getFanInfo(
          [reply](const std::vector<FanInfoDTO>& fans, const std::optional<Error>& error) {
            reply(json::array(
                {archive::archiveFanInfoArray(fans), archive::archiveOptionalError(error)}));
          });
    } else if (selector == selector::kGetSystemTemperature) {
      expectCount(selector, arguments, 0);
      implementation_->getSystemTemperature(
          [reply](double celsius, const std::optional<Error>& error) {
            reply(json::array({celsius, archive::archiveOptionalError(error)}));
          });
    } else if (selector == selector::kSetFanMode) {
      expectCount(selector, arguments, 2);
      const auto mode = decoded(selector, 0, [&] { return archive::decodeInteger(arguments[0]); });
      auto percentages = decoded(selector, 1, [&] {
        return archive::decodeNumberArray(arguments[1], allowed::kPercentages);
      });
      implementation_->setFanMode(mode, std::move(percentages),
                                  [reply](const std::optional<Error>& error) {
                                    reply(json::array({archive::archiveOptionalError(error)}));
                                  });
    } else if (selector == selector::kGetVersion) {
      expectCount(selector, arguments, 0);
      implementation_->getVersion([reply](const std::string& version) {
        reply(json::array({archive::archiveString(version)}));
      });
    } else {
      throw xpc::ProtocolViolation("unknown selector " + selector);
    }
  }

 private:
  std::shared_ptr<HelperProtocol> implementation_;
};

}  // namespace

std::shared_ptr<xpc::ExportedObject> exportedHelper(HelperProtocol& implementation) {
  // Not owned: the caller keeps it alive.
  return std::make_shared<HelperExport>(
      std::shared_ptr<HelperProtocol>(std::shared_ptr<void>(), &implementation));
}

std::shared_ptr<xpc::ExportedObject> exportedHelper(
    std::shared_ptr<HelperProtocol> implementation) {
  return std::make_shared<HelperExport>(std::move(implementation));
}

}  // namespace zephro
