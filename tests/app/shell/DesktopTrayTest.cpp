#include "app/shell/DesktopTray.h"

#include <gtest/gtest.h>
#include <QDBusMessage>
#include <QObject>

#include "tests/support/PrivateBus.h"
#include "tests/support/SpinUntil.h"

namespace zephro {
namespace {

// A panel whose watcher owns its name but answers registrations only when told, as GNOME
// Shell does while a session starts.
class SlowWatcher : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)

 public:
  explicit SlowWatcher(QDBusConnection bus) : bus_(std::move(bus)) {
    bus_.registerObject("/StatusNotifierWatcher", this, QDBusConnection::ExportScriptableContents);
    bus_.registerService("org.kde.StatusNotifierWatcher");
  }

  Q_SCRIPTABLE Q_SLOT void RegisterStatusNotifierItem(const QString& path,
                                                      const QDBusMessage& message) {
    message.setDelayedReply(true);
    held_.append(message.createReply());
    registrations.append({path, message.service()});
  }
  [[nodiscard]] bool isHostRegistered() const { return true; }
  void answer() {
    for (const auto& reply : held_) bus_.send(reply);
    held_.clear();
  }

  QList<QStringList> registrations;

 private:
  QDBusConnection bus_;
  QList<QDBusMessage> held_;
};

// Qt's icon (the XEmbed stand-in) would show at once and register a picture without the
// reading; the item waits for the watcher instead. No XEmbed tray runs here: the test says
// there is one, as on a GNOME session under X11.
TEST(DesktopTray, AWatcherSlowToAnswerStillGetsTheItemRatherThanQtsIcon) {
  testing::PrivateBus bus;
  ASSERT_TRUE(bus.isRunning());
  SlowWatcher watcher(bus.connect());
  const QDBusConnection application = bus.connect();
  const auto entry = makeDesktopTrayOn(application, [] { return true; });
  ASSERT_NE(entry, nullptr);
  EXPECT_FALSE(entry->isShown());
  watcher.answer();
  EXPECT_TRUE(testing::spinUntil([&] { return entry->isShown(); }));
  EXPECT_EQ(watcher.registrations,
            (QList<QStringList>{{"/StatusNotifierItem", application.baseService()}}));
}

}  // namespace
}  // namespace zephro

#include "DesktopTrayTest.moc"
