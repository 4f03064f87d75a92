#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QString>
#include <optional>

namespace zephro {

// The application's entry in the desktop's tray, whichever kind the desktop offers.
class TrayEntry : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

  // The status picture at 1x and 2x, and its reading as text (tooltip and label).
  virtual void setPicture(const QImage& picture, const QImage& picture2x, const QString& text) = 0;

 signals:
  // The user clicked the entry; at that point on the screen where the tray says.
  void activated(std::optional<QPoint> at);
};

}  // namespace zephro
