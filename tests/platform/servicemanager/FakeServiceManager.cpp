#include "tests/platform/servicemanager/FakeServiceManager.h"

#include <algorithm>

namespace zephro::testing {

namespace {

class FakeDaemon final : public Service {
 public:
  explicit FakeDaemon(FakeServiceManager& manager) : manager_(manager) {}
  [[nodiscard]] int status() const override { return manager_.readStatus(); }
  [[nodiscard]] std::optional<Error> registerService() override {
    return manager_.registerDaemon();
  }
  [[nodiscard]] std::optional<Error> unregisterService() override {
    return manager_.unregisterDaemon();
  }

 private:
  FakeServiceManager& manager_;
};

}  // namespace

// The login item: registered or not, nothing scripted.
class FakeServiceManager::LoginItem final : public Service {
 public:
  [[nodiscard]] int status() const override {
    const std::lock_guard lock(mutex_);
    return registered_ ? 1 : 0;
  }
  [[nodiscard]] std::optional<Error> registerService() override {
    const std::lock_guard lock(mutex_);
    registered_ = true;
    return std::nullopt;
  }
  [[nodiscard]] std::optional<Error> unregisterService() override {
    const std::lock_guard lock(mutex_);
    registered_ = false;
    return std::nullopt;
  }

 private:
  mutable std::mutex mutex_;
  bool registered_ = false;
};

FakeServiceManager::FakeServiceManager() : loginItem_(std::make_unique<LoginItem>()) {}
FakeServiceManager::~FakeServiceManager() = default;

void FakeServiceManager::scriptStatus(std::vector<Step> steps) {
  const std::lock_guard lock(mutex_);
  steps_ = std::move(steps);
  step_ = 0;
  readsInStep_ = 0;
}

void FakeServiceManager::scriptStatusAfterRegister(std::vector<Step> steps) {
  const std::lock_guard lock(mutex_);
  afterRegister_ = std::move(steps);
}

void FakeServiceManager::failRegister(std::optional<Error> error) {
  const std::lock_guard lock(mutex_);
  registerError_ = std::move(error);
}

void FakeServiceManager::failUnregister(std::optional<Error> error) {
  const std::lock_guard lock(mutex_);
  unregisterError_ = std::move(error);
}

void FakeServiceManager::onRegister(std::function<void()> hook) {
  const std::lock_guard lock(mutex_);
  registerHook_ = std::move(hook);
}

std::vector<std::string> FakeServiceManager::calls() const {
  const std::lock_guard lock(mutex_);
  return calls_;
}

int FakeServiceManager::count(const std::string& call) const {
  const std::lock_guard lock(mutex_);
  return static_cast<int>(std::count(calls_.begin(), calls_.end(), call));
}

int FakeServiceManager::statusReads() const {
  const std::lock_guard lock(mutex_);
  return static_cast<int>(std::count_if(calls_.begin(), calls_.end(), [](const std::string& call) {
    return call.rfind("status=", 0) == 0;
  }));
}

std::unique_ptr<Service> FakeServiceManager::daemonService(const std::string& plistName) {
  const std::lock_guard lock(mutex_);
  calls_.push_back("daemonService:" + plistName);
  return std::make_unique<FakeDaemon>(*this);
}

Service& FakeServiceManager::mainAppService() {
  return *loginItem_;
}

void FakeServiceManager::openSystemSettingsLoginItems() {
  const std::lock_guard lock(mutex_);
  calls_.emplace_back("openSettings");
}

int FakeServiceManager::readStatus() {
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

std::optional<Error> FakeServiceManager::registerDaemon() {
  std::function<void()> hook;
  {
    const std::lock_guard lock(mutex_);
    calls_.emplace_back("register");
    hook = registerHook_;
  }
  // Outside the lock: a hook may block until the test lets it go.
  if (hook) hook();
  const std::lock_guard lock(mutex_);
  if (afterRegister_) {
    steps_ = std::move(*afterRegister_);
    afterRegister_.reset();
    step_ = 0;
    readsInStep_ = 0;
  }
  return registerError_;
}

std::optional<Error> FakeServiceManager::unregisterDaemon() {
  const std::lock_guard lock(mutex_);
  calls_.emplace_back("unregister");
  return unregisterError_;
}

}  // namespace zephro::testing
