#include "helper/HelperService.h"

#include <fcntl.h>

#include <algorithm>

#include "platform/codesign/AuditToken.h"
#include "platform/codesign/Code.h"
#include "platform/codesign/Keys.h"
#include "platform/log/Format.h"
#include "platform/log/Log.h"
#include "platform/polkit/LocalSessions.h"
#include "platform/posix/ChildProcess.h"
#include "protocol/remote/HelperInterface.h"

namespace zephro {
namespace {

void logLine(const std::string& text) {
  log::write("[ZephroHelper] " + text);
}

std::string number(double value) {
  return format::shortestDouble(value);
}

void logHandBackFailure(const Error& failure) {
  logLine("Returning the fans to system control failed: " + failure.fullDescription());
}

// The process at the other end of an accepted connection, pinned.
struct Caller {
  polkit::Subject subject;
  std::shared_ptr<const LeaseHolder> holder;  // owns the pidfd the subject borrows
};

// One accepted connection's view of the service: its requests are made on behalf
// of the client process, which then answers for the fans it forced. Whether its user
// may change the fans is asked once, at its first change, and kept for the connection.
class ClientSession final : public HelperProtocol {
 public:
  ClientSession(HelperService& service, Caller caller)
      : service_(service), caller_(std::move(caller)) {}

  void getFanInfo(FanInfoReply reply) override { service_.getFanInfo(std::move(reply)); }
  void getSystemTemperature(TemperatureReply reply) override {
    service_.getSystemTemperature(std::move(reply));
  }
  void setFanMode(std::int64_t mode, std::vector<std::int64_t> percentages,
                  SetFanModeReply reply) override {
    // Requests of one connection run one after another, so the answer needs no lock.
    if (!mayChangeFans_) mayChangeFans_ = service_.authorizeChange(caller_.subject);
    if (!*mayChangeFans_) {
      logLine("Refused fan change from pid " + std::to_string(caller_.subject.pid) + " (uid " +
              std::to_string(caller_.subject.uid) + "): not authorized.");
      reply(notAuthorizedError());
      return;
    }
    service_.setFanMode(mode, std::move(percentages), std::move(reply), caller_.holder);
  }
  void getVersion(VersionReply reply) override { service_.getVersion(std::move(reply)); }

