#include "platform/statusitem/StatusNotifierMenuAdaptor.h"

#include <QDBusError>

#include "platform/statusitem/StatusNotifierMenu.h"

namespace zephro::statusitem {

StatusNotifierMenuAdaptor::StatusNotifierMenuAdaptor(StatusNotifierMenu& menu)
    : QDBusAbstractAdaptor(&menu), menu_(menu) {}

void StatusNotifierMenuAdaptor::unknownId(int id) {
  menu_.sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("The menu has no entry %1").arg(id));
}

uint StatusNotifierMenuAdaptor::GetLayout(int parentId, int recursionDepth,
                                          const QStringList& propertyNames, MenuLayout& layout) {
  if (auto found = menu_.layout(parentId, recursionDepth, propertyNames)) {
    layout = std::move(*found);
  } else {
    unknownId(parentId);
  }
  return menu_.revision();
}

MenuItemPropertiesList StatusNotifierMenuAdaptor::GetGroupProperties(
    const QList<int>& ids, const QStringList& propertyNames) {
  MenuItemPropertiesList found;
  for (const int id : ids) {
    if (auto properties = menu_.properties(id, propertyNames)) {
      found.append({id, std::move(*properties)});
    }
  }
  return found;
}

QDBusVariant StatusNotifierMenuAdaptor::GetProperty(int id, const QString& name) {
  const auto properties = menu_.properties(id, {name});
  if (!properties) {
    unknownId(id);
    return {};
  }
  if (!properties->contains(name)) {
    menu_.sendErrorReply(QDBusError::InvalidArgs,
                         QStringLiteral("Menu entry %1 has no property %2").arg(id).arg(name));
    return {};
  }
  return QDBusVariant(properties->value(name));
}

void StatusNotifierMenuAdaptor::Event(int id, const QString& eventId, const QDBusVariant& /*data*/,
                                      uint /*timestamp*/) {
  if (!menu_.handleEvent(id, eventId)) unknownId(id);
}

QList<int> StatusNotifierMenuAdaptor::EventGroup(const MenuEventList& events) {
  QList<int> idErrors;
  for (const MenuEvent& event : events) {
    if (!menu_.handleEvent(event.id, event.eventId)) idErrors.append(event.id);
  }
  return idErrors;
}

bool StatusNotifierMenuAdaptor::AboutToShow(int id) {
  if (!menu_.properties(id, {})) unknownId(id);
  return false;
}

QList<int> StatusNotifierMenuAdaptor::AboutToShowGroup(const QList<int>& ids,
                                                       QList<int>& idErrors) {
  for (const int id : ids) {
    if (!menu_.properties(id, {})) idErrors.append(id);
  }
  return {};
}

}  // namespace zephro::statusitem
