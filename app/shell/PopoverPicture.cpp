#include "app/shell/PopoverPicture.h"

#include <QImage>
#include <QQuickItem>
#include <QQuickView>
#include <cmath>

#include "app/core/HelperClient.h"
#include "app/shell/PopoverWindow.h"
#include "app/viewmodel/FanControlViewModel.h"
#include "platform/defaults/UserDefaults.h"

namespace zephro {

PopoverPicture::PopoverPicture(FanControlViewModel& viewModel, UserDefaults& defaults, QString path,
                               QObject* parent)
    : QObject(parent),
      viewModel_(viewModel),
      settings_(defaults, viewModel.client().serviceManager()),
      path_(std::move(path)) {
  engine_.addImportPath(QStringLiteral("qrc:/qt/qml"));
  patience_.setSingleShot(true);
  connect(&patience_, &QTimer::timeout, this, &PopoverPicture::draw);
}

PopoverPicture::~PopoverPicture() = default;

void PopoverPicture::drawWhenConnected(std::chrono::milliseconds patience) {
  const auto drawIfConnected = [this] {
    if (viewModel_.connectionState().kind() == ConnectionState::Kind::connected &&
        !viewModel_.fans().empty()) {
      draw();
    }
  };
  connect(&viewModel_, &FanControlViewModel::fansChanged, this, drawIfConnected);
  connect(&viewModel_, &FanControlViewModel::connectionStateChanged, this, drawIfConnected);
  patience_.start(patience);
}

void PopoverPicture::draw() {
  if (drawn_) return;
  drawn_ = true;
  patience_.stop();
  QQuickView view(&engine_, nullptr);
  view.setResizeMode(QQuickView::SizeRootObjectToView);
  view.setInitialProperties({{QStringLiteral("viewModel"), QVariant::fromValue(&viewModel_)},
                             {QStringLiteral("settings"), QVariant::fromValue(&settings_)},
                             {QStringLiteral("reduceMotion"), true}});
  view.setSource(QUrl(QStringLiteral("qrc:/qt/qml/Zephro/Popover/FanControlPopoverView.qml")));
  auto* root = view.rootObject();
  if (view.status() != QQuickView::Ready || !root) {
    emit failed(view.errors().isEmpty() ? QStringLiteral("the popover did not load")
                                        : view.errors().constFirst().toString());
    return;
  }
  view.resize(PopoverWindow::kWidth, static_cast<int>(std::ceil(root->implicitHeight())));
  view.show();
  const QImage picture = view.grabWindow();
  if (picture.isNull() || !picture.save(path_, "PNG")) {
    emit failed(QStringLiteral("could not write %1").arg(path_));
    return;
  }
  emit written(path_);
}

}  // namespace zephro
