#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <memory>

namespace zephro {

inline constexpr const char* kApplicationBusName = "com.zephro.app";
inline constexpr const char* kApplicationObjectPath = "/com/zephro/app";

// One application per user: the first launch owns the session-bus name
// "com.zephro.app" and serves org.freedesktop.Application on /com/zephro/app; a later
// launch hands its arguments over that interface and exits.
class SingleInstance : public QObject {
  Q_OBJECT

 public:
  enum class Claim { first, forwarded, noBus };

  explicit SingleInstance(QDBusConnection bus = QDBusConnection::sessionBus(),
                          QObject* parent = nullptr);
  ~SingleInstance() override;

  // Owns the name, or hands `arguments` to the instance that does. Without a session
  // bus nobody can be asked, and this launch goes on alone.
  [[nodiscard]] Claim claim(const QStringList& arguments);

  // What a later launch asked for.
  void activate();
  void activateAction(const QString& name);

 signals:
  // A later launch without anything special: show the popover.
  void activated();
  // A later launch with "--show-onboarding".
  void onboardingRequested();

 private:
  QDBusConnection bus_;
  bool owner_ = false;
};

}  // namespace zephro
