#pragma once

#include <chrono>

#include <QCoro/QCoroTask>
#include <QObject>
#include <QTimer>

namespace zephro {

// The handle of one run of the poll loop: its owner cancels it, and a sleep of the
// loop ends early when that happens. The loop and its owner share it, so it outlives
// whichever of the two goes first.
class RefreshTask : public QObject {
  Q_OBJECT

 public:
  RefreshTask();

  // Ends a sleep under way; the loop sees isCancelled() and stops. The sleeper is
  // resumed from the event loop, never from inside this call, so an owner may cancel
  // from its destructor.
  void cancel();
  [[nodiscard]] bool isCancelled() const { return cancelled_; }

  // Waits for the duration, or less when cancelled meanwhile. Main thread only; one
  // sleep at a time.
  [[nodiscard]] QCoro::Task<> sleep(std::chrono::milliseconds duration);

 signals:
  void sleepEnded();

 private:
  QTimer timer_;
  bool cancelled_ = false;
};

}  // namespace zephro
