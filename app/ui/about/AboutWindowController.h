#pragma once

#include <QObject>
#include <QQuickView>
#include <memory>

class QQmlEngine;
class QQuickItem;

namespace zephro {

// The About panel: 300 × 200, floating, without a title bar, on every desktop, movable by
// its background. Made once with its content and centred then; every showing brings the
// same window forward.
class AboutWindowController : public QObject {
  Q_OBJECT

 public:
  static constexpr QSize kSize{300, 200};

  explicit AboutWindowController(QQmlEngine& engine, QObject* parent = nullptr);
  ~AboutWindowController() override;

  // Brings the window forward; false when its content could not be built.
  bool show();

  [[nodiscard]] QQuickView& window() const { return *window_; }
  [[nodiscard]] QQuickItem* content() const;

 private slots:
  void close();

  // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs to see the slots.
 private:
  std::unique_ptr<QQuickView> window_;
};

}  // namespace zephro
