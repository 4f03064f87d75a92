#include "app/shell/DesktopTray.h"

#include <QCursor>
#include <QDBusConnection>
#include <QEventLoop>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

#include "platform/statusitem/StatusNotifierItem.h"

namespace zephro {
namespace {

using statusitem::StatusNotifierItem;

constexpr int kWatcherAnswerMillis = 1500;

class NotifierItemEntry final : public TrayEntry {
 public:
  explicit NotifierItemEntry(std::unique_ptr<StatusNotifierItem> item) : item_(std::move(item)) {
    connect(item_.get(), &StatusNotifierItem::activated, this,
            [this](QPoint at) { emit activated(at); });
  }
  void setPicture(const QImage& picture, const QImage& picture2x, const QString& text) override {
    item_->setPicture({picture, picture2x}, text);
  }

 private:
  std::unique_ptr<StatusNotifierItem> item_;
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
  void setPicture(const QImage& picture, const QImage& picture2x, const QString& text) override {
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(picture));
    icon.addPixmap(QPixmap::fromImage(picture2x));
    icon_.setIcon(icon);
    icon_.setToolTip(text);
  }

 private:
  QSystemTrayIcon icon_;
};

bool watcherAnswers(StatusNotifierItem& item) {
  if (item.availability() == StatusNotifierItem::Availability::unknown) {
    QEventLoop loop;
    QObject::connect(&item, &StatusNotifierItem::availabilityChanged, &loop, &QEventLoop::quit);
    QTimer::singleShot(kWatcherAnswerMillis, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return item.isWatcherAvailable();
}

}  // namespace

std::unique_ptr<TrayEntry> makeDesktopTray() {
  const auto bus = QDBusConnection::sessionBus();
  if (bus.isConnected()) {
    auto item = std::make_unique<StatusNotifierItem>(bus);
    if (watcherAnswers(*item)) return std::make_unique<NotifierItemEntry>(std::move(item));
  }
  if (QSystemTrayIcon::isSystemTrayAvailable()) return std::make_unique<XEmbedEntry>();
  return nullptr;
}

}  // namespace zephro
