#pragma once

#include <QCoro/QCoroTask>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include "app/intents/FanIntents.h"
#include "app/intents/FanModeEntity.h"
#include "app/intents/ZephroShortcuts.h"

namespace zephro {

class UserDefaults;

// Automation as callers outside the application reach it: actions named by entity id
// and checked arguments, the entity queries, and the ready-made shortcuts. Main thread.
class IntentsService : public QObject {
  Q_OBJECT

 public:
  IntentsService(FanIntents& intents, const UserDefaults& defaults, QObject* parent = nullptr);

  // The entity with this id. A preset that is gone keeps the name it had when this
  // service last handed it out, so that its error can say which preset it was; an id
  // never seen stands for itself.
  [[nodiscard]] QCoro::Task<QString> setFanMode(QString id);
  [[nodiscard]] QCoro::Task<FanIntents::StatusAnswer> getFanStatus();
  // amount must lie within 1 to 75; otherwise BusError::invalidArguments is thrown.
  [[nodiscard]] QCoro::Task<QString> increaseFanSpeed(int amount);
  [[nodiscard]] QCoro::Task<QString> decreaseFanSpeed(int amount);

  [[nodiscard]] QList<FanModeEntity> fanModeEntities();
  [[nodiscard]] QList<FanModeEntity> fanModeEntities(const QStringList& identifiers);
  [[nodiscard]] QList<FanModeEntity> findFanModeEntities(const QString& query);

  [[nodiscard]] QList<AppShortcut> appShortcuts() const;
  // The preset list was saved: the set-mode shortcut's phrases change with it.
  void updateAppShortcutParameters();

  [[nodiscard]] FanIntents& intents() const { return intents_; }

 signals:
  void appShortcutsChanged();

 private:
  [[nodiscard]] QList<FanModeEntity> handOut(QList<FanModeEntity> entities);
  [[nodiscard]] FanModeEntity entity(const QString& id);
  static void checkAmount(int amount);

  FanIntents& intents_;
  const UserDefaults& defaults_;
  // Names of the entities handed out, by id; bounded by the presets a person makes.
  QHash<QString, QString> handedOut_;
};

}  // namespace zephro
