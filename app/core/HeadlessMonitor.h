#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <QCoro/QCoroTask>
#include <QObject>
#include <QTimer>

#include "protocol/FanInfoDTO.h"

namespace zephro {

class HelperClient;

// Zephro without a display: runs the launch check, then prints the fan table and the
// system temperature at every tick, read through the helper client. Used by
// `zephro --headless` and by the demo on machines without a desktop.
class HeadlessMonitor : public QObject {
  Q_OBJECT

 public:
  using Output = std::function<void(const std::string& text)>;

  HeadlessMonitor(HelperClient& client, Output output,
                  std::chrono::milliseconds interval = std::chrono::seconds(2),
                  QObject* parent = nullptr);

  // Starts the launch check; the readings follow once it has ended, whatever its outcome.
  void start();

  // Emitted after each printed reading (or failure), for whoever waits on it.
  Q_SIGNAL void reported();

  // The text printed for one reading.
  [[nodiscard]] static std::string formatReading(const std::vector<FanInfoDTO>& fans,
                                                 double celsius);

 private:
  QCoro::Task<> launchCheck();
  QCoro::Task<> poll();
  void tick();

  HelperClient& client_;
  Output output_;
  QTimer timer_;
  bool polling_ = false;
};

}  // namespace zephro