 private:
  HelperService& service_;
  Caller caller_;
  std::optional<bool> mayChangeFans_;
};

Caller callerFor(const codesign::AuditToken& token) {
  auto holder = std::make_shared<LeaseHolder>();
  holder->pid = token.pid;
  holder->pidfd = FileDescriptor(::fcntl(token.pidfd.get(), F_DUPFD_CLOEXEC, 0));
  const polkit::Subject subject{token.pid, token.startTime, token.uid, holder->pidfd.get()};
  return {subject, std::move(holder)};
}

// What the code check of one caller found: whether its code could be resolved, and
// the check's status.
struct CheckOutcome {
  bool resolved = false;
  codesign::OSStatus status = codesign::errSecCSCancelled;
};

// Runs the code check in a child process: it reads the caller's executable and its
// /proc entries, which the caller can make block, and a child can be killed at the
// deadline where a thread could not be taken out of the read.
CheckOutcome checkCode(const codesign::AuditToken& token, const codesign::Requirement& requirement,
                       const codesign::TrustAnchor& anchor, const codesign::CheckLimits& limits) {
  const auto outcome = proc::runInChild<CheckOutcome>(limits.deadline, [&] {
    std::unique_ptr<codesign::Code> code;
    if (codesign::copyGuestWithAttributes(token, code) != codesign::errSecSuccess || !code) {
      return CheckOutcome{false, codesign::errSecCSNoSuchCode};
    }
    return CheckOutcome{true, codesign::checkValidity(*code, requirement, anchor, limits)};
  });
  return outcome.value_or(CheckOutcome{true, codesign::errSecCSCancelled});
}

}  // namespace

Error fanCountError(std::int64_t fanCount) {
  return Error::withDescription(kHelperErrorDomain, fanCount,
                                "fanCount is " + std::to_string(fanCount));
}

Error notAuthorizedError() {
  return Error::withDescription(kHelperErrorDomain, kHelperNotAuthorized,
                                "Not authorized to change the fans.");
}

bool anyFanForced(SMCWrapperObjC& smc) {
  const auto count = smc.fanCount();
  for (std::int64_t i = 0; i < count; ++i) {
    if (smc.isFanUnderManualControlForIndex(i)) return true;
  }
  return false;
}

std::optional<Error> releaseAllFans(SMCWrapperObjC& smc, std::int64_t fanCount) {
  logLine("Releasing fan control back to system...");
  Error error;
  if (!smc.clearAllForceBitsWithError(&error)) return error;
  for (std::int64_t i = 0; i < fanCount; ++i) {
    if (!smc.releaseFanOverrideForIndex(i, &error)) return error;
  }
  return std::nullopt;
}

bool returnAllFans(SMCWrapperObjC& smc) {
  const auto failure = releaseAllFans(smc, smc.fanCount());
  if (failure) logHandBackFailure(*failure);
  return !failure;
}

HelperService::HelperService(SMCOpener openSMC, codesign::TrustAnchor anchor,
                             polkit::Authority& authority, uid_t ownUser)
    : opener_(std::move(openSMC)),
      anchor_(anchor),
      authority_(authority),
      ownUser_(ownUser),
      lease_([this](std::uint64_t term, pid_t pid) { leaseExpired(term, pid); }) {
  // Before any check forks: a child must not find the library's one-time set-up half
  // done by another thread.
  codesign::ensureSodium();
}

bool HelperService::shouldAcceptNewConnection(xpc::IncomingConnection& connection) {
  const auto token = codesign::auditTokenOfPeer(connection.socketFd());
  const auto refuse = [&token](const std::string& why) {
    logLine("Rejected connection from pid " + std::to_string(token.pid) + ": " + why);
    return false;
  };
  constexpr const char* kUnresolved = "could not resolve caller's code.";
  // A process started after the connection was accepted cannot be the one that
  // connected: its pid was reused (kernels without SO_PEERPIDFD pin by pid).
  if (!token.pidfd || token.startTime > connection.acceptedAt()) return refuse(kUnresolved);
  std::unique_ptr<codesign::Requirement> requirement;
  if (codesign::requirementCreateWithString(kClientRequirement, requirement) !=
          codesign::errSecSuccess ||
      !requirement) {
    logLine("Rejected connection: failed to build client code requirement.");
    return false;
  }
  const codesign::CheckLimits limits{.deadline = connection.deadline()};
  const auto outcome = checkCode(token, *requirement, anchor_, limits);
  if (!outcome.resolved) return refuse(kUnresolved);
  if (outcome.status == codesign::errSecCSCancelled) {
    return refuse("code check did not finish in time.");
  }
  if (outcome.status != codesign::errSecSuccess) {
    return refuse("failed code requirement check (status " + std::to_string(outcome.status) + ").");
  }
  logLine("Accepted XPC connection from pid " + std::to_string(token.pid) + ".");
  connection.setExportedObject(
      exportedHelper(std::make_shared<ClientSession>(*this, callerFor(token))));
  connection.resume();
  return true;
}

bool HelperService::authorizeChange(const polkit::Subject& subject) {
  if (subject.uid == 0 || subject.uid == ownUser_) return true;
  const auto decision = authority_.check(kControlAction, subject);
  switch (decision.answer) {
    case polkit::Decision::Answer::authorized: {
      // Remembered only to keep the user a slot; each connection still asks.
      constexpr std::size_t kMaxRemembered = 256;
      const std::lock_guard lock(usersLock_);
      if (authorizedUsers_.size() < kMaxRemembered) authorizedUsers_.insert(subject.uid);
      return true;
    }
    case polkit::Decision::Answer::notAuthorized:
      return false;
    case polkit::Decision::Answer::unavailable:
      logLine("Cannot ask polkit whether uid " + std::to_string(subject.uid) +
              " may change the fans (" + decision.reason +
              "); only root and the helper's own user may.");
      return false;
  }
  return false;
}

bool HelperService::isPreferredUser(uid_t uid) {
  if (uid == 0 || uid == ownUser_) return true;
  {
    const std::lock_guard lock(usersLock_);
    if (authorizedUsers_.contains(uid)) return true;
  }
  return polkit::hasActiveSession(uid);
}

SMCWrapperObjC* HelperService::openSMC(Error& error) {
  if (!smc_) {
    smc_ = opener_(&error);
    if (!smc_) return nullptr;
    logLine("Opened AppleSMC connection.");
  }
  return smc_.get();
}

void HelperService::getVersion(VersionReply reply) {
  reply(kHelperProtocolVersion);
}

void HelperService::getSystemTemperature(TemperatureReply reply) {
  std::unique_lock lock(smcLock_);
  Error error;
  auto* smc = openSMC(error);
  if (!smc) {
    lock.unlock();
    reply(0.0, error);
    return;
  }
  double celsius = 0.0;
  const bool read = smc->readSystemTemperature(celsius, &error);
  lock.unlock();
  reply(celsius, read ? std::nullopt : std::optional<Error>(error));
}

void HelperService::getFanInfo(FanInfoReply reply) {
  std::unique_lock lock(smcLock_);
  Error error;
  auto* smc = openSMC(error);
  if (!smc) {
    lock.unlock();
    reply({}, error);
    return;
  }
  const auto count = smc->fanCount();
  if (count < 1) {
    lock.unlock();
    reply({}, fanCountError(count));
    return;
  }
  const auto mode = inferMode(*smc, count);
  std::vector<FanInfoDTO> fans;
  std::string entries;
  for (std::int64_t i = 0; i < count; ++i) {
    SMCWrapperObjC::FanReadings readings;
    if (!smc->readFan(i, readings, &error)) {
      lock.unlock();
      reply({}, error);
      return;
    }
    fans.emplace_back(i, readings.actual, readings.minimum, readings.maximum, mode);
    const auto& fan = fans.back();
    if (i > 0) entries += ", ";
    entries += "fan" + std::to_string(i) + ": " + number(fan.currentRPM()) +
               "RPM min=" + number(fan.minRPM()) + " max=" + number(fan.maxRPM());
  }
  lock.unlock();
  logLine("getFanInfo: " + entries);
  reply(std::move(fans), std::nullopt);
}

FanMode HelperService::inferMode(SMCWrapperObjC& smc, std::int64_t fanCount) {
  for (std::int64_t i = 0; i < fanCount; ++i) {
    if (smc.isFanUnderManualControlForIndex(i)) {
      return currentMode_ == FanMode::system ? FanMode::manual : currentMode_;
    }
  }
  if (currentMode_ != FanMode::system) {
    logLine("getFanInfo: SMC shows system control but currentMode was " +
            std::to_string(rawValue(currentMode_)) + "; resyncing to .system.");
    currentMode_ = FanMode::system;
  }
  return FanMode::system;
}

void HelperService::setFanMode(std::int64_t mode, std::vector<std::int64_t> percentages,
                               SetFanModeReply reply) {
  setFanMode(mode, std::move(percentages), std::move(reply), nullptr);
}

void HelperService::setFanMode(std::int64_t mode, std::vector<std::int64_t> percentages,
                               SetFanModeReply reply,
                               const std::shared_ptr<const LeaseHolder>& client) {
  std::unique_lock lock(smcLock_);
  std::optional<Error> failure;
  if (Error error; auto* smc = openSMC(error)) {
    const auto count = smc->fanCount();
    logLine("setFanMode: mode=" + std::to_string(mode) + " (" + fanModeName(mode) +
            "), percentages=" + format::integerList(percentages) +
            ", fanCount=" + std::to_string(count));
    const auto requested = fanModeFromRaw(mode);
    if (stopping_) {
      // The fans went back to the firmware for good; nothing may force them again.
      failure =
          Error::withDescription(kHelperErrorDomain, kHelperStopping, "The helper is stopping.");
    } else if (!requested) {
      // Never a fan driven on a mode nobody defined.
      failure = Error::withDescription(kHelperErrorDomain, mode,
                                       "Unknown fan mode " + std::to_string(mode));
    } else if (*requested == FanMode::system) {
      failure = releaseAllFans(*smc, count);
    } else if (count < 1) {
      // Nothing could be driven: saying so beats reporting a success.
      failure = fanCountError(count);
    } else {
      failure = *requested == FanMode::max ? driveToMax(*smc, count)
                                           : driveManually(*smc, count, percentages);
      // Driven or partly driven, the fans are now this client's to answer for.
      lease_.grant(client);
    }
    if (!failure) currentMode_ = *requested;
    if (!failure && *requested == FanMode::system) lease_.end();
  } else {
    failure = error;
  }
  lock.unlock();
  if (failure) logLine("setFanMode ERROR: " + failure->fullDescription());
  reply(failure);
}

std::optional<Error> HelperService::driveToMax(SMCWrapperObjC& smc, std::int64_t fanCount) {
  for (std::int64_t i = 0; i < fanCount; ++i) {
    const auto fan = "Fan " + std::to_string(i);
    SMCWrapperObjC::FanReadings readings;
    if (Error error; !smc.readFan(i, readings, &error)) return error;
    double target = readings.maximum;
    if (target <= 0) {
      logLine(fan + ": maxRPM was 0, using fallback " + number(kFallbackMaxRPM));
      target = kFallbackMaxRPM;
    }
    logLine(fan + ": setting to max RPM = " + number(target));
    Error error;
    if (!smc.setFanSpeedWithWakeOverrideForIndex(i, target, kOverrideDelayMillis, &error)) {
      return error;
    }
  }
  return std::nullopt;
}

std::optional<Error> HelperService::driveManually(SMCWrapperObjC& smc, std::int64_t fanCount,
                                                  const std::vector<std::int64_t>& percentages) {
  for (std::size_t position = 0; position < percentages.size(); ++position) {
    const auto i = static_cast<std::int64_t>(position);
    if (i >= fanCount) continue;
    const auto fan = "Fan " + std::to_string(i);
    // The percentage comes from another process: keep the target inside the fan's range.
    const auto requested = percentages[position];
    const auto pct = std::clamp<std::int64_t>(requested, 0, 100);
    if (pct != requested) {
      logLine(fan + ": pct=" + std::to_string(requested) + "% is outside 0 to 100, clamped to " +
              std::to_string(pct) + "%");
    }
    SMCWrapperObjC::FanReadings readings;
    if (Error error; !smc.readFan(i, readings, &error)) return error;
    double minimum = readings.minimum;
    double maximum = readings.maximum;
    logLine(fan + ": pct=" + std::to_string(pct) + "%, min=" + number(minimum) +
            ", max=" + number(maximum));
    if (maximum <= 0) {
      logLine(fan + ": maxRPM was 0, using fallback " + number(kFallbackMaxRPM));
      maximum = kFallbackMaxRPM;
    }
    if (minimum < 0) {
      minimum = 0;
    } else if (maximum <= minimum) {
      maximum = std::max(minimum + 1.0, kFallbackMaxRPM);
      logLine(fan + ": maxRPM <= minRPM, using fallback " + number(maximum));
    }
    const double target = minimum + (static_cast<double>(pct) / 100.0) * (maximum - minimum);
    logLine(fan + ": computed target = " + number(target) + " RPM");
    Error error;
    if (!smc.setFanSpeedWithWakeOverrideForIndex(i, target, kOverrideDelayMillis, &error)) {
      return error;
    }
  }
  return std::nullopt;
}

void HelperService::returnFansToSystem() {
  Error error;
  auto* smc = openSMC(error);
  if (!smc) {
    logHandBackFailure(error);
    return;
  }
  if (!returnAllFans(*smc)) return;
  currentMode_ = FanMode::system;
  lease_.end();
}

void HelperService::leaseExpired(std::uint64_t term, pid_t pid) {
  const std::lock_guard lock(smcLock_);
  if (lease_.term() != term) return;  // a request changed the mode since
  logLine("Client pid " + std::to_string(pid) +
          " that forced the fans has exited; returning them to system control.");
  returnFansToSystem();
}

void HelperService::returnFansBeforeStopping() {
  const std::lock_guard lock(smcLock_);
  stopping_ = true;
  Error error;
  auto* smc = openSMC(error);
  if (!smc) return;
  if (currentMode_ == FanMode::system && !anyFanForced(*smc)) return;
  logLine("Stopping: returning the fans to system control.");
  returnFansToSystem();
}

FanMode HelperService::currentMode() const {
  std::lock_guard lock(smcLock_);
  return currentMode_;
}

}  // namespace zephro
