#pragma once

#include <QObject>
#include <QQuickView>
#include <memory>

class QQmlEngine;
class QQuickItem;

namespace zephro {

class FanControlViewModel;

// The preset manager's window: floating, closable and resizable, 680 × 460 in the middle
// of the screen and never smaller than 640 × 430, on every desktop. Its content is built
// once, on the first showing; closing only hides the window, so the editor keeps what it
// held, and a later showing brings the same content forward.
class PresetWindowController : public QObject {
  Q_OBJECT

 public:
  static constexpr QSize kInitialSize{680, 460};
  static constexpr QSize kMinimumSize{640, 430};

  explicit PresetWindowController(QQmlEngine& engine, QObject* parent = nullptr);
  ~PresetWindowController() override;

  // Builds the content over viewModel the first time; every time, shows the window and
  // brings it to the front. Returns false when the content could not be built.
  bool show(FanControlViewModel& viewModel);

  [[nodiscard]] bool isContentViewSet() const { return isContentViewSet_; }
  [[nodiscard]] QQuickView& window() const { return *window_; }
  // The PresetManagerView, once built.
  [[nodiscard]] QQuickItem* content() const;

 private:
  bool buildContent(FanControlViewModel& viewModel);

  std::unique_ptr<QQuickView> window_;
  bool isContentViewSet_ = false;
};

}  // namespace zephro
