#include "app/shell/PopoverWindow.h"

#include <QGuiApplication>
#include <QPalette>
#include <QQuickItem>
#include <QScreen>
#include <QSurfaceFormat>
#include <algorithm>
#include <cmath>
#include <memory>

#include "app/shell/PopoverPlacement.h"
#include "app/ui/ViewContent.h"
#include "app/ui/WindowPlacement.h"

namespace zephro {
namespace {

bool platformPlacesWindows() {
  return QGuiApplication::platformName() != QLatin1String("wayland");
}

}  // namespace

PopoverWindow::PopoverWindow(QQmlEngine& engine, const QUrl& view, const QVariantMap& properties,
                             Style style, QObject* parent)
    : QObject(parent), view_(std::make_unique<QQuickView>(&engine, nullptr)), style_(style) {
  view_->setResizeMode(QQuickView::SizeRootObjectToView);
  view_->setTitle(QStringLiteral("Zephro"));
  // The view draws its own background, a veil of the window colour where the desktop
  // shows through; without a compositor the window colour stands behind it.
  if (desktopComposites()) {
    QSurfaceFormat format = view_->format();
    format.setAlphaBufferSize(8);
    view_->setFormat(format);
    view_->setColor(Qt::transparent);
  } else {
    view_->setColor(QGuiApplication::palette().color(QPalette::Window));
  }
  if (style_ == Style::popover && platformPlacesWindows()) {
    view_->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  }
  view_->setInitialProperties(properties);
  if (auto* root = loadContent(*view_, view, "Popover")) {
    connect(root, &QQuickItem::implicitHeightChanged, this, &PopoverWindow::fitHeight);
  }
  connect(view_.get(), &QWindow::activeChanged, this, [this] {
    // Transient: it closes when the user turns to anything else.
    if (style_ == Style::popover && !view_->isActive() && view_->isVisible()) close();
  });
  connect(view_.get(), &QWindow::visibleChanged, this, [this](bool visible) {
    if (!visible) emit closed();
  });
  fitHeight();
}

PopoverWindow::~PopoverWindow() = default;

QQuickItem* PopoverWindow::rootItem() const {
  return view_->rootObject();
}

int PopoverWindow::maximumHeight() const {
  const QScreen* screen = view_->screen() ? view_->screen() : QGuiApplication::primaryScreen();
  const QRect available = screen ? screen->availableGeometry() : QRect();
  return popoverMaximumHeight(screen ? &available : nullptr);
}

void PopoverWindow::fitHeight() {
  auto* root = rootItem();
  if (!root) return;
  const int height = std::min(static_cast<int>(std::ceil(root->implicitHeight())), maximumHeight());
  root->setProperty("maxHeight", maximumHeight());
  // The view asks for the panel's width plus the room its shadow takes.
  const int width = std::max(kWidth, static_cast<int>(std::ceil(root->implicitWidth())));
  const QSize size(width, std::max(height, 1));
  // sway, i3 and other tiling compositors float a window whose least and greatest sizes
  // are one; KWin and Mutter keep it from being resized.
  if (style_ == Style::popover && !platformPlacesWindows()) {
    view_->setMinimumSize(size);
    view_->setMaximumSize(size);
  }
  view_->resize(size);
}

void PopoverWindow::show(std::optional<QPoint> anchor) {
  fitHeight();
  if (style_ == Style::popover && anchor && platformPlacesWindows()) {
    const QScreen* screen = QGuiApplication::screenAt(*anchor);
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (screen)
      view_->setPosition(popoverPosition(*anchor, view_->size(), screen->availableGeometry()));
  }
  view_->show();
  view_->raise();
  view_->requestActivate();
}

void PopoverWindow::close() {
  view_->hide();
}

bool PopoverWindow::isShown() const {
  return view_->isVisible();
}

}  // namespace zephro
