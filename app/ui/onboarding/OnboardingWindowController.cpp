#include "app/ui/onboarding/OnboardingWindowController.h"

#include <QQmlEngine>
#include <QQuickItem>

#include "app/ui/ReduceMotion.h"
#include "app/ui/ViewContent.h"
#include "app/ui/WindowPlacement.h"
#include "platform/defaults/DefaultsKeys.h"
#include "platform/defaults/UserDefaults.h"

namespace zephro {
namespace {

const QUrl kContent(QStringLiteral("qrc:/qt/qml/Zephro/Onboarding/OnboardingView.qml"));

}  // namespace

OnboardingWindowController::OnboardingWindowController(QQmlEngine& engine, UserDefaults& defaults,
                                                       QObject* parent)
    : QObject(parent),
      defaults_(defaults),
      window_(std::make_unique<QQuickView>(&engine, nullptr)) {
  makeFloatingPanel(*window_);
  window_->setResizeMode(QQuickView::SizeRootObjectToView);
  window_->setMinimumSize(kSize);
  window_->setMaximumSize(kSize);
  window_->resize(kSize);
  connect(window_.get(), &QWindow::visibleChanged, this,
          &OnboardingWindowController::releaseContentWhenHidden);
}

OnboardingWindowController::~OnboardingWindowController() = default;

bool OnboardingWindowController::show() {
  window_->setSource(QUrl());
  window_->setInitialProperties({{QStringLiteral("reduceMotion"), desktopReducesMotion()}});
  QQuickItem* root = loadContent(*window_, kContent, "Onboarding window");
  if (root == nullptr) return false;
  // Recorded as soon as it is on screen: quitting halfway does not bring it back.
  defaults_.setBool(QLatin1StringView(defaults::hasSeenOnboarding.name), true);
  connect(root, SIGNAL(finished()), this, SLOT(close()));
  centreOnScreen(*window_);
  showOnEveryDesktop(*window_);
  window_->show();
  bringForward();
  return true;
}

void OnboardingWindowController::bringForward() {
  window_->raise();
  window_->requestActivate();
}

bool OnboardingWindowController::isVisible() const {
  return window_->isVisible();
}

QQuickItem* OnboardingWindowController::content() const {
  return window_->rootObject();
}

void OnboardingWindowController::close() {
  window_->close();
}

// However the window went (finished, closed, or by the window manager), the page and its
// player go with it. Later, not inside the signal of the view that asked to close.
void OnboardingWindowController::releaseContentWhenHidden(bool visible) {
  if (!visible) QMetaObject::invokeMethod(this, "releaseContent", Qt::QueuedConnection);
}

void OnboardingWindowController::releaseContent() {
  if (!window_->isVisible()) window_->setSource(QUrl());
}

}  // namespace zephro
