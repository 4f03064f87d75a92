#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QImage>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace zephro::statusitem {

// One size of the item's picture as the tray protocol carries it, D-Bus (iiay): width and
// height in device pixels, then ARGB32 pixels (not premultiplied), each in network byte
// order, row after row.
struct IconPixmap {
  int width = 0;
  int height = 0;
  QByteArray argb;

  friend bool operator==(const IconPixmap&, const IconPixmap&) = default;
};
using IconPixmapList = QList<IconPixmap>;

// The item's tooltip, D-Bus (sa(iiay)ss): a themed icon name, icon pixmaps, a title and a
// description.
struct ToolTip {
  QString iconName;
  IconPixmapList iconPixmaps;
  QString title;
  QString description;

  friend bool operator==(const ToolTip&, const ToolTip&) = default;
};

// A menu entry and the entries under it, D-Bus (ia{sv}av): its id, its properties, and
// each child as a variant that holds the same structure.
struct MenuLayout {
  int id = 0;
  QVariantMap properties;
  QList<QDBusVariant> children;
};

// An entry's properties by id, D-Bus (ia{sv}).
struct MenuItemProperties {
  int id = 0;
  QVariantMap properties;
};
using MenuItemPropertiesList = QList<MenuItemProperties>;

// The names of properties an entry no longer has, D-Bus (ias).
struct MenuItemRemovedProperties {
  int id = 0;
  QStringList names;
};
using MenuItemRemovedPropertiesList = QList<MenuItemRemovedProperties>;

// One event of a group sent at once, D-Bus (isvu): the entry, what happened ("clicked",
// "hovered", "opened", "closed"), its data and the time of the user's action.
struct MenuEvent {
  int id = 0;
  QString eventId;
  QDBusVariant data;
  uint timestamp = 0;
};
using MenuEventList = QList<MenuEvent>;

// The picture in the protocol's pixel format; a null image gives an empty pixmap.
[[nodiscard]] IconPixmap toIconPixmap(const QImage& image);
// And back, for hosts and tests.
[[nodiscard]] QImage toImage(const IconPixmap& pixmap);

// Makes these types known to QtDBus; safe to call more than once.
void registerStatusItemTypes();

QDBusArgument& operator<<(QDBusArgument& argument, const IconPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, IconPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const ToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& argument, ToolTip& toolTip);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuLayout& layout);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuLayout& layout);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuItemProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuItemProperties& item);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuItemRemovedProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuItemRemovedProperties& item);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuEvent& event);

}  // namespace zephro::statusitem

Q_DECLARE_METATYPE(zephro::statusitem::IconPixmap)
Q_DECLARE_METATYPE(zephro::statusitem::ToolTip)
Q_DECLARE_METATYPE(zephro::statusitem::MenuLayout)
Q_DECLARE_METATYPE(zephro::statusitem::MenuItemProperties)
Q_DECLARE_METATYPE(zephro::statusitem::MenuItemRemovedProperties)
Q_DECLARE_METATYPE(zephro::statusitem::MenuEvent)
