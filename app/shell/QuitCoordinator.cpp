#include "app/shell/QuitCoordinator.h"

#include <QPointer>

#include "app/core/Detach.h"

namespace zephro {

QuitCoordinator::QuitCoordinator(ReleaseFans releaseFans, QObject* parent)
    : QObject(parent), releaseFans_(std::move(releaseFans)) {}

void QuitCoordinator::requestQuit() {
  if (quitting_) return;
  quitting_ = true;
  detach(quit(), "Quit");
}

QCoro::Task<> QuitCoordinator::quit() {
  const QPointer<QuitCoordinator> self(this);
  auto release = releaseFans_();
  co_await release;
  if (self) emit self->finished();
}

}  // namespace zephro
