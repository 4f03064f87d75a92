#include "app/presets/window/PresetWindowController.h"

#include <QQmlEngine>
#include <QQuickItem>

#include "app/ui/ViewContent.h"
#include "app/ui/WindowPlacement.h"
#include "app/viewmodel/FanControlViewModel.h"

namespace zephro {
namespace {

const QUrl kContent(QStringLiteral("qrc:/qt/qml/Zephro/Presets/PresetManagerView.qml"));

}  // namespace

PresetWindowController::PresetWindowController(QQmlEngine& engine, QObject* parent)
    : QObject(parent), window_(std::make_unique<QQuickView>(&engine, nullptr)) {
  window_->setTitle(QStringLiteral("Zephro"));
  // Titled, closable and resizable, with no minimise button; floating above other windows.
  window_->setFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                    Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
  window_->setResizeMode(QQuickView::SizeRootObjectToView);
  window_->setMinimumSize(kMinimumSize);
  window_->resize(kInitialSize);
  centreOnScreen(*window_);
}

PresetWindowController::~PresetWindowController() = default;

bool PresetWindowController::show(FanControlViewModel& viewModel) {
  if (!isContentViewSet_ && !buildContent(viewModel)) return false;
  showOnEveryDesktop(*window_);
  window_->show();
  window_->raise();
  window_->requestActivate();
  return true;
}

QQuickItem* PresetWindowController::content() const {
  return window_->rootObject();
}

bool PresetWindowController::buildContent(FanControlViewModel& viewModel) {
  window_->setInitialProperties({{QStringLiteral("viewModel"), QVariant::fromValue(&viewModel)}});
  if (loadContent(*window_, kContent, "Preset window") == nullptr) return false;
  isContentViewSet_ = true;
  return true;
}

}  // namespace zephro
