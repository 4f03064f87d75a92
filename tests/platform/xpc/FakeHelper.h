#pragma once

#include <mutex>
#include <optional>
#include <vector>

#include "protocol/HelperProtocol.h"

namespace zephro::testing {

// A HelperProtocol that answers with whatever the test set, or keeps the replies
// unanswered so a test can answer later, twice, or never.
class FakeHelper final : public HelperProtocol {
 public:
  std::vector<FanInfoDTO> fans;
  bool answer = true;
  bool answerTwice = false;

  void getFanInfo(FanInfoReply reply) override {
    if (!answer) return keep([reply] { reply({}, std::nullopt); });
    reply(fans, std::nullopt);
    if (answerTwice) reply({}, std::nullopt);
  }
  void getSystemTemperature(TemperatureReply reply) override {
    if (!answer) return keep([reply] { reply(0, std::nullopt); });
    reply(0, std::nullopt);
  }
  void setFanMode(std::int64_t mode, std::vector<std::int64_t> percentages,
                  SetFanModeReply reply) override {
    {
      std::lock_guard lock(mutex_);
      modes_.emplace_back(mode, std::move(percentages));
    }
    if (!answer) return keep([reply] { reply(std::nullopt); });
    reply(std::nullopt);
  }
  void getVersion(VersionReply reply) override {
    if (!answer) return keep([reply] { reply("late"); });
    reply(kHelperProtocolVersion);
  }

  [[nodiscard]] std::vector<std::pair<std::int64_t, std::vector<std::int64_t>>> modes() const {
    std::lock_guard lock(mutex_);
    return modes_;
  }
  [[nodiscard]] std::size_t keptCount() const {
    std::lock_guard lock(mutex_);
    return kept_.size();
  }
  // Answers every kept reply now.
  void answerKept() {
    std::vector<std::function<void()>> kept;
    {
      std::lock_guard lock(mutex_);
      kept.swap(kept_);
    }
    for (auto& reply : kept) reply();
  }

 private:
  void keep(std::function<void()> reply) {
    std::lock_guard lock(mutex_);
    kept_.push_back(std::move(reply));
  }

  mutable std::mutex mutex_;
  std::vector<std::pair<std::int64_t, std::vector<std::int64_t>>> modes_;
  std::vector<std::function<void()>> kept_;
};

}  // namespace zephro::testing
