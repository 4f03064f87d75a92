#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/servicemanager/ServiceManager.h"

namespace zephro::testing {

// A login item whose status and failures a test scripts; it counts the calls made.
class FakeService final : public Service {
 public:
  [[nodiscard]] int status() const override { return status_; }
  [[nodiscard]] std::optional<Error> registerService() override {
    ++registerCalls;
    if (registerFailure) return registerFailure;
    status_ = statusAfterRegister;
    return std::nullopt;
  }
  [[nodiscard]] std::optional<Error> unregisterService() override {
    ++unregisterCalls;
    if (unregisterFailure) return unregisterFailure;
    status_ = static_cast<int>(ServiceStatus::notRegistered);
    return std::nullopt;
  }
  void setStatus(int status) { status_ = status; }

  int statusAfterRegister = static_cast<int>(ServiceStatus::enabled);
  std::optional<Error> registerFailure;
  std::optional<Error> unregisterFailure;
  std::atomic<int> registerCalls = 0;
  std::atomic<int> unregisterCalls = 0;

 private:
  std::atomic<int> status_ = static_cast<int>(ServiceStatus::notRegistered);
};

// A service manager whose answers a test scripts: the daemon's status as a sequence of
// steps (each held for a number of reads, the last held forever), a status script that
// takes over after a registration, failing register/unregister calls, and a hook that
// runs inside register (to block it, or to count). Every call is recorded. Thread-safe:
// registration runs on a worker thread.
class FakeServiceManager final : public ServiceManager {
 public:
  struct Step {
    int status;
    int reads = 1;
  };

  // The daemon's status from now on, starting at the script's first step.
  void scriptStatus(std::vector<Step> steps) {
    const std::lock_guard lock(mutex_);
    scriptSteps(std::move(steps));
  }
  // The script that replaces the current one when registerService() is called
  // (successfully or not); none leaves the current one running.
  void scriptStatusAfterRegister(std::vector<Step> steps) {
    const std::lock_guard lock(mutex_);
    afterRegister_ = std::move(steps);
  }
  void failRegister(std::optional<Error> error) {
    const std::lock_guard lock(mutex_);
    registerError_ = std::move(error);
  }
  void failUnregister(std::optional<Error> error) {
    const std::lock_guard lock(mutex_);
    unregisterError_ = std::move(error);
  }
  // Runs inside registerService(), before it answers.
  void onRegister(std::function<void()> hook) {
    const std::lock_guard lock(mutex_);
    registerHook_ = std::move(hook);
  }

  // "daemonService:<plist>", "status=<n>", "register", "unregister", "openSettings".
  [[nodiscard]] std::vector<std::string> calls() const {
    const std::lock_guard lock(mutex_);
    return calls_;
  }
  [[nodiscard]] int count(const std::string& call) const {
    const std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(calls_.begin(), calls_.end(), call));
  }
  [[nodiscard]] int statusReads() const {
    const std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(), [](const auto& call) {
      return call.rfind("status=", 0) == 0;
    }));
  }

  [[nodiscard]] std::unique_ptr<Service> daemonService(const std::string& plistName) override {
    const std::lock_guard lock(mutex_);
    calls_.push_back("daemonService:" + plistName);
    return std::make_unique<Daemon>(*this);
  }
  [[nodiscard]] Service& mainAppService() override { return loginItem; }
  void openSystemSettingsLoginItems() override {
    const std::lock_guard lock(mutex_);
    calls_.emplace_back("openSettings");
  }

  FakeService loginItem;

 private:
  class Daemon final : public Service {
   public:
    explicit Daemon(FakeServiceManager& manager) : manager_(manager) {}
    [[nodiscard]] int status() const override { return manager_.readStatus(); }
    [[nodiscard]] std::optional<Error> registerService() override {
      return manager_.registerDaemon();
    }
    [[nodiscard]] std::optional<Error> unregisterService() override {
      const std::lock_guard lock(manager_.mutex_);
      manager_.calls_.emplace_back("unregister");
      return manager_.unregisterError_;
    }

   private:
    FakeServiceManager& manager_;
  };

  int readStatus() {
    const std::lock_guard lock(mutex_);
    const auto& step = steps_.at(step_);
    const int status = step.status;
    if (++readsInStep_ >= step.reads && step_ + 1 < steps_.size()) {
      ++step_;
      readsInStep_ = 0;
    }
    calls_.push_back("status=" + std::to_string(status));
    return status;
  }

  std::optional<Error> registerDaemon() {
    std::function<void()> hook;
    {
      const std::lock_guard lock(mutex_);
      calls_.emplace_back("register");
      hook = registerHook_;
    }
    // Outside the lock: a hook may block until the test lets it go.
    if (hook) hook();
    const std::lock_guard lock(mutex_);
    if (afterRegister_) scriptSteps(std::move(*afterRegister_));
    afterRegister_.reset();
    return registerError_;
  }

  void scriptSteps(std::vector<Step> steps) {
    steps_ = std::move(steps);
    step_ = 0;
    readsInStep_ = 0;
  }

  mutable std::mutex mutex_;
  std::vector<Step> steps_{{0, 1}};
  std::size_t step_ = 0;
  int readsInStep_ = 0;
  std::optional<std::vector<Step>> afterRegister_;
  std::optional<Error> registerError_;
  std::optional<Error> unregisterError_;
  std::function<void()> registerHook_;
  std::vector<std::string> calls_;
};

}  // namespace zephro::testing
