#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "helper/SMCWrapperObjC.h"
#include "helper/Sleeper.h"
#include "platform/smc/EmulatedSmc.h"
#include "platform/smc/FourCharCode.h"
#include "tests/support/TempDir.h"

namespace zephro::testing {

using Bytes = std::vector<std::uint8_t>;
using Calls = std::vector<std::pair<int, smc::KernReturn>>;

inline smc::MachineProfile shippedMachine(const std::string& name) {
  return smc::MachineProfile::load(sourcePath("platform/smc/machines/" + name + ".json"));
}

// The bytes of a "flt " value as the SMC holds them.
inline Bytes fltBytes(float value) {
  Bytes bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

// Its clock moves only when the code sleeps, so waits are recorded and the fans move during them.
struct EmulatedMachine {
  explicit EmulatedMachine(smc::MachineProfile profile)
      : smc(std::make_shared<smc::EmulatedSmc>(std::move(profile), std::nullopt, clock)),
        wrapper(open()) {
    smc->clearCallLog();
  }

  [[nodiscard]] std::unique_ptr<SMCWrapperObjC> open(Error* error = nullptr) const {
    return SMCWrapperObjC::create(std::make_unique<smc::EmulatedUserClient>(smc), sleeper, error);
  }

  // Calls to one key, in order, as (command, status) pairs.
  [[nodiscard]] Calls callsTo(std::string_view key) const {
    Calls calls;
    for (const auto& record : smc->callLog()) {
      if (key.empty() || record.key == smc::packFourCharCode(key))
        calls.emplace_back(record.command, record.status);
    }
    return calls;
  }

  [[nodiscard]] Bytes valueOf(std::string_view key) const {
    const auto entry = smc->key(key);
    return {entry->value().begin(), entry->value().end()};
  }

  // Writes to one key, or to any with an empty name.
  [[nodiscard]] int writesTo(std::string_view key) const {
    int writes = 0;
    for (const auto& [command, status] : callsTo(key)) writes += command == 6 ? 1 : 0;
    return writes;
  }

  // The force mask and each fan's mode value (-1: unreadable), as one value.
  [[nodiscard]] std::pair<int, std::vector<int>> forced() const {
    std::vector<int> modes;
    for (std::size_t fan = 0; fan < smc->profile().fans.size(); ++fan) {
      modes.push_back(smc->modeValue(fan).value_or(-1));
    }
    return {smc->forceMask(), modes};
  }

  std::function<void()> onSleep;
  std::shared_ptr<smc::ManualClock> clock = std::make_shared<smc::ManualClock>();
  std::shared_ptr<smc::EmulatedSmc> smc;
  std::shared_ptr<RecordingSleeper> sleeper =
      std::make_shared<RecordingSleeper>([this](std::chrono::milliseconds step) {
        clock->advance(step);
        if (onSleep) onSleep();
      });
  std::unique_ptr<SMCWrapperObjC> wrapper;
};

}  // namespace zephro::testing
