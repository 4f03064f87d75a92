#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <QCoro/QCoroTask>
#include <QObject>
#include <QTimer>

namespace zephro {

class FanControlViewModel;
class UnixSignalNotifier;
class UserDefaults;

// Zephro without a display (`zephro --headless`): the launch check, the view model's
// poll loop, and every interval one line with the connection state and what the
// status item shows, e.g. "connected | 52°C | 2200 RPM". Quitting hands the fans back
// to the firmware first, as the desktop application does.
class HeadlessApp : public QObject {
  Q_OBJECT

 public:
  using Output = std::function<void(const std::string& line)>;

  HeadlessApp(FanControlViewModel& viewModel, UserDefaults& defaults, Output output,
              std::chrono::milliseconds interval = std::chrono::seconds(2),
              QObject* parent = nullptr);
  ~HeadlessApp() override;

  // Starts the launch check (not waited for), the poll loop and the status lines.
  void start();

  // Stops printing and polling and sends system mode; the outcome is logged. Never throws.
  [[nodiscard]] QCoro::Task<> quit();

  // From now on SIGINT, SIGTERM and SIGHUP (a closed terminal) each quit as quit() does,
  // then emit quitFinished. Signals during the quit only wait for it: they often come in
  // pairs, and the fans must not stay forced. One instance at a time may listen.
  void quitOnSignals();

  // The line printed for the view model's current state.
  [[nodiscard]] std::string statusLine() const;

 signals:
  void printed();
  // A quit started by a signal has handed the fans back; the process may end.
  void quitFinished();

 private:
  void print();
  void quitForSignal();

  FanControlViewModel& viewModel_;
  UserDefaults& defaults_;
  Output output_;
  QTimer timer_;
  std::unique_ptr<UnixSignalNotifier> quitSignals_;
  bool quitting_ = false;
};

// The launch check as the application runs it: a helper waiting for approval shows as
// needsApproval; any other failure is logged as a warning.
[[nodiscard]] QCoro::Task<> runLaunchCheck(FanControlViewModel& viewModel);

// Sends system mode before the process ends and logs how it went. Never throws.
[[nodiscard]] QCoro::Task<> releaseFansForQuit(FanControlViewModel& viewModel);

}  // namespace zephro
