#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "helper/SMCKeyValue.h"
#include "helper/Sleeper.h"
#include "platform/error/Error.h"
#include "platform/smc/SMCParamBlock.h"
#include "platform/smc/UserClient.h"

namespace zephro {

inline constexpr const char* kSMCErrorDomain = "SMCErrorDomain";

// The helper's only way to the System Management Controller: key lookup, reads and
// writes of four-character keys with their numeric encodings, the fan and
// temperature reads the service needs, and the sequences that take a fan over from
// the firmware and hand it back.
//
// Methods that take an Error* fill it only when it is not null. The class has no
// lock: callers serialize their use of one object.
class SMCWrapperObjC {
 public:
  // Opens the client. On failure logs the zero handle, fills error (code 1) and
  // answers nullptr.
  [[nodiscard]] static std::unique_ptr<SMCWrapperObjC> create(
      std::unique_ptr<smc::UserClient> client, std::shared_ptr<Sleeper> sleeper,
      Error* error = nullptr);
  ~SMCWrapperObjC();
  SMCWrapperObjC(const SMCWrapperObjC&) = delete;
  SMCWrapperObjC& operator=(const SMCWrapperObjC&) = delete;

  [[nodiscard]] std::uint32_t connection() const { return connection_; }
  void setConnection(std::uint32_t connection) { connection_ = connection; }

  // Primitives; each answers the status of its last user-client call.
  [[nodiscard]] smc::KernReturn SMCGetKeyInfo(std::uint32_t key, smc::SMCKeyInfoData& info);
  [[nodiscard]] smc::KernReturn SMCReadKey(std::string_view key, SMCKeyValue& value);
  [[nodiscard]] smc::KernReturn SMCWriteKey(const SMCKeyValue& value);

  // A negative count (the connection handle negated) when "FNum" cannot be read.
  [[nodiscard]] std::int64_t fanCount();
  // A numeric key's value (0.0 for a type other than fpe2, sp78 or flt), or the status
  // that kept it from being read.
  struct Reading {
    smc::KernReturn status = 0;
    double value = 0.0;
  };
  [[nodiscard]] Reading readNumericKey(std::string_view key);
  // 0.0 when the key cannot be read or its type is not fpe2, sp78 or flt.
  [[nodiscard]] double readFloatKey(std::string_view key);
  // A key the SMC does not have reads as 0.0; false (and error) when a key it has could
  // not be read: a driver's failure is never shown as a reading.
  [[nodiscard]] bool readPresentKey(std::string_view key, double& value, Error* error);
  [[nodiscard]] bool writeFloatKey(std::string_view key, double value, Error* error);

  [[nodiscard]] double fanSpeedForIndex(std::int64_t index);
  [[nodiscard]] double fanMinSpeedForIndex(std::int64_t index);
  [[nodiscard]] double fanMaxSpeedForIndex(std::int64_t index);
  [[nodiscard]] double systemTemperature();
  // What a fan reports, by readPresentKey's rules.
  struct FanReadings {
    double actual = 0.0;
    double minimum = 0.0;
    double maximum = 0.0;
  };
  [[nodiscard]] bool readFan(std::int64_t index, FanReadings& readings, Error* error);
  // The first sensor with a plausible reading, 0.0 when none answers; false (and error)
  // when a sensor the SMC has could not be read.
  [[nodiscard]] bool readSystemTemperature(double& celsius, Error* error);
  [[nodiscard]] bool setFanTargetSpeedForIndex(std::int64_t index, double rpm, Error* error);

  // Taking fans over and giving them back.
  [[nodiscard]] std::optional<std::string> detectModeKeyFormat();
  [[nodiscard]] bool enableFtstUnlockWithError(Error* error);
  [[nodiscard]] bool disableFtstUnlockWithError(Error* error);
  [[nodiscard]] bool isFanUnderManualControlForIndex(std::int64_t index);
  [[nodiscard]] bool setFanSpeedWithWakeOverrideForIndex(std::int64_t index, double rpm,
                                                         std::int64_t delayMillis, Error* error);
  [[nodiscard]] bool releaseFanOverrideForIndex(std::int64_t index, Error* error);
  [[nodiscard]] bool clearAllForceBitsWithError(Error* error);
  [[nodiscard]] bool setForceBitForFanIndex(std::int64_t index, bool enabled, Error* error);
  [[nodiscard]] bool setManualMode(bool enabled, std::int64_t fanCount, Error* error);

 private:
  SMCWrapperObjC(std::unique_ptr<smc::UserClient> client, std::shared_ptr<Sleeper> sleeper,
                 std::uint32_t connection);

  [[nodiscard]] smc::KernReturn call(const smc::SMCParamBlock& input, smc::SMCParamBlock& output);

  // "FS! " as read (or a fresh ui16 record when it cannot be read) and its mask.
  struct ForceMask {
    SMCKeyValue record;
    std::uint16_t mask = 0;
    smc::KernReturn readStatus = 0;
  };
  [[nodiscard]] ForceMask readForceMask();
  [[nodiscard]] smc::KernReturn writeForceMask(ForceMask& current, std::uint32_t newMask);
  // Writes v into byte 0 of a mode key that can be read; nullopt when it cannot.
  [[nodiscard]] std::optional<smc::KernReturn> writeModeKey(const std::string& key,
                                                            std::uint8_t value);
  [[nodiscard]] bool forceManualMode(const std::string& modeKey);
  [[nodiscard]] double readFanKey(const char* format, std::int64_t index);

  std::unique_ptr<smc::UserClient> client_;
  std::shared_ptr<Sleeper> sleeper_;
  std::uint32_t connection_ = 0;
  // Bounded: every key is one the helper names, a fan index at most cut to four characters.
  // A key the SMC does not have maps to nothing.
  std::unordered_map<std::uint32_t, std::optional<smc::SMCKeyInfoData>> keyInfo_;
};

// The key of fan `index` from a format such as "F%dAc": the index in decimal, cut to
// the four characters a key has.
[[nodiscard]] std::string fanKeyName(std::string_view format, std::int64_t index);

// The force-mask bit of a fan; fans outside 0..31 have none.
[[nodiscard]] std::uint32_t forceBitOfFan(std::int64_t index);

}  // namespace zephro
