#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QImage>
#include <QList>
#include <QMetaType>
#include <QString>

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

// The picture in the protocol's pixel format; a null image gives an empty pixmap.
[[nodiscard]] IconPixmap toIconPixmap(const QImage& image);
// And back, for hosts and tests.
[[nodiscard]] QImage toImage(const IconPixmap& pixmap);

// Makes both types known to QtDBus; safe to call more than once.
void registerStatusItemTypes();

QDBusArgument& operator<<(QDBusArgument& argument, const IconPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, IconPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const ToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& argument, ToolTip& toolTip);

}  // namespace zephro::statusitem

Q_DECLARE_METATYPE(zephro::statusitem::IconPixmap)
Q_DECLARE_METATYPE(zephro::statusitem::ToolTip)
