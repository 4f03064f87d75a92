#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>
#include <optional>

class QDBusMessage;

namespace zephro {

// Whether the desktop prefers dark or light, as its settings portal says
// (org.freedesktop.appearance color-scheme, which KDE's portal derives from the colour
// scheme and GNOME's from its style). Panels follow that choice, so the tray picture's
// ink does too. Asked once, asynchronously, then kept up to date by the portal's signal.
class PanelAppearance : public QObject {
  Q_OBJECT

 public:
  explicit PanelAppearance(QDBusConnection bus, QObject* parent = nullptr);

  // Empty while the portal has not answered, runs on no desktop or states no preference.
  [[nodiscard]] std::optional<bool> prefersDark() const { return prefersDark_; }

 signals:
  void changed();

 private:
  Q_SLOT void readSettingChanged(const QString& group, const QString& key,
                                 const QDBusVariant& value);
  void setScheme(const QVariant& value);

  QDBusConnection bus_;
  std::optional<bool> prefersDark_;
};

}  // namespace zephro
