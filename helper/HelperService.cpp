#include "helper/HelperService.h"

#include <fcntl.h>

#include <algorithm>

#include "platform/codesign/AuditToken.h"
#include "platform/codesign/Code.h"
#include "platform/log/Format.h"
#include "platform/log/Log.h"
#include "protocol/remote/HelperInterface.h"

namespace zephro {
namespace {

void logLine(const std::string& text) {
  log::write("[ZephroHelper] " + text);
}

std::string number(double value) {
  return format::shortestDouble(value);
}

const char* modeName(std::int64_t mode) {
  if (mode == rawValue(FanMode::system)) return "system";
  if (mode == rawValue(FanMode::manual)) return "manual";
  return "max";
}

// One accepted connection's view of the service: its requests are made on behalf
// of the client process, which then answers for the fans it forced.
class ClientSession final : public HelperProtocol {
 public:
  ClientSession(HelperService& service, std::shared_ptr<const LeaseHolder> client)
      : service_(service), client_(std::move(client)) {}

  void getFanInfo(FanInfoReply reply) override { service_.getFanInfo(std::move(reply)); }
  void getSystemTemperature(TemperatureReply reply) override {
    service_.getSystemTemperature(std::move(reply));
  }
  void setFanMode(std::int64_t mode, std::vector<std::int64_t> percentages,
                  SetFanModeReply reply) override {
    service_.setFanMode(mode, std::move(percentages), std::move(reply), client_);
  }
  void getVersion(VersionReply reply) override { service_.getVersion(std::move(reply)); }

 private:
  HelperService& service_;
  std::shared_ptr<const LeaseHolder> client_;
};

std::shared_ptr<const LeaseHolder> leaseHolderFor(const codesign::AuditToken& token) {
  auto holder = std::make_shared<LeaseHolder>();
  holder->pid = token.pid;
  holder->pidfd = FileDescriptor(::fcntl(token.pidfd.get(), F_DUPFD_CLOEXEC, 0));
  return holder;
}

}  // namespace

Error fanCountError(std::int64_t fanCount) {
  return Error::withDescription(kHelperErrorDomain, fanCount,
                                "fanCount is " + std::to_string(fanCount));
}

HelperService::HelperService(SMCOpener openSMC, codesign::TrustAnchor anchor)
    : opener_(std::move(openSMC)),
      anchor_(anchor),
      lease_([this](std::uint64_t term, pid_t pid) { leaseExpired(term, pid); }) {}

bool HelperService::shouldAcceptNewConnection(xpc::IncomingConnection& connection) {
  const auto token = codesign::auditTokenOfPeer(connection.socketFd());
  const auto pid = std::to_string(token.pid);
  std::unique_ptr<codesign::Code> code;
  if (codesign::copyGuestWithAttributes(token, code) != codesign::errSecSuccess || !code) {
    logLine("Rejected connection from pid " + pid + ": could not resolve caller's code.");
    return false;
  }
  std::unique_ptr<codesign::Requirement> requirement;
  if (codesign::requirementCreateWithString(kClientRequirement, requirement) !=
          codesign::errSecSuccess ||
      !requirement) {
    logLine("Rejected connection: failed to build client code requirement.");
    return false;
  }
  const codesign::CheckLimits limits{.deadline = connection.deadline()};
  if (const auto status = codesign::checkValidity(*code, *requirement, anchor_, limits);
      status != 0) {
    if (status == codesign::errSecCSCancelled) {
      logLine("Rejected connection from pid " + pid + ": code check did not finish in time.");
    } else {
      logLine("Rejected connection from pid " + pid + ": failed code requirement check (status " +
              std::to_string(status) + ").");
    }
    return false;
  }
  logLine("Accepted XPC connection from pid " + pid + ".");
  connection.setExportedObject(
      exportedHelper(std::make_shared<ClientSession>(*this, leaseHolderFor(token))));
  connection.resume();
  return true;
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
  const double celsius = smc->systemTemperature();
  lock.unlock();
  reply(celsius, std::nullopt);
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
    fans.emplace_back(i, smc->fanSpeedForIndex(i), smc->fanMinSpeedForIndex(i),
                      smc->fanMaxSpeedForIndex(i), mode);
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
    logLine("setFanMode: mode=" + std::to_string(mode) + " (" + modeName(mode) + "), percentages=" +
            format::integerList(percentages) + ", fanCount=" + std::to_string(count));
    const auto requested = fanModeFromRaw(mode);
    if (!requested) {
      // Never a fan driven on a mode nobody defined.
      failure = Error::withDescription(kHelperErrorDomain, mode,
                                       "Unknown fan mode " + std::to_string(mode));
    } else if (*requested == FanMode::system) {
      failure = releaseToSystem(*smc, count);
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
    double target = smc.fanMaxSpeedForIndex(i);
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
    double minimum = smc.fanMinSpeedForIndex(i);
    double maximum = smc.fanMaxSpeedForIndex(i);
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

std::optional<Error> HelperService::releaseToSystem(SMCWrapperObjC& smc, std::int64_t fanCount) {
  logLine("Releasing fan control back to system...");
  Error error;
  if (!smc.clearAllForceBitsWithError(&error)) return error;
  for (std::int64_t i = 0; i < fanCount; ++i) {
    if (!smc.releaseFanOverrideForIndex(i, &error)) return error;
  }
  return std::nullopt;
}

void HelperService::returnFansToSystem() {
  Error error;
  auto* smc = openSMC(error);
  const std::optional<Error> failure = smc ? releaseToSystem(*smc, smc->fanCount()) : error;
  if (failure) {
    logLine("Returning the fans to system control failed: " + failure->fullDescription());
    return;
  }
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
  Error error;
  auto* smc = openSMC(error);
  if (!smc) return;
  const auto count = smc->fanCount();
  bool forced = currentMode_ != FanMode::system;
  for (std::int64_t i = 0; i < count && !forced; ++i) {
    forced = smc->isFanUnderManualControlForIndex(i);
  }
  if (!forced) return;
  logLine("Stopping: returning the fans to system control.");
  returnFansToSystem();
}

FanMode HelperService::currentMode() const {
  std::lock_guard lock(smcLock_);
  return currentMode_;
}

}  // namespace zephro
