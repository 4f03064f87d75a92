#include "app/services/feedback/FeedbackWindowController.h"

#include <QQmlEngine>
#include <QQuickItem>
#include <cmath>

#include "app/ui/ViewContent.h"
#include "app/ui/WindowPlacement.h"

namespace zephro {
namespace {

const QUrl kContent(QStringLiteral("qrc:/qt/qml/Zephro/Feedback/FeedbackView.qml"));

}  // namespace

FeedbackWindowController::FeedbackWindowController(QQmlEngine& engine, QObject* parent)
    : QObject(parent), window_(std::make_unique<QQuickView>(&engine, nullptr)) {
  makeFloatingPanel(*window_);
  window_->setResizeMode(QQuickView::SizeRootObjectToView);
}

FeedbackWindowController::~FeedbackWindowController() = default;

bool FeedbackWindowController::show() {
  window_->setSource(QUrl());
  QQuickItem* root = loadContent(*window_, kContent, "Feedback window");
  if (root == nullptr) return false;
  connect(root, SIGNAL(closeRequested()), this, SLOT(close()));
  connect(root, &QQuickItem::implicitHeightChanged, this, &FeedbackWindowController::fitHeight);
  fitHeight();
  centreOnScreen(*window_);
  showOnEveryDesktop(*window_);
  window_->show();
  window_->raise();
  window_->requestActivate();
  return true;
}

void FeedbackWindowController::close() {
  window_->close();
}

QQuickItem* FeedbackWindowController::content() const {
  return window_->rootObject();
}

void FeedbackWindowController::fitHeight() {
  if (QQuickItem* root = content()) {
    const QSize size(kWidth, static_cast<int>(std::ceil(root->implicitHeight())));
    window_->setMinimumSize(size);
    window_->setMaximumSize(size);
    window_->resize(size);
  }
}

}  // namespace zephro
