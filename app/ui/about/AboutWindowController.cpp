#include "app/ui/about/AboutWindowController.h"

#include <QQmlEngine>
#include <QQuickItem>

#include "app/ui/ViewContent.h"
#include "app/ui/WindowPlacement.h"
#include "platform/bundle/Bundle.h"

namespace zephro {
namespace {

const QUrl kContent(QStringLiteral("qrc:/qt/qml/Zephro/About/AboutView.qml"));

QString shortVersion() {
  return QString::fromStdString(
      bundle::Bundle::info().string("CFBundleShortVersionString").value_or("0"));
}

}  // namespace

AboutWindowController::AboutWindowController(QQmlEngine& engine, QObject* parent)
    : QObject(parent), window_(std::make_unique<QQuickView>(&engine, nullptr)) {
  makeFloatingPanel(*window_);
  window_->setResizeMode(QQuickView::SizeRootObjectToView);
  window_->setMinimumSize(kSize);
  window_->setMaximumSize(kSize);
  window_->resize(kSize);
  window_->setInitialProperties({{QStringLiteral("version"), shortVersion()}});
  if (QQuickItem* root = loadContent(*window_, kContent, "About window"))
    connect(root, SIGNAL(closeRequested()), this, SLOT(close()));
  centreOnScreen(*window_);
}

AboutWindowController::~AboutWindowController() = default;

bool AboutWindowController::show() {
  if (content() == nullptr) return false;
  showOnEveryDesktop(*window_);
  window_->show();
  window_->raise();
  window_->requestActivate();
  return true;
}

QQuickItem* AboutWindowController::content() const {
  return window_->rootObject();
}

void AboutWindowController::close() {
  window_->close();
}

}  // namespace zephro
