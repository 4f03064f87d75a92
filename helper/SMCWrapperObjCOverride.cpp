// The sequences that take a fan over from the firmware and hand it back.
#include <algorithm>

#include "helper/SMCWrapperObjC.h"
#include "platform/log/Format.h"
#include "platform/log/Log.h"
#include "platform/smc/FourCharCode.h"
#include "platform/smc/ValueCodec.h"

namespace zephro {
namespace {

using smc::KernReturn;
using std::chrono::milliseconds;

constexpr const char* kUpperModeFormat = "F%dMd";
constexpr const char* kLowerModeFormat = "F%dmd";
constexpr int kModeAttempts = 60;
constexpr milliseconds kRetryPause{100};
// No machine reports more fans than "FNum" can count.
constexpr std::int64_t kMaxFanCount = 255;

const char* okOrFail(KernReturn status) {
  return status == 0 ? "OK" : "FAIL";
}

void fail(Error* error, KernReturn code, std::string description) {
  if (error != nullptr)
    *error = Error::withDescription(kSMCErrorDomain, code, std::move(description));
}

}  // namespace

SMCWrapperObjC::ForceMask SMCWrapperObjC::readForceMask() {
  ForceMask current;
  current.readStatus = SMCReadKey("FS! ", current.record);
  if (current.readStatus == 0) {
    current.mask = smc::loadBigEndian16(current.record.bytes);
  } else {
    current.record = SMCKeyValue{};
    current.record.key = smc::packFourCharCode("FS! ");
    current.record.dataType = smc::kTypeUi16;
  }
  return current;
}

KernReturn SMCWrapperObjC::writeForceMask(ForceMask& current, std::uint32_t newMask) {
  smc::storeBigEndian16(static_cast<std::uint16_t>(newMask & 0xFFFF), current.record.bytes);
  return SMCWriteKey(current.record);
}

std::optional<KernReturn> SMCWrapperObjC::writeModeKey(const std::string& key, std::uint8_t value) {
  SMCKeyValue record;
  if (SMCReadKey(key, record) != 0) return std::nullopt;
  record.bytes[0] = value;
  return SMCWriteKey(record);
}

std::optional<std::string> SMCWrapperObjC::detectModeKeyFormat() {
  SMCKeyValue record;
  if (SMCReadKey("F0Md", record) == 0) {
    log::write("[SMCWrapperObjC] Detected mode key format: F%dMd (uppercase)");
    return kUpperModeFormat;
  }
  if (SMCReadKey("F0md", record) == 0) {
    log::write("[SMCWrapperObjC] Detected mode key format: F%dmd (lowercase)");
    return kLowerModeFormat;
  }
  log::write(
      "[SMCWrapperObjC] WARNING: Neither F0Md nor F0md is readable \u2014 no mode key found");
  return std::nullopt;
}

bool SMCWrapperObjC::enableFtstUnlockWithError(Error* error) {
  SMCKeyValue record;
  if (const KernReturn readStatus = SMCReadKey("Ftst", record); readStatus != 0) {
    log::write(
        format::printf("[SMCWrapperObjC] Ftst key not found (result=%d) \u2014 likely M5+ or "
                       "Intel, skipping unlock",
                       readStatus));
    return true;
  }
  record.bytes[0] = 1;
  const KernReturn writeStatus = SMCWriteKey(record);
  log::write(format::printf("[SMCWrapperObjC] Ftst=1 write result=%d (%s)", writeStatus,
                            okOrFail(writeStatus)));
  if (writeStatus != 0) {
    fail(error, writeStatus, "Failed to write Ftst=1 for diagnostic unlock");
    return false;
  }
  return true;
}

bool SMCWrapperObjC::disableFtstUnlockWithError(Error* error) {
  SMCKeyValue record;
  if (SMCReadKey("Ftst", record) != 0) return true;
  record.bytes[0] = 0;
  const KernReturn writeStatus = SMCWriteKey(record);
  log::write(format::printf("[SMCWrapperObjC] Ftst=0 write result=%d (%s)", writeStatus,
                            okOrFail(writeStatus)));
  if (writeStatus != 0) {
    fail(error, writeStatus, "Failed to write Ftst=0 to restore system control");
    return false;
  }
  return true;
}

// Phase 3 of the override: up to 60 attempts, 100 ms apart, because a thermal
// daemon may take the mode key back right after each write.
bool SMCWrapperObjC::forceManualMode(const std::string& modeKey) {
  for (int attempt = 0; attempt < kModeAttempts; ++attempt) {
    SMCKeyValue record;
    if (const KernReturn readStatus = SMCReadKey(modeKey, record); readStatus != 0) {
      log::write(
          format::printf("[SMCWrapperObjC] Phase3: %s not readable (result=%d), skipping mode set",
                         modeKey.c_str(), readStatus));
      return false;
    }
    if (record.bytes[0] == 1) {
      log::write(format::printf("[SMCWrapperObjC] Phase3: %s already in manual mode (attempt %d)",
                                modeKey.c_str(), attempt));
      return true;
    }
    record.bytes[0] = 1;
    const KernReturn writeStatus = SMCWriteKey(record);
    SMCKeyValue readBack;
    (void)SMCReadKey(modeKey, readBack);
    if (readBack.bytes[0] == 1) {
      log::write(
          format::printf("[SMCWrapperObjC] Phase3: %s set to manual (attempt %d, write result=%d)",
                         modeKey.c_str(), attempt, writeStatus));
      return true;
    }
    if (attempt == 0) {
      log::write(format::printf(
          "[SMCWrapperObjC] Phase3: Mode write rejected (mode still %d), retrying (thermalmonitord "
          "may be holding mode 3)...",
          readBack.bytes[0]));
    }
    sleeper_->sleepFor(kRetryPause);
  }
  return false;
}

bool SMCWrapperObjC::setFanSpeedWithWakeOverrideForIndex(std::int64_t index, double rpm,
                                                         std::int64_t delayMillis, Error* error) {
  const long fan = static_cast<long>(index);
  log::write(format::printf(
      "[SMCWrapperObjC] === Wake Override for Fan %ld: target=%.1f RPM, delay=%ldms ===", fan, rpm,
      static_cast<long>(delayMillis)));

  const auto format = detectModeKeyFormat().value_or(kUpperModeFormat);
  const std::string modeKey = fanKeyName(format, index);
  log::write(format::printf("[SMCWrapperObjC] Phase0: Using mode key '%s'", modeKey.c_str()));

  (void)enableFtstUnlockWithError(nullptr);

  ForceMask current = readForceMask();
  if (current.readStatus == 0) {
    log::write(
        format::printf("[SMCWrapperObjC] Phase2: FS!  read OK, current mask=0x%04X", current.mask));
  } else {
    log::write(format::printf(
        "[SMCWrapperObjC] Phase2: FS!  read FAILED (%d), constructing mask from scratch",
        current.readStatus));
  }
  const std::uint32_t newMask = current.mask | forceBitOfFan(index);
  const KernReturn maskStatus = writeForceMask(current, newMask);
  log::write(format::printf("[SMCWrapperObjC] Phase2: FS!  write mask=0x%04X result=%d (%s)",
                            newMask & 0xFFFF, maskStatus, okOrFail(maskStatus)));

  const bool manual = forceManualMode(modeKey);
  if (!manual) {
    log::write(format::printf(
        "[SMCWrapperObjC] Phase3: WARNING \u2014 failed to set manual mode after %d retries",
        kModeAttempts));
  }
  // Neither forced nor in manual mode, the fan stays the firmware's: writing its target
  // anyway would report a change that did not happen.
  if (maskStatus != 0 && !manual) {
    log::write(format::printf(
        "[SMCWrapperObjC] Phase3: Fan %ld was not taken over (FS!  write result=%d), not "
        "writing its target",
        fan, maskStatus));
    fail(error, maskStatus, format::printf("Failed to take fan %ld over from the firmware", fan));
    return false;
  }

  log::write(format::printf("[SMCWrapperObjC] Phase4: Sleeping %ld ms for SMC firmware wake...",
                            static_cast<long>(delayMillis)));
  sleeper_->sleepFor(milliseconds(std::max<std::int64_t>(delayMillis, 0)));

  const std::string targetKey = fanKeyName("F%dTg", index);
  Error writeError;
  const bool written = writeFloatKey(targetKey, rpm, &writeError);
  log::write(format::printf("[SMCWrapperObjC] Phase5: %s = %.1f RPM, write result: %s",
                            targetKey.c_str(), rpm, written ? "OK" : "FAIL"));
  if (!written) {
    log::write("[SMCWrapperObjC] Phase5: Write failed, retrying after 100ms...");
    sleeper_->sleepFor(kRetryPause);
    Error retryError;
    const bool retried = writeFloatKey(targetKey, rpm, &retryError);
    log::write(
        format::printf("[SMCWrapperObjC] Phase5: Retry result: %s", retried ? "OK" : "FAIL"));
    if (!retried) {
      if (error != nullptr) *error = retryError;
      return false;
    }
  }

  const double verified = readFloatKey(targetKey);
  log::write(
      format::printf("[SMCWrapperObjC] Phase6: Verification read %s = %.1f RPM (expected ~%.1f)",
                     targetKey.c_str(), verified, rpm));
  const double actual = fanSpeedForIndex(index);
  log::write(format::printf("[SMCWrapperObjC] Phase6: Current actual speed F%ldAc = %.1f RPM", fan,
                            actual));
  log::write(format::printf("[SMCWrapperObjC] === Wake Override complete for Fan %ld ===", fan));
  return true;
}

bool SMCWrapperObjC::isFanUnderManualControlForIndex(std::int64_t index) {
  const long fan = static_cast<long>(index);
  const auto report = [fan](bool readable, unsigned mask, int mode, bool manual) {
    log::write(format::printf(
        "[SMCWrapperObjC] isFanUnderManualControl fan %ld: FS!(readable=%d mask=0x%04X) "
        "modeKey=%d -> %s",
        fan, readable ? 1 : 0, mask, mode, manual ? "MANUAL" : "SYSTEM"));
    return manual;
  };

  SMCKeyValue maskRecord;
  const bool maskReadable = SMCReadKey("FS! ", maskRecord) == 0;
  const unsigned mask = maskReadable ? smc::loadBigEndian16(maskRecord.bytes) : 0U;
  if (maskReadable && (mask & forceBitOfFan(index)) != 0) return report(true, mask, -1, true);

  SMCKeyValue modeRecord;
  if (SMCReadKey(fanKeyName(kUpperModeFormat, index), modeRecord) != 0 &&
      SMCReadKey(fanKeyName(kLowerModeFormat, index), modeRecord) != 0) {
    return report(maskReadable, mask, -1, false);
  }
  const int mode = modeRecord.bytes[0];
  return report(maskReadable, mask, mode, mode == 1);
}

bool SMCWrapperObjC::releaseFanOverrideForIndex(std::int64_t index, Error* /*error*/) {
  const long fan = static_cast<long>(index);
  log::write(format::printf("[SMCWrapperObjC] Releasing override for fan %ld", fan));
  (void)disableFtstUnlockWithError(nullptr);

  ForceMask current = readForceMask();
  const std::uint32_t newMask = current.mask & ~forceBitOfFan(index) & 0xFFFF;
  (void)writeForceMask(current, newMask);
  (void)writeModeKey(fanKeyName(kUpperModeFormat, index), 0);
  (void)writeModeKey(fanKeyName(kLowerModeFormat, index), 0);

  log::write(
      format::printf("[SMCWrapperObjC] Released override for fan %ld, FS! =0x%04X", fan, newMask));
  return true;
}

bool SMCWrapperObjC::clearAllForceBitsWithError(Error* error) {
  log::write("[SMCWrapperObjC] Clearing all FS!  force bits (returning to system control)");
  (void)disableFtstUnlockWithError(nullptr);

  ForceMask current = readForceMask();
  if (const KernReturn status = writeForceMask(current, 0); status != 0) {
    log::write(format::printf("[SMCWrapperObjC] Failed to clear FS!  (result: %d)", status));
    fail(error, status, "Failed to clear FS!  force bitmask");
    return false;
  }
  const std::int64_t count = fanCount();
  for (std::int64_t fan = 0; fan < count; ++fan) {
    (void)writeModeKey(fanKeyName(kUpperModeFormat, fan), 0);
    (void)writeModeKey(fanKeyName(kLowerModeFormat, fan), 0);
  }
  return true;
}

bool SMCWrapperObjC::setForceBitForFanIndex(std::int64_t index, bool enabled, Error* error) {
  const long fan = static_cast<long>(index);
  ForceMask current = readForceMask();
  if (current.readStatus == 0) {
    log::write(format::printf("[SMCWrapperObjC] Read FS!  current mask: 0x%04X", current.mask));
  } else {
    log::write(format::printf(
        "[SMCWrapperObjC] Could not read FS! , starting with mask 0x0000 (result: %d)",
        current.readStatus));
  }
  const std::uint32_t bit = forceBitOfFan(index);
  const std::uint32_t newMask = (enabled ? current.mask | bit : current.mask & ~bit) & 0xFFFF;
  log::write(format::printf("[SMCWrapperObjC] Writing FS!  new mask: 0x%04X (fan %ld %s)", newMask,
                            fan, enabled ? "FORCE_ON" : "FORCE_OFF"));

  if (const KernReturn status = writeForceMask(current, newMask); status != 0) {
    log::write(format::printf("[SMCWrapperObjC] Failed to write FS!  for fan %ld (result: %d)", fan,
                              status));
    fail(error, status, format::printf("Failed to write FS!  force bit for fan %ld", fan));
    return false;
  }
  const std::uint8_t value = enabled ? 1 : 0;
  for (const char* modeFormat : {kUpperModeFormat, kLowerModeFormat}) {
    const std::string key = fanKeyName(modeFormat, index);
    if (const auto status = writeModeKey(key, value)) {
      log::write(format::printf("[SMCWrapperObjC] %s set to %d (result: %d)", key.c_str(), value,
                                *status));
    }
  }
  return true;
}

bool SMCWrapperObjC::setManualMode(bool enabled, std::int64_t fanCount, Error* /*error*/) {
  const std::int64_t fans = std::min(fanCount, kMaxFanCount);
  const std::uint8_t value = enabled ? 1 : 0;
  bool anyModeWritten = false;
  for (std::int64_t fan = 0; fan < fans; ++fan) {
    for (const char* modeFormat : {kUpperModeFormat, kLowerModeFormat}) {
      if (writeModeKey(fanKeyName(modeFormat, fan), value) == KernReturn{0}) anyModeWritten = true;
    }
  }
  std::uint32_t mask = 0;
  if (enabled) {
    for (std::int64_t fan = 0; fan < std::min<std::int64_t>(fans, 16); ++fan) {
      mask |= forceBitOfFan(fan);
    }
  }
  SMCKeyValue record;
  record.key = smc::packFourCharCode("FS! ");
  record.dataType = smc::kTypeUi16;
  smc::storeBigEndian16(static_cast<std::uint16_t>(mask), record.bytes);
  const KernReturn maskStatus = SMCWriteKey(record);
  return maskStatus == 0 || anyModeWritten;
}

}  // namespace zephro
