#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/servicemanager/ServiceManager.h"

namespace zephro::testing {

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

  FakeServiceManager();
  ~FakeServiceManager() override;

  // The daemon's status from now on, starting at the script's first step.
  void scriptStatus(std::vector<Step> steps);
  // The script that replaces the current one when registerService() is called
  // (successfully or not); none leaves the current one running.
  void scriptStatusAfterRegister(std::vector<Step> steps);
  void failRegister(std::optional<Error> error);
  void failUnregister(std::optional<Error> error);
  // Runs inside registerService(), before it answers.
  void onRegister(std::function<void()> hook);

  // "daemonService:<plist>", "status=<n>", "register", "unregister", "openSettings".
  [[nodiscard]] std::vector<std::string> calls() const;
  [[nodiscard]] int count(const std::string& call) const;
  [[nodiscard]] int statusReads() const;

  [[nodiscard]] std::unique_ptr<Service> daemonService(const std::string& plistName) override;
  [[nodiscard]] Service& mainAppService() override;
  void openSystemSettingsLoginItems() override;

  // What the daemon objects call; public for them.
  int readStatus();
  std::optional<Error> registerDaemon();
  std::optional<Error> unregisterDaemon();

 private:
  class LoginItem;

  mutable std::mutex mutex_;
  std::vector<Step> steps_{{0, 1}};
  std::size_t step_ = 0;
  int readsInStep_ = 0;
  std::optional<std::vector<Step>> afterRegister_;
  std::optional<Error> registerError_;
  std::optional<Error> unregisterError_;
  std::function<void()> registerHook_;
  std::vector<std::string> calls_;
  std::unique_ptr<LoginItem> loginItem_;
};

}  // namespace zephro::testing
