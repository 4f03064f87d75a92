#include "platform/statusitem/StatusNotifierItemAdaptor.h"

#include <QPoint>

#include "platform/statusitem/StatusNotifierItem.h"

namespace zephro::statusitem {

StatusNotifierItemAdaptor::StatusNotifierItemAdaptor(StatusNotifierItem& item)
    : QDBusAbstractAdaptor(&item), item_(item) {}

QString StatusNotifierItemAdaptor::category() const {
  return item_.options().category;
}

QString StatusNotifierItemAdaptor::id() const {
  return item_.options().id;
}

QString StatusNotifierItemAdaptor::title() const {
  return item_.options().title;
}

QString StatusNotifierItemAdaptor::status() const {
  return item_.statusText();
}

QString StatusNotifierItemAdaptor::iconName() const {
  return item_.iconName();
}

QString StatusNotifierItemAdaptor::iconThemePath() const {
  return item_.options().iconThemePath;
}

QString StatusNotifierItemAdaptor::accessibleDescription() const {
  return item_.accessibleDescription();
}

IconPixmapList StatusNotifierItemAdaptor::iconPixmap() const {
  return item_.iconPixmaps();
}

ToolTip StatusNotifierItemAdaptor::toolTip() const {
  return item_.toolTip();
}

QDBusObjectPath StatusNotifierItemAdaptor::menu() const {
  return QDBusObjectPath(QString::fromLatin1(StatusNotifierMenu::kObjectPath));
}

QString StatusNotifierItemAdaptor::label() const {
  return item_.label();
}

void StatusNotifierItemAdaptor::Activate(int x, int y) {
  emit item_.activated(QPoint(x, y));
}

void StatusNotifierItemAdaptor::SecondaryActivate(int x, int y) {
  emit item_.secondaryActivated(QPoint(x, y));
}

void StatusNotifierItemAdaptor::ContextMenu(int x, int y) {
  emit item_.contextMenuRequested(QPoint(x, y));
}

void StatusNotifierItemAdaptor::Scroll(int delta, const QString& orientation) {
  const bool horizontal = orientation.compare(u"horizontal", Qt::CaseInsensitive) == 0;
  emit item_.scrolled(delta, horizontal ? Qt::Horizontal : Qt::Vertical);
}

}  // namespace zephro::statusitem
