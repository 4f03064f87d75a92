#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "helper/SMCWrapperObjC.h"
#include "helper/Sleeper.h"
#include "platform/smc/EmulatedSmc.h"
#include "platform/smc/FourCharCode.h"
#include "tests/support/TempDir.h"

namespace zephro::testing {

inline smc::MachineProfile shippedMachine(const std::string& name) {
  return smc::MachineProfile::load(sourcePath("platform/smc/machines/" + name + ".json"));
}

// The bytes of a "flt " value as the SMC holds them.
inline std::vector<std::uint8_t> fltBytes(float value) {
  std::vector<std::uint8_t> bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

// An SMCWrapperObjC on an emulated machine whose clock moves only when the wrapper
// sleeps, so a sequence's waits are recorded and the fans still move during them.
struct EmulatedMachine {
  explicit EmulatedMachine(smc::MachineProfile profile,
                           std::optional<std::filesystem::path> stateFile = std::nullopt)
      : clock(std::make_shared<smc::ManualClock>()),
        smc(std::make_shared<smc::EmulatedSmc>(std::move(profile), std::move(stateFile), clock)),
        sleeper(std::make_shared<RecordingSleeper>(
            [clock = clock](std::chrono::milliseconds step) { clock->advance(step); })),
        wrapper(SMCWrapperObjC::create(std::make_unique<smc::EmulatedUserClient>(smc), sleeper)) {
    smc->clearCallLog();
  }

  // Calls to one key, in order, as (command, status) pairs.
  [[nodiscard]] std::vector<std::pair<int, smc::KernReturn>> callsTo(std::string_view key) const {
    std::vector<std::pair<int, smc::KernReturn>> calls;
    for (const auto& record : smc->callLog()) {
      if (record.key == smc::packFourCharCode(key))
        calls.emplace_back(record.command, record.status);
    }
    return calls;
  }

  [[nodiscard]] std::vector<std::uint8_t> valueOf(std::string_view key) const {
    const auto entry = smc->key(key);
    return {entry->value().begin(), entry->value().end()};
  }

  [[nodiscard]] int writesTo(std::string_view key) const {
    int writes = 0;
    for (const auto& [command, status] : callsTo(key)) writes += command == 6 ? 1 : 0;
    return writes;
  }

  std::shared_ptr<smc::ManualClock> clock;
  std::shared_ptr<smc::EmulatedSmc> smc;
  std::shared_ptr<RecordingSleeper> sleeper;
  std::unique_ptr<SMCWrapperObjC> wrapper;
};

}  // namespace zephro::testing
