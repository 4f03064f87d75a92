#pragma once

#include <QCoro/QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <functional>
#include <memory>

#include "app/intents/BusNames.h"

namespace zephro {

class LocalizationManager;

// One application per user: the first launch owns the session-bus name
// "com.zephro.app" and serves org.freedesktop.Application on /com/zephro/app; a later
// launch hands its arguments over that interface and exits.
class SingleInstance : public QObject {
  Q_OBJECT

 public:
  enum class Claim { first, forwarded, noBus };

  // Runs a named action of org.freedesktop.Application's ActivateAction with its
  // parameter; throws BusError (or an action's own error) to refuse it.
  using ActionHandler = std::function<QCoro::Task<>(QString name, QVariantList parameter)>;

  explicit SingleInstance(QDBusConnection bus = QDBusConnection::sessionBus(),
                          QObject* parent = nullptr);
  ~SingleInstance() override;

  // Owns the name, or hands `arguments` to the instance that does. Without a session
  // bus nobody can be asked, and this launch goes on alone.
  [[nodiscard]] Claim claim(const QStringList& arguments);

  // Where ActivateAction calls go; errors are described in the interface language.
  void setActionHandler(ActionHandler handler, const LocalizationManager& localization);

  [[nodiscard]] const QDBusConnection& bus() const { return bus_; }

  // What a later launch or the desktop asked for.
  void activate();
  // Answers `call` once the action has run, or with its error.
  void activateAction(const QString& name, const QVariantList& parameter, const QDBusMessage& call);

 signals:
  // Activate: show the popover.
  void activated();

 private:
  QDBusConnection bus_;
  ActionHandler actionHandler_;
  const LocalizationManager* localization_ = nullptr;
  bool owner_ = false;
};

}  // namespace zephro
