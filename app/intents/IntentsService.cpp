#include "app/intents/IntentsService.h"

#include "app/intents/BusError.h"

namespace zephro {
namespace {

// More names than any preset list holds means something keeps inventing ids; starting
// over keeps the memory bounded.
constexpr qsizetype kMaximumHandedOutNames = 1024;

}  // namespace

IntentsService::IntentsService(FanIntents& intents, const UserDefaults& defaults, QObject* parent)
    : QObject(parent), intents_(intents), defaults_(defaults) {}

QCoro::Task<QString> IntentsService::setFanMode(QString id) {
  auto setting = intents_.setFanMode(entity(id));
  co_return co_await setting;
}

QCoro::Task<FanIntents::StatusAnswer> IntentsService::getFanStatus() {
  return intents_.getFanStatus();
}

QCoro::Task<QString> IntentsService::increaseFanSpeed(int amount) {
  checkAmount(amount);
  auto adjusting = intents_.increaseFanSpeed(amount);
  co_return co_await adjusting;
}

QCoro::Task<QString> IntentsService::decreaseFanSpeed(int amount) {
  checkAmount(amount);
  auto adjusting = intents_.decreaseFanSpeed(amount);
  co_return co_await adjusting;
}

QList<FanModeEntity> IntentsService::fanModeEntities() {
  return handOut(FanModeEntityQuery(defaults_).suggestedEntities());
}

QList<FanModeEntity> IntentsService::fanModeEntities(const QStringList& identifiers) {
  return handOut(FanModeEntityQuery(defaults_).entities(identifiers));
}

QList<FanModeEntity> IntentsService::findFanModeEntities(const QString& query) {
  return handOut(FanModeEntityQuery(defaults_).entities(query));
}

QList<AppShortcut> IntentsService::appShortcuts() const {
  return ZephroShortcuts::appShortcuts(FanModeEntityQuery(defaults_).allEntities());
}

void IntentsService::updateAppShortcutParameters() {
  emit appShortcutsChanged();
}

QList<FanModeEntity> IntentsService::handOut(QList<FanModeEntity> entities) {
  if (handedOut_.size() + entities.size() > kMaximumHandedOutNames) handedOut_.clear();
  for (const auto& entity : entities) handedOut_.insert(entity.id, entity.name);
  return entities;
}

FanModeEntity IntentsService::entity(const QString& id) {
  for (auto& entity : FanModeEntityQuery(defaults_).allEntities()) {
    if (entity.id == id) return entity;
  }
  return {id, handedOut_.value(id, id)};
}

void IntentsService::checkAmount(int amount) {
  if (amount < FanIntents::kMinimumAmount || amount > FanIntents::kMaximumAmount) {
    throw BusError::invalidArguments(
        QStringLiteral("The amount must be a whole percent from %1 to %2, not %3.")
            .arg(FanIntents::kMinimumAmount)
            .arg(FanIntents::kMaximumAmount)
            .arg(amount));
  }
}

}  // namespace zephro
