#include "app/viewmodel/RefreshTask.h"

#include <QCoro/QCoroSignal>

namespace zephro {

RefreshTask::RefreshTask() {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &RefreshTask::sleepEnded);
}

void RefreshTask::cancel() {
  if (cancelled_) return;
  cancelled_ = true;
  timer_.stop();
  QMetaObject::invokeMethod(this, &RefreshTask::sleepEnded, Qt::QueuedConnection);
}

QCoro::Task<> RefreshTask::sleep(std::chrono::milliseconds duration) {
  if (cancelled_) co_return;
  timer_.start(duration);
  co_await qCoro(this, &RefreshTask::sleepEnded);
}

}  // namespace zephro
