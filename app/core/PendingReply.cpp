#include "app/core/PendingReply.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace zephro::detail {

void resumeOnMainThread(std::coroutine_handle<> handle) {
  auto* const application = QCoreApplication::instance();
  // Without an application the process is ending and no caller is left to resume.
  if (application == nullptr) return;
  QMetaObject::invokeMethod(
      application, [handle] { handle.resume(); }, Qt::QueuedConnection);
}

}  // namespace zephro::detail
