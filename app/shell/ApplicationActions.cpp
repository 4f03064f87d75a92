#include "app/shell/ApplicationActions.h"

#include <QDBusVariant>
#include <algorithm>

#include "app/intents/BusError.h"
#include "app/intents/FanIntents.h"
#include "app/intents/IntentsService.h"
#include "app/services/AppUpdateManager.h"
#include "app/shell/QuitCoordinator.h"

namespace zephro {
namespace {

// A parameter as the bus delivered it, unwrapped when it came as a variant.
QVariant valueAt(const QVariantList& parameter, qsizetype index) {
  if (index >= parameter.size()) return {};
  const QVariant& value = parameter.at(index);
  if (value.canConvert<QDBusVariant>()) return value.value<QDBusVariant>().variant();
  return value;
}

QString entityIdIn(const QVariantList& parameter) {
  const QVariant id = valueAt(parameter, 0);
  if (id.typeId() != QMetaType::QString) {
    throw BusError::invalidArguments(QStringLiteral("set-mode takes a fan mode's id."));
  }
  return id.toString();
}

int amountIn(const QVariantList& parameter) {
  const QVariant amount = valueAt(parameter, 0);
  if (!amount.isValid()) return FanIntents::kDefaultAmount;
  bool isNumber = false;
  const int value = amount.toInt(&isNumber);
  if (!isNumber || amount.typeId() == QMetaType::QString) {
    throw BusError::invalidArguments(QStringLiteral("The amount is a whole percent."));
  }
  return value;
}

QCoro::Task<> dropDialog(QCoro::Task<QString> action) {
  co_await action;
}

QCoro::Task<> finished() {
  co_return;
}

}  // namespace

ApplicationActions::ApplicationActions(IntentsService& intents, AppUpdateManager& updates,
                                       QuitCoordinator& quit) {
  add(QStringLiteral("set-mode"), [&intents](const QVariantList& parameter) {
    return dropDialog(intents.setFanMode(entityIdIn(parameter)));
  });
  add(QStringLiteral("auto"), [&intents](const QVariantList& /*parameter*/) {
    return dropDialog(intents.setFanMode(QStringLiteral("system")));
  });
  add(QStringLiteral("max"), [&intents](const QVariantList& /*parameter*/) {
    return dropDialog(intents.setFanMode(QStringLiteral("max")));
  });
  add(QStringLiteral("increase"), [&intents](const QVariantList& parameter) {
    return dropDialog(intents.increaseFanSpeed(amountIn(parameter)));
  });
  add(QStringLiteral("decrease"), [&intents](const QVariantList& parameter) {
    return dropDialog(intents.decreaseFanSpeed(amountIn(parameter)));
  });
  add(QStringLiteral("check-for-updates"), [&updates](const QVariantList& /*parameter*/) {
    updates.checkForUpdates();
    return finished();
  });
  add(QStringLiteral("install-update"), [&updates](const QVariantList& /*parameter*/) {
    updates.installUpdate();
    return finished();
  });
  add(QStringLiteral("quit"), [&quit](const QVariantList& /*parameter*/) {
    quit.requestQuit();
    return finished();
  });
}

void ApplicationActions::add(const QString& name, const Action& action) {
  actions_.insert(name, action);
}

ApplicationActions::Action ApplicationActions::immediate(std::function<void()> work) {
  return [work = std::move(work)](const QVariantList& /*parameter*/) {
    work();
    return finished();
  };
}

QStringList ApplicationActions::names() const {
  QStringList names = actions_.keys();
  std::sort(names.begin(), names.end());
  return names;
}

QCoro::Task<> ApplicationActions::activate(QString name, QVariantList parameter) const {
  const auto action = actions_.constFind(name);
  if (action == actions_.constEnd()) {
    throw BusError(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                   QStringLiteral("Zephro has no action named “%1”.").arg(name));
  }
  auto running = (*action)(parameter);
  co_await running;
}

}  // namespace zephro
