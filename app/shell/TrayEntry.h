#pragma once

#include <QObject>
#include <QPoint>
#include <optional>

#include "app/shell/StatusPicture.h"

namespace zephro {

// The application's entry in the desktop's tray, whichever kind the desktop offers.
class TrayEntry : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

  // Shows the reading as this tray draws it well: the picture, its text as tooltip and label.
  virtual void showReading(const StatusReading& reading) = 0;
  // Whether a tray takes the entry now. One that does not may still come to: a panel
  // started after the application picks the entry up then.
  [[nodiscard]] virtual bool isShown() const = 0;

 signals:
  // The user clicked the entry, or chose to open the application from its menu; at that
  // point on the screen where the tray says.
  void activated(std::optional<QPoint> at);
  // The user chose to quit from the entry's menu.
  void quitRequested();
  void shownChanged();
};

}  // namespace zephro
