#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusVariant>
#include <QList>
#include <QString>
#include <QStringList>

#include "platform/statusitem/StatusItemTypes.h"

namespace zephro::statusitem {

class StatusNotifierMenu;

// The com.canonical.dbusmenu interface of the item's menu: the methods read the menu and
// hand it the host's events; an id the menu lacks is an InvalidArgs error. The change
// signals are the menu's to emit. Lists are spelled out in the signatures: QtDBus finds
// their D-Bus types by the name written there.
class StatusNotifierMenuAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")

  Q_PROPERTY(uint Version READ version)
  Q_PROPERTY(QString TextDirection READ textDirection)
  Q_PROPERTY(QString Status READ status)
  Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

 public:
  explicit StatusNotifierMenuAdaptor(StatusNotifierMenu& menu);

  // The protocol's version this menu speaks.
  [[nodiscard]] uint version() const { return 3; }
  [[nodiscard]] QString textDirection() const { return QStringLiteral("ltr"); }
  [[nodiscard]] QString status() const { return QStringLiteral("normal"); }
  [[nodiscard]] QStringList iconThemePath() const { return {}; }

  Q_SLOT uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                        zephro::statusitem::MenuLayout& layout);
  Q_SLOT QList<zephro::statusitem::MenuItemProperties> GetGroupProperties(
      const QList<int>& ids, const QStringList& propertyNames);
  Q_SLOT QDBusVariant GetProperty(int id, const QString& name);
  Q_SLOT void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
  Q_SLOT QList<int> EventGroup(const QList<zephro::statusitem::MenuEvent>& events);
  // The entries never change on being shown, so no host needs to read them again.
  Q_SLOT bool AboutToShow(int id);
  Q_SLOT QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

 signals:
  void ItemsPropertiesUpdated(
      const QList<zephro::statusitem::MenuItemProperties>& updatedProps,
      const QList<zephro::statusitem::MenuItemRemovedProperties>& removedProps);
  void LayoutUpdated(uint revision, int parent);

 private:
  void unknownId(int id);

  StatusNotifierMenu& menu_;
};

}  // namespace zephro::statusitem
