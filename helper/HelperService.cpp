#include "helper/HelperService.h"

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

}  // namespace

Error fanCountError(std::int64_t fanCount) {
  return Error::withDescription(kHelperErrorDomain, fanCount,
                                "fanCount is " + std::to_string(fanCount));
}

HelperService::HelperService(SMCOpener openSMC, codesign::TrustAnchor anchor)
    : opener_(std::move(openSMC)), anchor_(anchor), exported_(exportedHelper(*this)) {}

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
  if (const auto status = codesign::checkValidity(*code, *requirement, anchor_); status != 0) {
    logLine("Rejected connection from pid " + pid + ": failed code requirement check (status " +
            std::to_string(status) + ").");
    return false;
  }
  logLine("Accepted XPC connection from pid " + pid + ".");
  connection.setExportedObject(exported_);
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
    } else if (*requested == FanMode::max) {
      failure = driveToMax(*smc, count);
    } else {
      failure = driveManually(*smc, count, percentages);
    }
    if (!failure) currentMode_ = *requested;
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

FanMode HelperService::currentMode() const {
  std::lock_guard lock(smcLock_);
  return currentMode_;
}

}  // namespace zephro
