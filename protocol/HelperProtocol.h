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

// The helper's own errors: domain "HelperError". Besides the fan count and the unknown
// mode, two statuses of the helper's own, IOKit-style in a subsystem no IOKit code uses.
inline constexpr const char* kHelperErrorDomain = "HelperError";
// The caller's user may not change the fans (polkit said no, or could not be asked).
inline constexpr std::int64_t kHelperNotAuthorized = static_cast<std::int32_t>(0xE00E4001);
// The helper is stopping and has handed the fans back; it changes them no more.
inline constexpr std::int64_t kHelperStopping = static_cast<std::int32_t>(0xE00E4002);

// The SMC's own errors cross with domain "SMCErrorDomain" and the IOKit status as code.
// kIOReturnNotPrivileged from a change: the machine's fan driver lets no fan be forced.
inline constexpr const char* kSMCErrorDomainName = "SMCErrorDomain";
inline constexpr std::int64_t kReadOnlyFanStatus = static_cast<std::int32_t>(0xE00002C1);

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
