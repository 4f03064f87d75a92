#include "helper/SMCWrapperObjC.h"

#include <array>
#include <cstring>

#include "platform/log/Format.h"
#include "platform/log/Log.h"
#include "platform/smc/FourCharCode.h"
#include "platform/smc/ValueCodec.h"

namespace zephro {
namespace {

using smc::KernReturn;

// The CPU die sensors first. Last the NAND flash sensor beside the SoC, the one sensor the
// kernel's Apple silicon device trees give every machine (hwmon-common.dtsi), since they
// describe none of the die sensors.
constexpr std::array<const char*, 13> kTemperatureKeys = {"Te05", "Tp01", "Tp05", "Tp09", "Tp0T",
                                                          "Tp0D", "Tp0H", "Tp0L", "Tp0P", "Tp0b",
                                                          "TC0D", "TC0P", "TH0x"};

void fail(Error* error, std::int64_t code, std::string description) {
  if (error != nullptr)
    *error = Error::withDescription(kSMCErrorDomain, code, std::move(description));
}

// printf's %s stops at a NUL; a key text is printed the same way.
std::string printable(std::string_view key) {
  return std::string(key.substr(0, key.find('\0')));
}

}  // namespace

std::string fanKeyName(std::string_view format, std::int64_t index) {
  std::string name(format);
  if (const auto at = name.find("%d"); at != std::string::npos) {
    name.replace(at, 2, std::to_string(index));
  }
  if (name.size() > 4) name.resize(4);
  return name;
}

std::uint32_t forceBitOfFan(std::int64_t index) {
  return index >= 0 && index < 32 ? 1U << index : 0U;
}

std::unique_ptr<SMCWrapperObjC> SMCWrapperObjC::create(std::unique_ptr<smc::UserClient> client,
                                                       std::shared_ptr<Sleeper> sleeper,
                                                       Error* error) {
  const std::uint32_t connection = client ? client->open() : 0;
  log::write(format::printf("[SMCWrapperObjC] initWithError called, connection: %d",
                            static_cast<int>(connection)));
  if (connection == 0) {
    fail(error, 1, "Could not open connection to AppleSMC.");
    return nullptr;
  }
  if (!sleeper) sleeper = std::make_shared<ThreadSleeper>();
  return std::unique_ptr<SMCWrapperObjC>(
      new SMCWrapperObjC(std::move(client), std::move(sleeper), connection));
}

SMCWrapperObjC::SMCWrapperObjC(std::unique_ptr<smc::UserClient> client,
                               std::shared_ptr<Sleeper> sleeper, std::uint32_t connection)
    : client_(std::move(client)), sleeper_(std::move(sleeper)), connection_(connection) {}

SMCWrapperObjC::~SMCWrapperObjC() {
  if (connection_ != 0) client_->close(connection_);
}

KernReturn SMCWrapperObjC::call(const smc::SMCParamBlock& input, smc::SMCParamBlock& output) {
  std::array<std::byte, smc::kParamBlockSize> in{};
  std::array<std::byte, smc::kParamBlockSize> out{};
  std::memcpy(in.data(), &input, in.size());
  const KernReturn status =
      client_->callStructMethod(connection_, smc::kSelectorHandleParamBlock, in, out);
  std::memcpy(&output, out.data(), out.size());
  return status;
}

// A key's type and size cannot change while the helper runs, nor can the set of keys, and
// on real hardware every call is a slow firmware transaction: each key is asked once, and
// a key the SMC does not have is remembered as missing. Any other failure is asked again
// next time, since it may only be a busy controller.
KernReturn SMCWrapperObjC::SMCGetKeyInfo(std::uint32_t key, smc::SMCKeyInfoData& info) {
  if (const auto known = keyInfo_.find(key); known != keyInfo_.end()) {
    if (!known->second) return smc::kIOReturnNotFound;
    info = *known->second;
    return 0;
  }
  smc::SMCParamBlock input{};
  smc::SMCParamBlock output{};
  input.key = key;
  input.data8 = smc::kCommandReadKeyInfo;
  const KernReturn status = call(input, output);
  if (status == 0) {
    std::memcpy(&info, &output.keyInfo, smc::kKeyInfoSize);
    keyInfo_.emplace(key, info);
  } else if (status == smc::kIOReturnNotFound) {
    keyInfo_.emplace(key, std::nullopt);
  }
  return status;
}

KernReturn SMCWrapperObjC::SMCReadKey(std::string_view key, SMCKeyValue& value) {
  value = SMCKeyValue{};
  value.key = smc::packFourCharCode(key);

  smc::SMCParamBlock input{};
  smc::SMCParamBlock output{};
  input.key = value.key;
  if (const KernReturn status = SMCGetKeyInfo(value.key, input.keyInfo); status != 0) return status;
  value.dataType = input.keyInfo.dataType;
  input.data8 = smc::kCommandReadValue;
  if (const KernReturn status = call(input, output); status != 0) return status;
  value.bytes = output.bytes;
  return 0;
}

KernReturn SMCWrapperObjC::SMCWriteKey(const SMCKeyValue& value) {
  smc::SMCParamBlock input{};
  smc::SMCParamBlock output{};
  if (const KernReturn status = SMCGetKeyInfo(value.key, input.keyInfo); status != 0) return status;
  input.key = value.key;
  input.data8 = smc::kCommandWriteValue;
  input.bytes = value.bytes;
  return call(input, output);
}

std::int64_t SMCWrapperObjC::fanCount() {
  SMCKeyValue value;
  if (SMCReadKey("FNum", value) != 0) return -static_cast<std::int64_t>(connection_);
  return value.bytes[0];
}

SMCWrapperObjC::Reading SMCWrapperObjC::readNumericKey(std::string_view key) {
  SMCKeyValue value;
  if (const KernReturn status = SMCReadKey(key, value); status != 0) return {status, 0.0};
  switch (value.dataType) {
    case smc::kTypeFpe2:
      return {0, smc::decodeFpe2(value.bytes)};
    case smc::kTypeSp78:
      return {0, smc::decodeSp78(value.bytes)};
    case smc::kTypeFlt:
      return {0, smc::decodeFlt(value.bytes)};
    default:
      return {0, 0.0};
  }
}

double SMCWrapperObjC::readFloatKey(std::string_view key) {
  return readNumericKey(key).value;
}

bool SMCWrapperObjC::readPresentKey(std::string_view key, double& value, Error* error) {
  const auto reading = readNumericKey(key);
  if (reading.status != 0 && reading.status != smc::kIOReturnNotFound) {
    fail(error, reading.status, "Failed to read " + printable(key));
    return false;
  }
  value = reading.value;
  return true;
}

bool SMCWrapperObjC::readFan(std::int64_t index, FanReadings& readings, Error* error) {
  return readPresentKey(fanKeyName("F%dAc", index), readings.actual, error) &&
         readPresentKey(fanKeyName("F%dMn", index), readings.minimum, error) &&
         readPresentKey(fanKeyName("F%dMx", index), readings.maximum, error);
}

bool SMCWrapperObjC::writeFloatKey(std::string_view key, double value, Error* error) {
  const std::string name = printable(key);
  SMCKeyValue record;
  if (const KernReturn readStatus = SMCReadKey(key, record); readStatus != 0) {
    log::write(format::printf(
        "[SMCWrapperObjC] writeFloatKey: Cannot read key '%s' to detect format (result: %d). "
        "Attempting fpe2 fallback.",
        name.c_str(), readStatus));
    SMCKeyValue fresh;
    fresh.key = smc::packFourCharCode(key);
    fresh.dataType = smc::kTypeFpe2;
    smc::storeBigEndian16(smc::encodeFpe2(value), fresh.bytes);
    if (const KernReturn writeStatus = SMCWriteKey(fresh); writeStatus != 0) {
      fail(error, writeStatus, "Failed to write " + name + " (fpe2 fallback, read failed)");
      return false;
    }
    return true;
  }

  switch (record.dataType) {
    case smc::kTypeFlt:
      smc::storeFlt(value, record.bytes);
      log::write(format::printf("[SMCWrapperObjC] writeFloatKey: '%s' type=flt, value=%.1f",
                                name.c_str(), value));
      break;
    case smc::kTypeFpe2:
      smc::storeBigEndian16(smc::encodeFpe2(value), record.bytes);
      log::write(format::printf("[SMCWrapperObjC] writeFloatKey: '%s' type=fpe2, value=%.1f",
                                name.c_str(), value));
      break;
    case smc::kTypeSp78:
      smc::storeBigEndian16(smc::encodeSp78(value), record.bytes);
      log::write(format::printf("[SMCWrapperObjC] writeFloatKey: '%s' type=sp78, value=%.1f",
                                name.c_str(), value));
      break;
    default:
      smc::storeBigEndian16(smc::encodeFpe2(value), record.bytes);
      log::write(format::printf(
          "[SMCWrapperObjC] writeFloatKey: '%s' has unknown dataType 0x%08X, trying fpe2 encoding",
          name.c_str(), record.dataType));
      break;
  }

  if (const KernReturn writeStatus = SMCWriteKey(record); writeStatus != 0) {
    log::write(
        format::printf("[SMCWrapperObjC] writeFloatKey: SMCWriteKey failed for '%s' (result: %d)",
                       name.c_str(), writeStatus));
    fail(error, writeStatus, "Failed to write " + name);
    return false;
  }
  return true;
}

double SMCWrapperObjC::readFanKey(const char* format, std::int64_t index) {
  return readFloatKey(fanKeyName(format, index));
}

double SMCWrapperObjC::fanSpeedForIndex(std::int64_t index) {
  return readFanKey("F%dAc", index);
}

double SMCWrapperObjC::fanMinSpeedForIndex(std::int64_t index) {
  return readFanKey("F%dMn", index);
}

double SMCWrapperObjC::fanMaxSpeedForIndex(std::int64_t index) {
  return readFanKey("F%dMx", index);
}

double SMCWrapperObjC::systemTemperature() {
  double celsius = 0.0;
  (void)readSystemTemperature(celsius, nullptr);
  return celsius;
}

bool SMCWrapperObjC::readSystemTemperature(double& celsius, Error* error) {
  celsius = 0.0;
  for (const char* key : kTemperatureKeys) {
    double value = 0.0;
    if (!readPresentKey(key, value, error)) return false;
    if (value > 10.0 && value < 150.0) {
      celsius = value;
      return true;
    }
  }
  return true;
}

bool SMCWrapperObjC::setFanTargetSpeedForIndex(std::int64_t index, double rpm, Error* error) {
  return writeFloatKey(fanKeyName("F%dTg", index), rpm, error);
}

}  // namespace zephro
