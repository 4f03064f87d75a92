#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>
#include <functional>
#include <memory>

#include "platform/statusitem/StatusItemTypes.h"
#include "platform/statusitem/StatusNotifierMenu.h"

class QDBusMessage;
class QDBusPendingCall;

namespace zephro::statusitem {

class StatusNotifierItemAdaptor;

// What an item says of itself.
struct StatusNotifierItemOptions {
  // Stable between sessions: hosts remember an item's settings by it.
  QString id = QStringLiteral("zephro");
  QString title = QStringLiteral("Zephro");
  QString category = QStringLiteral("Hardware");
  // A folder laid out as an icon theme (hicolor/…) where hosts look up the item's themed
  // icon names before their own theme; empty when the names are in the desktop's themes.
  QString iconThemePath;
};

// The application's item in the desktop's tray, as an org.kde.StatusNotifierItem on the
// session bus. It owns the bus name org.kde.StatusNotifierItem-PID-N (N counts the items
// of this process), serves /StatusNotifierItem and its menu there, and registers with the
// org.kde.StatusNotifierWatcher, again each time the watcher comes back (a restarted
// panel). Every call it makes is asynchronous: the GUI thread never waits for the bus.
// Main thread only.
//
// It registers its object path, which watchers pair with the caller's unique name, rather
// than the well-known name: GNOME Shell's AppIndicator extension (Debian 12's) also watches
// a registered well-known name and, when that watch answers after the item's properties,
// forgets the item's id and drops the item.
class StatusNotifierItem : public QObject {
  Q_OBJECT

  /// Whether a tray shows the item: the watcher took the registration and a host draws it.
  Q_PROPERTY(Availability availability READ availability NOTIFY availabilityChanged)
  /// The program that runs the watcher ("xfce4-panel", "waybar", "gnome-shell"), which is
  /// the panel that draws the item; empty while no watcher runs or it cannot be told.
  Q_PROPERTY(QString watcherProgram READ watcherProgram NOTIFY watcherProgramChanged)

 public:
  // unknown until the first registration attempt has been answered.
  enum class Availability { unknown, available, unavailable };
  Q_ENUM(Availability)

  enum class Status { passive, active, needsAttention };

  using Options = StatusNotifierItemOptions;

  static constexpr const char* kObjectPath = "/StatusNotifierItem";
  static constexpr const char* kInterface = "org.kde.StatusNotifierItem";
  static constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";
  static constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
  static constexpr const char* kWatcherInterface = "org.kde.StatusNotifierWatcher";

  explicit StatusNotifierItem(QDBusConnection bus, Options options = {}, QObject* parent = nullptr);
  ~StatusNotifierItem() override;

  [[nodiscard]] const QString& serviceName() const { return serviceName_; }
  [[nodiscard]] Availability availability() const { return availability_; }
  [[nodiscard]] bool isWatcherAvailable() const { return availability_ == Availability::available; }
  // The watcher took the item, whether or not a host has come to draw it yet.
  [[nodiscard]] bool isRegistered() const { return registered_; }
  [[nodiscard]] const QString& watcherProgram() const { return watcherProgram_; }

  // The picture in each of its sizes (the 1x and 2x drawings) and its text: the pictures
  // become IconPixmap, the text the tooltip's description, the accessible description
  // and, on one line, the label hosts may show beside the picture. A themed icon name,
  // when given, goes before the pictures: hosts that find it recolour it for their panel.
  // Hosts are told only of what changed.
  void setPicture(const QList<QImage>& images, const QString& text, const QString& iconName = {});
  void setStatus(Status status);
  // The entries hosts offer for the item; menu().chosen tells which one the user took.
  [[nodiscard]] StatusNotifierMenu& menu() { return menu_; }

  // What the D-Bus properties read.
  [[nodiscard]] const Options& options() const { return options_; }
  [[nodiscard]] QString statusText() const;
  [[nodiscard]] const IconPixmapList& iconPixmaps() const { return iconPixmaps_; }
  [[nodiscard]] ToolTip toolTip() const;
  [[nodiscard]] const QString& label() const { return label_; }
  [[nodiscard]] const QString& iconName() const { return iconName_; }
  // What a screen reader says of the picture: the reading, or the item's title without one.
  [[nodiscard]] QString accessibleDescription() const;

 signals:
  // Activate(x, y): the user clicked the item; the point is in screen coordinates, or
  // (0, 0) from hosts that do not know it.
  void activated(QPoint position);
  // SecondaryActivate(x, y), usually a middle click.
  void secondaryActivated(QPoint position);
  // ContextMenu(x, y): the item has no menu of its own, so the host asks for one here.
  void contextMenuRequested(QPoint position);
  // Scroll(delta, orientation) over the item.
  void scrolled(int delta, Qt::Orientation orientation);
  void availabilityChanged();
  // The watcher took the item, or the item lost it (isRegistered()).
  void registrationChanged();
  void watcherProgramChanged();

 private:
  // The watcher's host signals carry nothing worth reading; each one means asking again.
  Q_SLOT void readHostRegistered();
  void requestName();
  void registerWithWatcher();
  void watcherVanished();
  void readWatcherProgram();
  void setWatcherProgram(const QString& program);
  void setAvailability(Availability availability);
  void setRegistered(bool registered);
  void updateAvailability();
  // Runs onReply with the answer to call, unless the item is gone by then.
  void whenAnswered(const QDBusPendingCall& call,
                    std::function<void(const QDBusMessage& reply)> onReply);

  QDBusConnection bus_;
  Options options_;
  QString serviceName_;
  std::unique_ptr<StatusNotifierItemAdaptor> adaptor_;
  StatusNotifierMenu menu_;
  QDBusServiceWatcher watcher_;
  Status status_ = Status::active;
  IconPixmapList iconPixmaps_;
  QString description_;
  QString label_;
  QString iconName_;
  QString watcherProgram_;
  Availability availability_ = Availability::unknown;
  bool nameOwned_ = false;
  bool registered_ = false;
  bool hostRegistered_ = false;
  // Counts registration attempts, so that an answer to an older one is ignored.
  int attempt_ = 0;
};

}  // namespace zephro::statusitem
