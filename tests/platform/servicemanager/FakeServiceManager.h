#pragma once

#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <type_traits>

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

// Calls are recorded under a lock, as registration runs on a worker thread.
class FakeServiceManager final : public ServiceManager {
 public:
  struct Step {  // held for a number of reads, the last step for good
    int status;
    int reads = 1;
  };

  // The daemon's status from now on, starting at the script's first step.
  void scriptStatus(const std::vector<Step>& steps) { set(steps_, {steps.begin(), steps.end()}); }
  // Replaces the script once registerService() is called, even failing; none keeps the current.
  void scriptStatusAfterRegister(std::vector<Step> steps) {
    set(afterRegister_, {std::move(steps)});
  }
  void failRegister(std::optional<Error> error) { set(registerError_, std::move(error)); }
  void failUnregister(std::optional<Error> error) { set(unregisterError_, std::move(error)); }
  // Runs inside registerService(), before it answers.
  void onRegister(std::function<void()> hook) { set(registerHook_, std::move(hook)); }

  // "daemonService:<plist>", "status=<n>", "register", "unregister", "openSettings".
  [[nodiscard]] std::vector<std::string> calls() const {
    return locked([&] { return calls_; });
  }
  [[nodiscard]] int count(const std::string& call) const {
    return locked([&] { return static_cast<int>(std::ranges::count(calls_, call)); });
  }
  [[nodiscard]] int statusReads() const {
    return locked([&] {
      return static_cast<int>(std::ranges::count_if(
          calls_, [](const auto& call) { return call.starts_with("status="); }));
    });
  }

  [[nodiscard]] std::unique_ptr<Service> daemonService(const std::string& plistName) override {
    record("daemonService:" + plistName);
    return std::make_unique<Daemon>(*this);
  }
  [[nodiscard]] Service& mainAppService() override { return loginItem; }
  void openSystemSettingsLoginItems() override { record("openSettings"); }

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
      manager_.record("unregister");
      return manager_.locked([&] { return manager_.unregisterError_; });
    }

   private:
    FakeServiceManager& manager_;
  };

  int readStatus() {
    const std::lock_guard lock(mutex_);
    const int status = steps_.front().status;
    if (--steps_.front().reads <= 0 && steps_.size() > 1) steps_.pop_front();
    calls_.push_back("status=" + std::to_string(status));
    return status;
  }

  template <typename F>
  std::invoke_result_t<F> locked(F&& f) const {
    const std::lock_guard lock(mutex_);
    return f();
  }
  template <typename T>
  void set(T& field, T value) {
    locked([&] { field = std::move(value); });
  }
  void record(std::string call) {
    locked([&] { calls_.push_back(std::move(call)); });
  }

  std::optional<Error> registerDaemon() {
    record("register");
    // Outside the lock: a hook may block until the test lets it go.
    if (const auto hook = locked([&] { return registerHook_; })) hook();
    const std::lock_guard lock(mutex_);
    if (afterRegister_) steps_.assign(afterRegister_->begin(), afterRegister_->end());
    afterRegister_.reset();
    return registerError_;
  }

  mutable std::mutex mutex_;
  std::deque<Step> steps_{{0, 1}};
  std::optional<std::vector<Step>> afterRegister_;
  std::optional<Error> registerError_;
  std::optional<Error> unregisterError_;
  std::function<void()> registerHook_;
  std::vector<std::string> calls_;
};

}  // namespace zephro::testing
