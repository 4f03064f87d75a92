#include "app/shell/PanelAppearance.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

namespace zephro {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kGroup = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");

// The portal's Read wraps the value in a second variant; newer portals may not.
QVariant unwrapped(QVariant value) {
  while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>()) {
    value = qvariant_cast<QDBusVariant>(value).variant();
  }
  return value;
}

}  // namespace

PanelAppearance::PanelAppearance(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
  if (!bus_.isConnected()) return;
  bus_.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
               SLOT(readSettingChanged(QString, QString, QDBusVariant)));
  QDBusMessage read =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Read"));
  read << kGroup << kKey;
  // NOLINTNEXTLINE(cppcoreguidelines-owning-memory): parented to this object, as Qt requires.
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(read), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            const QDBusMessage reply = finished->reply();
            if (reply.type() == QDBusMessage::ReplyMessage) setScheme(reply.arguments().value(0));
          });
}

void PanelAppearance::readSettingChanged(const QString& group, const QString& key,
                                         const QDBusVariant& value) {
  if (group == kGroup && key == kKey) setScheme(value.variant());
}

void PanelAppearance::setScheme(const QVariant& value) {
  // 1 prefers dark, 2 prefers light, 0 (or anything else) states no preference.
  constexpr uint kPrefersDark = 1;
  constexpr uint kPrefersLight = 2;
  bool known = false;
  const uint scheme = unwrapped(value).toUInt(&known);
  std::optional<bool> prefersDark;
  if (known && scheme == kPrefersDark) prefersDark = true;
  if (known && scheme == kPrefersLight) prefersDark = false;
  if (prefersDark == prefersDark_) return;
  prefersDark_ = prefersDark;
  emit changed();
}

}  // namespace zephro
