#pragma once

#include <functional>

#include <QCoro/QCoroTask>
#include <QObject>

namespace zephro {

// Every way out of the application goes through here (the popover's quit entry,
// SIGINT, SIGTERM, SIGHUP, the session ending, an update's relaunch): the fans are
// handed back to the firmware first, then finished() tells the application to end
// its event loop. The hand-back is bounded by the helper client's own time-out.
class QuitCoordinator : public QObject {
  Q_OBJECT

 public:
  // Hands the fans back and logs the outcome; never throws.
  using ReleaseFans = std::function<QCoro::Task<>()>;

  explicit QuitCoordinator(ReleaseFans releaseFans, QObject* parent = nullptr);

  [[nodiscard]] bool isQuitting() const { return quitting_; }

 public slots:
  // Starts quitting. Requests while one is under way are absorbed: quit signals
  // often come in pairs, and the fans must not stay forced by a second one cutting
  // the first short.
  void requestQuit();

 signals:
  // The fans were handed back (or the attempt ended); the process may end now.
  void finished();

 private:
  [[nodiscard]] QCoro::Task<> quit();

  ReleaseFans releaseFans_;
  bool quitting_ = false;
};

}  // namespace zephro
