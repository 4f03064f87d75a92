#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <QQuickView>
#include <QUrl>
#include <QVariantMap>
#include <memory>
#include <optional>

namespace zephro {

// The window that hosts the popover's view: 320 wide, frameless, closed as soon as it
// loses focus, as tall as its content up to the screen's height. Where the platform
// lets a client place its windows (X11) it opens at the tray click, clamped to the
// screen. Wayland gives clients no place: there it is a window of fixed size, which
// tiling compositors float rather than tile. Without a tray it is an ordinary window.
class PopoverWindow : public QObject {
  Q_OBJECT

 public:
  static constexpr int kWidth = 320;

  enum class Style { popover, ordinaryWindow };

  PopoverWindow(QQmlEngine& engine, const QUrl& view, const QVariantMap& properties, Style style,
                QObject* parent = nullptr);
  ~PopoverWindow() override;

  // Opens at `anchor` (global coordinates), or where the window system decides.
  void show(std::optional<QPoint> anchor);
  void close();
  [[nodiscard]] bool isShown() const;
  [[nodiscard]] Style style() const { return style_; }

  // The hosted view's root item, once loaded.
  [[nodiscard]] QQuickItem* rootItem() const;
  [[nodiscard]] QQuickView& window() { return *view_; }

 signals:
  // The popover went away, by losing focus or by close().
  void closed();

 private:
  void fitHeight();
  [[nodiscard]] int maximumHeight() const;

  std::unique_ptr<QQuickView> view_;
  Style style_;
};

}  // namespace zephro
