#include "app/core/HeadlessMonitor.h"

#include <QPointer>

#include "app/core/Detach.h"
#include "app/core/HelperClient.h"
#include "app/core/HelperInstallError.h"
#include "platform/log/Format.h"
#include "platform/log/Log.h"

namespace zephro {

namespace {

const char* modeName(FanMode mode) {
  switch (mode) {
    case FanMode::system:
      return "system";
    case FanMode::manual:
      return "manual";
    case FanMode::max:
      return "max";
  }
  return "system";
}

}  // namespace

HeadlessMonitor::HeadlessMonitor(HelperClient& client, Output output,
                                 std::chrono::milliseconds interval, QObject* parent)
    : QObject(parent), client_(client), output_(std::move(output)) {
  timer_.setInterval(interval);
  connect(&timer_, &QTimer::timeout, this, &HeadlessMonitor::tick);
}

void HeadlessMonitor::start() {
  detach(launchCheck(), "Headless launch check");
}

std::string HeadlessMonitor::formatReading(const std::vector<FanInfoDTO>& fans, double celsius) {
  std::string text = "Fan  Current RPM  Min RPM  Max RPM  Mode\n";
  for (const auto& fan : fans) {
    text += format::printf("%-4lld %11s  %7s  %7s  %s\n", static_cast<long long>(fan.index()),
                           format::shortestDouble(fan.currentRPM()).c_str(),
                           format::shortestDouble(fan.minRPM()).c_str(),
                           format::shortestDouble(fan.maxRPM()).c_str(), modeName(fan.mode()));
  }
  if (fans.empty()) text += "(no fans)\n";
  text += "System temperature: " + format::shortestDouble(celsius) + " \u00b0C\n";
  return text;
}

QCoro::Task<> HeadlessMonitor::launchCheck() {
  const QPointer<HeadlessMonitor> self(this);
  HelperClient& client = client_;
  try {
    co_await client.verifyHelperAtLaunch();
  } catch (const HelperInstallError& error) {
    if (error.kind() == HelperInstallError::Kind::requiresApproval) {
      if (self) self->output_(std::string(error.what()) + "\n");
    } else {
      log::write(std::string("[Zephro] WARNING: Helper launch check failed: ") + error.what());
    }
  } catch (const std::exception& error) {
    log::write(std::string("[Zephro] WARNING: Helper launch check failed: ") + error.what());
  }
  if (!self) co_return;
  self->timer_.start();
  self->tick();
}

void HeadlessMonitor::tick() {
  // A reading that is still under way keeps its turn; the next tick tries again.
  if (polling_) return;
  polling_ = true;
  detach(poll(), "Headless poll");
}

QCoro::Task<> HeadlessMonitor::poll() {
  const QPointer<HeadlessMonitor> self(this);
  HelperClient& client = client_;
  std::string text;
  try {
    const auto fans = co_await client.fetchFanInfo();
    const double celsius = co_await client.fetchSystemTemperature();
    text = formatReading(fans, celsius);
  } catch (const std::exception& error) {
    text = std::string("Helper unreachable: ") + error.what() + "\n";
  }
  if (!self) co_return;
  self->polling_ = false;
  self->output_(text);
  emit self->reported();
}

}  // namespace zephro
