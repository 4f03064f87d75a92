#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/error/Error.h"
#include "protocol/FanInfoDTO.h"

namespace zephro {

inline constexpr const char* kHelperServiceName = "com.zephro.helper";
inline constexpr const char* kHelperProtocolVersion = "1.0.1";

// The selectors of the four operations, as they cross the socket.
namespace selector {
inline constexpr const char* kGetFanInfo = "getFanInfoWithReply:";
inline constexpr const char* kGetSystemTemperature = "getSystemTemperatureWithReply:";
inline constexpr const char* kSetFanMode = "setFanMode:percentages:reply:";
inline constexpr const char* kGetVersion = "getVersionWithReply:";
}  // namespace selector

// The four operations the helper serves. Every operation answers exactly once
// through its reply. HelperService implements it in the helper; on the client
// side a remote proxy implements it by sending messages over an xpc::Connection.
class HelperProtocol {
 public:
  using FanInfoReply =
      std::function<void(std::vector<FanInfoDTO> fans, std::optional<Error> error)>;
  using TemperatureReply = std::function<void(double celsius, std::optional<Error> error)>;
  using SetFanModeReply = std::function<void(std::optional<Error> error)>;
  using VersionReply = std::function<void(std::string version)>;

  virtual ~HelperProtocol() = default;

  // getFanInfoWithReply:
  virtual void getFanInfo(FanInfoReply reply) = 0;
  // getSystemTemperatureWithReply:
  virtual void getSystemTemperature(TemperatureReply reply) = 0;
  // setFanMode:percentages:reply: — mode is a raw FanMode value, percentages[i] is for fan i.
  virtual void setFanMode(std::int64_t mode, std::vector<std::int64_t> percentages,
                          SetFanModeReply reply) = 0;
  // getVersionWithReply:
  virtual void getVersion(VersionReply reply) = 0;
};

}  // namespace zephro
