#pragma once

#include <QCoro/QCoroTask>
#include <QHash>
#include <QString>
#include <QVariantList>
#include <functional>

namespace zephro {

class AppUpdateManager;
class IntentsService;
class QuitCoordinator;

// The named actions of org.freedesktop.Application's ActivateAction: what launchers,
// keyboard shortcuts and scripts ask the running application for, each doing what the same
// control of the popover does.
class ApplicationActions {
 public:
  // Runs with ActivateAction's parameter; throws BusError for a parameter it cannot take.
  using Action = std::function<QCoro::Task<>(const QVariantList& parameter)>;

  // set-mode (an entity id), auto and max (the desktop file's actions), increase and
  // decrease (an optional amount, 10 by default), check-for-updates, install-update, quit.
  ApplicationActions(IntentsService& intents, AppUpdateManager& updates, QuitCoordinator& quit);

  void add(const QString& name, const Action& action);
  // An action that does its work at once and ignores its parameter, such as showing a window.
  [[nodiscard]] static Action immediate(std::function<void()> work);
  [[nodiscard]] QStringList names() const;

  // Throws BusError for a name no action has.
  [[nodiscard]] QCoro::Task<> activate(QString name, QVariantList parameter) const;

 private:
  QHash<QString, Action> actions_;
};

}  // namespace zephro
