#include "app/intents/IntentsAdaptor.h"

#include <QDBusMetaType>
#include <QMetaEnum>

#include "app/intents/BusError.h"
#include "app/intents/BusNames.h"
#include "app/intents/IntentsService.h"
#include "app/services/AppUpdateManager.h"

namespace zephro {
namespace {

// Plain functions rather than capturing lambdas: a coroutine's parameters live in its
// frame for as long as it runs.
QCoro::Task<QVariantList> dialogOf(QCoro::Task<QString> action) {
  const QString dialog = co_await action;
  co_return QVariantList{dialog};
}

QCoro::Task<QVariantList> statusOf(QCoro::Task<FanIntents::StatusAnswer> action) {
  const auto answer = co_await action;
  co_return QVariantList{answer.status.rpm, answer.status.temperature,
                         answer.status.temperatureUnit, answer.dialog};
}

QDBusMessage delayed(const QDBusMessage& message) {
  message.setDelayedReply(true);
  return message;
}

}  // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const UpdateStateRecord& state) {
  argument.beginStructure();
  argument << state.kind << state.text << state.progress;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, UpdateStateRecord& state) {
  argument.beginStructure();
  argument >> state.kind >> state.text >> state.progress;
  argument.endStructure();
  return argument;
}

void IntentsAdaptor::registerTypes() {
  qDBusRegisterMetaType<FanModeEntity>();
  qDBusRegisterMetaType<QList<FanModeEntity>>();
  qDBusRegisterMetaType<FanStatusEntity>();
  qDBusRegisterMetaType<QList<FanStatusEntity>>();
  qDBusRegisterMetaType<AppShortcut>();
  qDBusRegisterMetaType<QList<AppShortcut>>();
  qDBusRegisterMetaType<UpdateStateRecord>();
}

IntentsAdaptor::IntentsAdaptor(QObject& object, IntentsService& service, AppUpdateManager& updates,
                               const LocalizationManager& localization, QDBusConnection bus)
    : QDBusAbstractAdaptor(&object),
      service_(service),
      updates_(updates),
      localization_(localization),
      bus_(std::move(bus)) {
  registerTypes();
  connect(&service_, &IntentsService::appShortcutsChanged, this,
          [this] { announce("AppShortcuts", QVariant::fromValue(appShortcuts())); });
  connect(&updates_, &AppUpdateManager::stateChanged, this,
          [this] { announce("UpdateState", QVariant::fromValue(updateState())); });
}

QList<AppShortcut> IntentsAdaptor::appShortcuts() const {
  return service_.appShortcuts();
}

UpdateStateRecord IntentsAdaptor::updateState() const {
  const auto& state = updates_.state();
  const auto kinds = QMetaEnum::fromType<AppUpdateState::Kind>();
  return {QString::fromLatin1(kinds.valueToKey(static_cast<int>(state.kind()))),
          state.kind() == AppUpdateState::Kind::error ? state.message() : state.version(),
          state.progress().value_or(-1.0)};
}

void IntentsAdaptor::SetFanMode(const QString& id, const QDBusMessage& message) {
  replyWhenDone(dialogOf(service_.setFanMode(id)), delayed(message), bus_, localization_);
}

void IntentsAdaptor::GetFanStatus(const QDBusMessage& message) {
  replyWhenDone(statusOf(service_.getFanStatus()), delayed(message), bus_, localization_);
}

void IntentsAdaptor::IncreaseFanSpeed(int amount, const QDBusMessage& message) {
  replyWhenDone(dialogOf(service_.increaseFanSpeed(amount)), delayed(message), bus_, localization_);
}

void IntentsAdaptor::DecreaseFanSpeed(int amount, const QDBusMessage& message) {
  replyWhenDone(dialogOf(service_.decreaseFanSpeed(amount)), delayed(message), bus_, localization_);
}

QList<FanModeEntity> IntentsAdaptor::FanModeEntities() {
  return service_.fanModeEntities();
}

QList<FanModeEntity> IntentsAdaptor::FanModeEntitiesForIdentifiers(const QStringList& identifiers) {
  return service_.fanModeEntities(identifiers);
}

QList<FanModeEntity> IntentsAdaptor::FindFanModeEntities(const QString& query) {
  return service_.findFanModeEntities(query);
}

QList<FanStatusEntity> IntentsAdaptor::FanStatusEntities(const QStringList& /*identifiers*/) {
  // The status is only ever the answer of GetFanStatus; nothing can be picked by id.
  return {};
}

void IntentsAdaptor::announce(const char* property, const QVariant& value) {
  auto signal = QDBusMessage::createSignal(QString::fromLatin1(kApplicationObjectPath),
                                           QStringLiteral("org.freedesktop.DBus.Properties"),
                                           QStringLiteral("PropertiesChanged"));
  signal << QString::fromLatin1(kIntentsInterface)
         << QVariantMap{{QString::fromLatin1(property), value}} << QStringList{};
  bus_.send(signal);
}

}  // namespace zephro
