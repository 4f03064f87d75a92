#pragma once

#include <QObject>
#include <QQmlEngine>
#include <QString>
#include <QTimer>
#include <memory>

#include "app/ui/popover/PopoverSettings.h"

namespace zephro {

class FanControlViewModel;
class UserDefaults;

// Draws the popover once, offscreen, as it shows the view model's state, into a PNG file:
// a look at the interface for someone on a machine without a display. It waits for the
// first answer from the helper so that the picture shows the fans rather than the
// connecting state.
class PopoverPicture : public QObject {
  Q_OBJECT

 public:
  PopoverPicture(FanControlViewModel& viewModel, UserDefaults& defaults, QString path,
                 QObject* parent = nullptr);
  ~PopoverPicture() override;

  // Draws once connected, or after `patience` whatever the state is by then.
  void drawWhenConnected(std::chrono::milliseconds patience);

 signals:
  void written(const QString& path);
  void failed(const QString& reason);

 private:
  void draw();

  FanControlViewModel& viewModel_;
  PopoverSettings settings_;
  QString path_;
  QQmlEngine engine_;
  QTimer patience_;
  bool drawn_ = false;
};

}  // namespace zephro
