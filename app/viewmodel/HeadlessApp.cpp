#include "app/viewmodel/HeadlessApp.h"

#include <QPointer>
#include <csignal>

#include "app/core/Detach.h"
#include "app/core/HelperClient.h"
#include "app/core/HelperInstallError.h"
#include "app/core/RemoteError.h"
#include "app/core/UnixSignalNotifier.h"
#include "app/viewmodel/FanControlViewModel.h"
#include "app/viewmodel/StatusText.h"
#include "platform/defaults/DefaultsKeys.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"

namespace zephro {

HeadlessApp::HeadlessApp(FanControlViewModel& viewModel, UserDefaults& defaults, Output output,
                         std::chrono::milliseconds interval, QObject* parent)
    : QObject(parent), viewModel_(viewModel), defaults_(defaults), output_(std::move(output)) {
  timer_.setInterval(interval);
  connect(&timer_, &QTimer::timeout, this, &HeadlessApp::print);
}

HeadlessApp::~HeadlessApp() = default;

namespace {

QCoro::Task<> quitThenFinish(QPointer<HeadlessApp> app) {
  auto quit = app->quit();
  co_await quit;
  if (app) emit app->quitFinished();
}

}  // namespace

void HeadlessApp::quitOnSignals() {
  if (quitSignals_) return;
  quitSignals_ =
      std::make_unique<UnixSignalNotifier>(std::initializer_list<int>{SIGINT, SIGTERM, SIGHUP});
  connect(quitSignals_.get(), &UnixSignalNotifier::received, this, &HeadlessApp::quitForSignal);
}

void HeadlessApp::quitForSignal() {
  if (quitting_) return;
  quitting_ = true;
  detach(quitThenFinish(this), "Quit");
}

void HeadlessApp::start() {
  detach(runLaunchCheck(viewModel_), "Launch check");
  viewModel_.startRefreshing();
  timer_.start();
}

QCoro::Task<> HeadlessApp::quit() {
  timer_.stop();
  viewModel_.stopRefreshing();
  co_await releaseFansForQuit(viewModel_);
}

std::string HeadlessApp::statusLine() const {
  const bool fahrenheit = defaults_.value(defaults::useFahrenheit);
  const QString line = viewModel_.connectionState().description() + QStringLiteral(" | ") +
                       temperatureText(viewModel_.systemTemperature(), fahrenheit) +
                       QStringLiteral(" | ") + fanSpeedText(highestFanSpeed(viewModel_.fans()));
  return line.toStdString();
}

void HeadlessApp::print() {
  output_(statusLine());
  emit printed();
}

QCoro::Task<> runLaunchCheck(FanControlViewModel& viewModel) {
  const QPointer<FanControlViewModel> self(&viewModel);
  HelperClient& client = viewModel.client();
  bool needsApproval = false;
  try {
    co_await client.verifyHelperAtLaunch();
  } catch (const HelperInstallError& error) {
    if (error.kind() == HelperInstallError::Kind::requiresApproval) {
      needsApproval = true;
    } else {
      log::write(std::string("[Zephro] WARNING: Helper launch check failed: ") + error.what());
    }
  } catch (const std::exception& error) {
    log::write(std::string("[Zephro] WARNING: Helper launch check failed: ") + error.what());
  }
  if (needsApproval && self) self->showNeedsApproval();
}

QCoro::Task<> releaseFansForQuit(FanControlViewModel& viewModel) {
  // A curve's next step would force the fans again behind the hand-back.
  viewModel.endCurve();
  HelperClient& client = viewModel.client();
  std::exception_ptr failure;
  try {
    auto release = client.setMode(FanMode::system, {});
    co_await release;
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    log::write("[Zephro] Failed to set mode to system on termination: " +
               describeException(failure));
  } else {
    log::write("[Zephro] Successfully set mode to system on termination.");
  }
}

}  // namespace zephro
