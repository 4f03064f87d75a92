#pragma once

#include <QObject>
#include <QQuickView>
#include <memory>

class QQmlEngine;
class QQuickItem;

namespace zephro {

class UserDefaults;

// The first-run window: a 640 × 560 floating panel without a title bar, on every desktop,
// movable by its background. Every showing records that the onboarding has been seen and
// starts a fresh OnboardingView at its first page; finishing or closing hides the window
// and lets the view, and with it the video player, go.
class OnboardingWindowController : public QObject {
  Q_OBJECT

 public:
  static constexpr QSize kSize{640, 560};

  OnboardingWindowController(QQmlEngine& engine, UserDefaults& defaults, QObject* parent = nullptr);
  ~OnboardingWindowController() override;

  // Records "hasSeenOnboarding", builds the first page, centres the window and brings it
  // forward; false when the view could not be built.
  bool show();
  // Raises and activates the window that is on screen.
  void bringForward();
  [[nodiscard]] bool isVisible() const;

  [[nodiscard]] QQuickView& window() const { return *window_; }
  [[nodiscard]] QQuickItem* content() const;

 private slots:
  // The view finished, or its close button was pressed.
  void close();
  // Lets the view and its player go, unless the window is back on screen.
  void releaseContent();

  // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs to see the slots.
 private:
  void releaseContentWhenHidden(bool visible);

  UserDefaults& defaults_;
  std::unique_ptr<QQuickView> window_;
};

}  // namespace zephro
