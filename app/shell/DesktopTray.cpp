#include "app/shell/DesktopTray.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QEventLoop>
#include <QGuiApplication>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/shell/PanelAppearance.h"
#include "app/ui/LocalizationManager.h"
#include "app/ui/SymbolCatalog.h"
#include "platform/statusitem/StatusNotifierItem.h"

namespace zephro {
namespace {

using statusitem::StatusNotifierItem;

constexpr int kWatcherAnswerMillis = 1500;
const QString kSymbolicIcon = QStringLiteral("com.zephro.app-symbolic");

// The installed icon theme folder beside the program (PREFIX/bin → PREFIX/share/icons),
// when it holds the symbolic icon; empty in a build tree.
QString installedIconThemePath() {
  const QDir icons(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/icons"));
  const QString icon =
      QStringLiteral("hicolor/symbolic/apps/") + kSymbolicIcon + QStringLiteral(".svg");
  return icons.exists(icon) ? icons.canonicalPath() : QString();
}

// Where a popover opened from the entry's menu goes: the menu hangs from the panel, so at
// the pointer's x, on the edge of the screen's free area nearest the pointer.
QPoint menuAnchor() {
  const QPoint pointer = QCursor::pos();
  const QScreen* screen = QGuiApplication::screenAt(pointer);
  if (!screen) return pointer;
  const QRect available = screen->availableGeometry();
  const bool panelAtBottom = pointer.y() > available.center().y();
  return {pointer.x(), panelAtBottom ? available.bottom() : available.top()};
}

std::pair<QImage, QImage> drawBothSizes(const StatusReading& reading, const TrayHost& host) {
  const auto& symbols = SymbolCatalog::shared();
  return {drawStatusPicture(reading, host, 1.0, symbols).image,
          drawStatusPicture(reading, host, 2.0, symbols).image};
}

class NotifierItemEntry final : public TrayEntry {
 public:
  NotifierItemEntry(std::unique_ptr<StatusNotifierItem> item, const QDBusConnection& bus)
      : item_(std::move(item)), appearance_(bus) {
    connect(item_.get(), &StatusNotifierItem::activated, this,
            [this](QPoint at) { emit activated(at); });
    connect(item_.get(), &StatusNotifierItem::registrationChanged, this, &TrayEntry::shownChanged);
    // A new panel draws differently, and a new colour scheme recolours the panel.
    connect(item_.get(), &StatusNotifierItem::watcherProgramChanged, this,
            &NotifierItemEntry::redraw);
    connect(&appearance_, &PanelAppearance::changed, this, &NotifierItemEntry::redraw);
    // Most hosts open the menu on a right click; GNOME's on any click, so its first entry
    // does what a click does elsewhere.
    auto& localization = LocalizationManager::shared();
    connect(&localization, &LocalizationManager::languageChanged, this,
            &NotifierItemEntry::relabelMenu);
    relabelMenu();
    connect(&item_->menu(), &statusitem::StatusNotifierMenu::chosen, this, [this](int entry) {
      if (entry == kOpenEntry) emit activated(menuAnchor());
      if (entry == kQuitEntry) emit quitRequested();
    });
  }

  void showReading(const StatusReading& reading) override {
    reading_ = reading;
    redraw();
  }
  [[nodiscard]] bool isShown() const override { return item_->isRegistered(); }

 private:
  [[nodiscard]] TrayHost host() const {
    const QString& program = item_->watcherProgram();
    // Qt panels (LXQt, Plasma) draw in the palette the desktop gives this application too.
    const bool paletteIsDark = QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
    return {trayShapeOf(program), panelIsAlwaysDark(program) ||
                                      appearance_.prefersDark().value_or(
                                          panelIsDarkByDefault(program).value_or(paletteIsDark))};
  }

  void relabelMenu() {
    const auto& localization = LocalizationManager::shared();
    item_->menu().setEntries({localization.string(QStringLiteral("Zephro")),
                              localization.string(QStringLiteral("popover_close"))});
  }

  void redraw() {
    const TrayHost shownOn = host();
    const auto [picture, picture2x] = drawBothSizes(reading_, shownOn);
    const StatusLayout layout = layoutStatusPicture(reading_, shownOn.shape);
    // The plain icon goes by name where the theme has it, and hosts recolour it.
    const bool plainIcon = layout.drawnText.isEmpty() && !item_->options().iconThemePath.isEmpty();
    item_->setPicture({picture, picture2x}, layout.text, plainIcon ? kSymbolicIcon : QString());
  }

  static constexpr int kOpenEntry = 0;
  static constexpr int kQuitEntry = 1;

  std::unique_ptr<StatusNotifierItem> item_;
  PanelAppearance appearance_;
  StatusReading reading_;
};

// Qt's own tray icon squeezes the picture into a square and gives no click position;
// it is the fallback for trays that speak only XEmbed.
class XEmbedEntry final : public TrayEntry {
 public:
  XEmbedEntry() {
    connect(&icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
              if (reason == QSystemTrayIcon::Trigger) emit activated(QCursor::pos());
            });
    icon_.show();
  }
  void showReading(const StatusReading& reading) override {
    const auto [picture, picture2x] = drawBothSizes(reading, TrayHost{});
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(picture));
    icon.addPixmap(QPixmap::fromImage(picture2x));
    icon_.setIcon(icon);
    icon_.setToolTip(layoutStatusPicture(reading, TrayShape::square).text);
  }
  [[nodiscard]] bool isShown() const override { return true; }

 private:
  QSystemTrayIcon icon_;
};

bool watcherRuns(const QDBusConnection& bus) {
  const QDBusConnectionInterface* const daemon = bus.interface();
  return daemon != nullptr &&
         daemon->isServiceRegistered(QString::fromLatin1(StatusNotifierItem::kWatcherService))
             .value();
}

void waitForTheWatcher(StatusNotifierItem& item) {
  if (item.availability() != StatusNotifierItem::Availability::unknown) return;
  QEventLoop loop;
  QObject::connect(&item, &StatusNotifierItem::availabilityChanged, &loop, &QEventLoop::quit);
  QTimer::singleShot(kWatcherAnswerMillis, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

std::unique_ptr<TrayEntry> makeDesktopTray() {
  return makeDesktopTrayOn(QDBusConnection::sessionBus(), &QSystemTrayIcon::isSystemTrayAvailable);
}

std::unique_ptr<TrayEntry> makeDesktopTrayOn(const QDBusConnection& bus,
                                             const std::function<bool()>& xembedTrayAvailable) {
  if (!bus.isConnected()) {
    if (xembedTrayAvailable()) return std::make_unique<XEmbedEntry>();
    return nullptr;
  }
  StatusNotifierItem::Options options;
  options.iconThemePath = installedIconThemePath();
  auto item = std::make_unique<StatusNotifierItem>(bus, options);
  waitForTheWatcher(*item);
  // A watcher busy at login (GNOME Shell's) answers after the wait; Qt's own icon would
  // register with it too, as a plain picture without the reading.
  if (!item->isRegistered() && !watcherRuns(bus) && xembedTrayAvailable()) {
    return std::make_unique<XEmbedEntry>();
  }
  return std::make_unique<NotifierItemEntry>(std::move(item), bus);
}

}  // namespace zephro
