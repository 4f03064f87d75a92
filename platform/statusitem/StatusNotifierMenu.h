#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "platform/statusitem/StatusItemTypes.h"

namespace zephro::statusitem {

class StatusNotifierMenuAdaptor;

// The item's menu, a flat list of entries served as com.canonical.dbusmenu at kObjectPath
// on the item's connection. Hosts open it on a right click, and GNOME Shell's AppIndicator
// extension on any click: it shows no item that lacks one. The root is id 0; entry i has
// id i + 1. Main thread only.
//
// QtDBus gives the call being answered to the object an adaptor belongs to, so the menu,
// not its adaptor, is where an error reply is sent from.
class StatusNotifierMenu : public QObject, protected QDBusContext {
  Q_OBJECT
  friend class StatusNotifierMenuAdaptor;

 public:
  static constexpr const char* kObjectPath = "/MenuBar";
  static constexpr const char* kInterface = "com.canonical.dbusmenu";

  explicit StatusNotifierMenu(QDBusConnection bus, QObject* parent = nullptr);
  ~StatusNotifierMenu() override;

  // The entries' labels, in order. Hosts are told of what changed: new labels as changed
  // properties, a new number of entries as a new layout.
  void setEntries(const QStringList& labels);
  [[nodiscard]] const QStringList& entries() const { return entries_; }

  // What the D-Bus methods answer. names filters the properties; empty means all of them.
  [[nodiscard]] uint revision() const { return revision_; }
  [[nodiscard]] std::optional<MenuLayout> layout(int parentId, int depth,
                                                 const QStringList& names) const;
  [[nodiscard]] std::optional<QVariantMap> properties(int id, const QStringList& names) const;
  // An event from the host; false for an id the menu does not have.
  bool handleEvent(int id, const QString& eventId);

 signals:
  // The user chose the entry at index.
  void chosen(int index);

 private:
  QDBusConnection bus_;
  std::unique_ptr<StatusNotifierMenuAdaptor> adaptor_;
  QStringList entries_;
  uint revision_ = 1;
};

}  // namespace zephro::statusitem
