#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "helper/FanLease.h"
#include "helper/SMCWrapperObjC.h"
#include "platform/codesign/TrustAnchor.h"
#include "platform/polkit/PolkitAuthority.h"
#include "platform/xpc/Listener.h"
#include "protocol/HelperProtocol.h"

namespace zephro {

// The code requirement a client must satisfy: the application, signed by our team.
inline constexpr const char* kClientRequirement =
    "anchor apple generic and identifier \"com.zephro.app\" and "
    "certificate leaf[subject.OU] = \"Q7K2M9T4XW\"";

// The polkit action that lets a user other than root and the helper's own change the fans.
inline constexpr const char* kControlAction = "com.zephro.helper.control";

// Used when a fan reports no usable maximum speed.
inline constexpr double kFallbackMaxRPM = 6500.0;
// How long the firmware gets after a fan is switched to manual, per fan.
inline constexpr std::int64_t kOverrideDelayMillis = 200;

// The daemon's one service object: the listener's delegate (the code check) and
// the exported object of every accepted connection.
//
// One lock serializes the SMC work of every request, whichever connection it came
// from: the fan sequences read, modify and write the shared force mask, and two of
// them interleaved would lose a fan's bit. currentMode_ and the lease's grants and
// ends are guarded by the same lock.
//
// Forced fans never outlive the process that forced them: each accepted connection
// serves its client's requests on the client's behalf, and the lease hands the fans
// back to the firmware once the last client to force them has exited.
//
// The code check says the client is Zephro; whether it may change the fans is the
// person's business, not the file's: root and the helper's own user may, anyone else
// only when polkit authorizes them for kControlAction. Reading stays open to every
// client that passes the code check.
class HelperService final : public HelperProtocol, public xpc::ListenerDelegate {
 public:
  // Opens the SMC; nullptr (and the error filled in) when it cannot be opened.
  using SMCOpener = std::function<std::unique_ptr<SMCWrapperObjC>(Error* error)>;

  HelperService(SMCOpener openSMC, codesign::TrustAnchor anchor, polkit::Authority& authority,
                uid_t ownUser = ::geteuid());

  bool shouldAcceptNewConnection(xpc::IncomingConnection& connection) override;
  // Root, the helper's own user, a user polkit has authorized, and a user with an
  // active session (whom polkit authorizes by default) keep slots others cannot fill.
  bool isPreferredUser(uid_t uid) override;

  // Whether the subject's user may change the fans, asked of polkit where needed.
  [[nodiscard]] bool authorizeChange(const polkit::Subject& subject);

  void getFanInfo(FanInfoReply reply) override;
  void getSystemTemperature(TemperatureReply reply) override;
  void setFanMode(std::int64_t mode, std::vector<std::int64_t> percentages,
                  SetFanModeReply reply) override;
  void getVersion(VersionReply reply) override;

  // setFanMode on behalf of a client process, which then answers for forced fans.
  void setFanMode(std::int64_t mode, std::vector<std::int64_t> percentages, SetFanModeReply reply,
                  const std::shared_ptr<const LeaseHolder>& client);

  // Before the helper exits: fans that are still forced go back to the firmware, and
  // from then on no request forces them again.
  void returnFansBeforeStopping();

  [[nodiscard]] FanMode currentMode() const;

 private:
  // The SMC object, opened on first use and kept; nullptr and `error` when it
  // cannot be opened now (the next request tries again). Called with smcLock_ held.
  [[nodiscard]] SMCWrapperObjC* openSMC(Error& error);
  [[nodiscard]] FanMode inferMode(SMCWrapperObjC& smc, std::int64_t fanCount);
  [[nodiscard]] std::optional<Error> driveToMax(SMCWrapperObjC& smc, std::int64_t fanCount);
  [[nodiscard]] std::optional<Error> driveManually(SMCWrapperObjC& smc, std::int64_t fanCount,
                                                   const std::vector<std::int64_t>& percentages);
  // Hands every fan back as a system request does; called with smcLock_ held.
  void returnFansToSystem();
  void leaseExpired(std::uint64_t term, pid_t pid);

  SMCOpener opener_;
  codesign::TrustAnchor anchor_;
  polkit::Authority& authority_;
  const uid_t ownUser_;

  std::mutex usersLock_;
  std::set<uid_t> authorizedUsers_;

  mutable std::mutex smcLock_;
  std::unique_ptr<SMCWrapperObjC> smc_;
  FanMode currentMode_ = FanMode::system;
  bool stopping_ = false;
  // Last: its thread calls back into the members above until it is gone.
  FanLease lease_;
};

// The error of a fan table with fewer than one fan.
[[nodiscard]] Error fanCountError(std::int64_t fanCount);
// The error of a change the caller's user may not make.
[[nodiscard]] Error notAuthorizedError();

// Whether any fan is under manual control.
[[nodiscard]] bool anyFanForced(SMCWrapperObjC& smc);
// Every fan back to the firmware, as a system request does.
[[nodiscard]] std::optional<Error> releaseAllFans(SMCWrapperObjC& smc, std::int64_t fanCount);
// releaseAllFans for every fan the SMC counts; false, with a line that says so, when it
// failed.
bool returnAllFans(SMCWrapperObjC& smc);

}  // namespace zephro
