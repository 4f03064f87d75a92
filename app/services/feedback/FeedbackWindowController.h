#pragma once

#include <QObject>
#include <QQuickView>
#include <memory>

class QQmlEngine;
class QQuickItem;

namespace zephro {

// The feedback window: title-less and floating, 320 wide and as tall as its content, on
// every desktop, movable by its background. Every showing builds a fresh FeedbackView, so
// each opening starts empty; the view's close request hides the window.
class FeedbackWindowController : public QObject {
  Q_OBJECT

 public:
  static constexpr int kWidth = 320;

  explicit FeedbackWindowController(QQmlEngine& engine, QObject* parent = nullptr);
  ~FeedbackWindowController() override;

  // Rebuilds the content and brings the window forward; false when it could not be built.
  bool show();

  [[nodiscard]] QQuickView& window() const { return *window_; }
  [[nodiscard]] QQuickItem* content() const;

 private slots:
  // The view's close request: the window hides.
  void close();

  // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs to see the slots.
 private:
  void fitHeight();

  std::unique_ptr<QQuickView> window_;
};

}  // namespace zephro
