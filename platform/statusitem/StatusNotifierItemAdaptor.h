#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QString>

#include "platform/statusitem/StatusItemTypes.h"

namespace zephro::statusitem {

class StatusNotifierItem;

// The org.kde.StatusNotifierItem interface of one item: its properties read the item,
// its methods become the item's signals. The change signals are the item's to emit.
class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")

  Q_PROPERTY(QString Category READ category)
  Q_PROPERTY(QString Id READ id)
  Q_PROPERTY(QString Title READ title)
  Q_PROPERTY(QString Status READ status)
  Q_PROPERTY(int WindowId READ windowId)
  /// A themed icon, looked up first in IconThemePath; empty: hosts draw IconPixmap.
  Q_PROPERTY(QString IconName READ iconName)
  Q_PROPERTY(QString IconThemePath READ iconThemePath)
  Q_PROPERTY(zephro::statusitem::IconPixmapList IconPixmap READ iconPixmap)
  Q_PROPERTY(QString IconAccessibleDesc READ accessibleDescription)
  // The item never asks for attention or overlays its icon, but hosts read these all the
  // same, and some log an error for each one missing.
  Q_PROPERTY(QString AttentionIconName READ noName)
  Q_PROPERTY(zephro::statusitem::IconPixmapList AttentionIconPixmap READ noPixmaps)
  Q_PROPERTY(QString AttentionAccessibleDesc READ accessibleDescription)
  Q_PROPERTY(QString AttentionMovieName READ noName)
  Q_PROPERTY(QString OverlayIconName READ noName)
  Q_PROPERTY(zephro::statusitem::IconPixmapList OverlayIconPixmap READ noPixmaps)
  Q_PROPERTY(zephro::statusitem::ToolTip ToolTip READ toolTip)
  /// False: a click activates the item; the menu is for a right click.
  Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
  /// Where the item's com.canonical.dbusmenu is.
  Q_PROPERTY(QDBusObjectPath Menu READ menu)
  Q_PROPERTY(QString XAyatanaLabel READ label)
  Q_PROPERTY(QString XAyatanaLabelGuide READ label)

 public:
  explicit StatusNotifierItemAdaptor(StatusNotifierItem& item);

  [[nodiscard]] QString category() const;
  [[nodiscard]] QString id() const;
  [[nodiscard]] QString title() const;
  [[nodiscard]] QString status() const;
  [[nodiscard]] int windowId() const { return 0; }
  [[nodiscard]] QString iconName() const;
  [[nodiscard]] QString iconThemePath() const;
  [[nodiscard]] IconPixmapList iconPixmap() const;
  [[nodiscard]] QString accessibleDescription() const;
  [[nodiscard]] QString noName() const { return {}; }
  [[nodiscard]] IconPixmapList noPixmaps() const { return {}; }
  [[nodiscard]] ToolTip toolTip() const;
  [[nodiscard]] bool itemIsMenu() const { return false; }
  [[nodiscard]] QDBusObjectPath menu() const;
  [[nodiscard]] QString label() const;

  Q_SLOT void Activate(int x, int y);
  Q_SLOT void SecondaryActivate(int x, int y);
  Q_SLOT void ContextMenu(int x, int y);
  Q_SLOT void Scroll(int delta, const QString& orientation);

 signals:
  void NewIcon();
  void NewToolTip();
  void NewStatus(const QString& status);
  void XAyatanaNewLabel(const QString& label, const QString& guide);

 private:
  StatusNotifierItem& item_;
};

}  // namespace zephro::statusitem
