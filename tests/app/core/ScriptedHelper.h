#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "app/core/TimerThread.h"
#include "protocol/HelperProtocol.h"

namespace zephro::testing {

// A helper whose answers a test scripts, served in-process on a temp socket: it can
// answer at once, hold its replies until released (a hung helper that answers late), or
// answer each call after a random delay from another thread.
class ScriptedHelper final : public HelperProtocol {
 public:
  struct SetModeCall {
    std::int64_t mode;
    std::vector<std::int64_t> percentages;
  };

  void getFanInfo(FanInfoReply reply) override {
    answer([this, reply = std::move(reply)] {
      const std::lock_guard lock(mutex_);
      reply(fans, fanError);
    });
  }
  void getSystemTemperature(TemperatureReply reply) override {
    answer([this, reply = std::move(reply)] {
      const std::lock_guard lock(mutex_);
      reply(celsius, temperatureError);
    });
  }
  void setFanMode(std::int64_t mode, std::vector<std::int64_t> percentages,
                  SetFanModeReply reply) override {
    {
      const std::lock_guard lock(mutex_);
      setModeCalls.push_back({mode, percentages});
    }
    answer([this, reply = std::move(reply)] {
      const std::lock_guard lock(mutex_);
      reply(setModeError);
    });
  }
  void getVersion(VersionReply reply) override {
    answer([this, reply = std::move(reply)] {
      const std::lock_guard lock(mutex_);
      reply(version);
    });
  }

  // Keep every reply from now on until releaseHeld().
  void hold() { holding_ = true; }
  // Answers the held calls with what is scripted now, from the calling thread.
  void releaseHeld() {
    for (auto& reply : takeHeld()) reply();
  }
  // The same, the last call first: a helper whose answers overtake one another.
  void releaseHeldNewestFirst() {
    auto held = takeHeld();
    std::reverse(held.begin(), held.end());
    for (auto& reply : held) reply();
  }
  [[nodiscard]] std::size_t heldCount() const {
    const std::lock_guard lock(mutex_);
    return held_.size();
  }
  // Answer each call after a random delay up to maxDelay, from a timer thread.
  void answerAfterRandomDelays(std::chrono::microseconds maxDelay) { maxDelay_ = maxDelay; }

  std::vector<SetModeCall> recordedSetModeCalls() const {
    const std::lock_guard lock(mutex_);
    return setModeCalls;
  }

  // The script; guarded by the mutex once the server runs (set them before).
  std::vector<FanInfoDTO> fans;
  std::optional<Error> fanError;
  double celsius = 0;
  std::optional<Error> temperatureError;
  std::optional<Error> setModeError;
  std::string version = kHelperProtocolVersion;

 private:
  void answer(std::function<void()> reply) {
    {
      const std::lock_guard lock(mutex_);
      if (holding_) {
        held_.push_back(std::move(reply));
        return;
      }
    }
    if (maxDelay_.count() > 0) {
      std::chrono::microseconds delay{0};
      {
        const std::lock_guard lock(mutex_);
        delay = std::chrono::microseconds(
            std::uniform_int_distribution<long>(0, maxDelay_.count())(random_));
      }
      delayed_.schedule(delay, std::move(reply));
      return;
    }
    reply();
  }

  std::vector<std::function<void()>> takeHeld() {
    std::vector<std::function<void()>> held;
    const std::lock_guard lock(mutex_);
    holding_ = false;
    held.swap(held_);
    return held;
  }

  mutable std::mutex mutex_;
  std::vector<SetModeCall> setModeCalls;
  std::atomic<bool> holding_{false};
  std::vector<std::function<void()>> held_;
  std::chrono::microseconds maxDelay_{0};
  std::mt19937 random_{12345};
  TimerThread delayed_;
};

}  // namespace zephro::testing
