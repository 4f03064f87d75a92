#include "app/services/feedback/FeedbackWindowController.h"

#include <QQmlEngine>
#include <QQuickItem>
#include <cmath>

#include "app/ui/WindowPlacement.h"
#include "platform/log/Log.h"

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
  window_->setSource(kContent);
  QQuickItem* root = content();
  if (window_->status() != QQuickView::Ready || root == nullptr) {
    for (const auto& error : window_->errors()) {
      log::write("[Zephro] Feedback window: " + error.toString().toStdString());
    }
    return false;
  }
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
