#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "protocol/HelperProtocol.h"

namespace zephro::testing {

// Answers at once or holds replies; with followModeChanges the fans take each accepted speed.
class ScriptedHelper final : public HelperProtocol {
 public:
  struct SetModeCall {
    std::int64_t mode = -1;
    std::vector<std::int64_t> percentages;
    friend bool operator==(const SetModeCall&, const SetModeCall&) = default;
  };

  void getFanInfo(FanInfoReply reply) override {
    ++fanRequests;
    answer(false, [this, reply = std::move(reply)] {
      const std::lock_guard lock(mutex_);
      reply(fans, fanError);
    });
  }
  void getSystemTemperature(TemperatureReply reply) override {
    answer(false, [this, reply = std::move(reply)] {
      const std::lock_guard lock(mutex_);
      reply(celsius, temperatureError);
    });
  }
  // A refused change is not recorded and changes nothing.
  void setFanMode(std::int64_t mode, std::vector<std::int64_t> percentages,
                  SetFanModeReply reply) override {
    std::optional<Error> error;
    {
      const std::lock_guard lock(mutex_);
      error = setModeError;
      if (!error) {
        setModeCalls_.push_back({mode, percentages});
        if (followModeChanges) follow(mode, percentages);
      }
    }
    answer(true, [this, error, reply = std::move(reply)] {
      reply(error);
      if (!error && onModeChange) onModeChange();
    });
  }
  void getVersion(VersionReply reply) override {
    answer(false, [this, reply = std::move(reply)] {
      const std::lock_guard lock(mutex_);
      reply(version);
    });
  }

  // Keep every reply (or only the mode changes') from now on until releaseHeld().
  void hold(bool modeChangesOnly = false) {
    const std::lock_guard lock(mutex_);
    holding_ = modeChangesOnly ? Holding::modeChanges : Holding::all;
  }
  // With what is scripted now; newest first plays a helper whose answers overtake one another.
  void releaseHeld(bool newestFirst = false) {
    std::vector<std::function<void()>> held;
    {
      const std::lock_guard lock(mutex_);
      holding_ = Holding::none;
      held.swap(held_);
    }
    if (newestFirst) std::reverse(held.begin(), held.end());
    for (auto& reply : held) reply();
  }
  [[nodiscard]] std::size_t heldCount() const {
    const std::lock_guard lock(mutex_);
    return held_.size();
  }
  // Changes the script while the server runs.
  void update(const std::function<void(ScriptedHelper&)>& change) {
    const std::lock_guard lock(mutex_);
    change(*this);
  }
  [[nodiscard]] std::vector<SetModeCall> recordedSetModeCalls() const {
    const std::lock_guard lock(mutex_);
    return setModeCalls_;
  }

  // The script; set before the server runs, or through update().
  std::vector<FanInfoDTO> fans;
  std::optional<Error> fanError;
  double celsius = 0;
  std::optional<Error> temperatureError;
  std::optional<Error> setModeError;
  std::string version = kHelperProtocolVersion;
  bool followModeChanges = false;
  // Called after each accepted change is answered, on the answering thread.
  std::function<void()> onModeChange;

  std::atomic<int> fanRequests{0};

 private:
  enum class Holding { none, modeChanges, all };

  void follow(std::int64_t mode, const std::vector<std::int64_t>& percentages) {
    const FanMode fanMode = fanModeFromRaw(mode).value_or(FanMode::manual);
    for (std::size_t i = 0; i < fans.size(); ++i) {
      const FanInfoDTO& fan = fans[i];
      double rpm = fanMode == FanMode::max ? fan.maxRPM() : fan.currentRPM();
      if (fanMode == FanMode::manual && i < percentages.size()) {
        rpm = fan.minRPM() +
              (fan.maxRPM() - fan.minRPM()) * static_cast<double>(percentages[i]) / 100.0;
      }
      fans[i] = FanInfoDTO(fan.index(), rpm, fan.minRPM(), fan.maxRPM(), fanMode);
    }
  }

  void answer(bool modeChange, std::function<void()> reply) {
    {
      const std::lock_guard lock(mutex_);
      if (holding_ == Holding::all || (modeChange && holding_ == Holding::modeChanges)) {
        held_.push_back(std::move(reply));
        return;
      }
    }
    reply();
  }

  mutable std::mutex mutex_;
  std::vector<SetModeCall> setModeCalls_;
  Holding holding_ = Holding::none;
  std::vector<std::function<void()>> held_;
};

}  // namespace zephro::testing
