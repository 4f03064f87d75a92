#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <csignal>
#include <initializer_list>
#include <memory>
#include <vector>

namespace zephro {

// Turns Unix signals (SIGINT, SIGTERM, SIGHUP) into a Qt signal on the main thread, so that
// quitting on them goes through the event loop like any other quit. One instance at a
// time; the signals' previous handlers come back when it goes away.
class UnixSignalNotifier : public QObject {
  Q_OBJECT

 public:
  explicit UnixSignalNotifier(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
  ~UnixSignalNotifier() override;

 signals:
  void received(int signalNumber);

 private:
  void drain();

  std::vector<int> signalNumbers_;
  std::vector<struct sigaction> previous_;
  int readFd_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace zephro
