// The status item on a private message bus, where the test plays the panel: a watcher
// that items register with, and a host that reads their properties and clicks them.
#include "platform/statusitem/StatusNotifierItem.h"

#include <gtest/gtest.h>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QSignalSpy>
#include <optional>

#include "tests/platform/statusitem/TestWatcher.h"

namespace zephro::statusitem {
namespace {

using testing::callAndWait;
using testing::spinUntil;
using Availability = StatusNotifierItem::Availability;

class StatusNotifierItemTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(bus.isRunning()); }

  QDBusMessage callItem(const QString& interface, const QString& method,
                        const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(item->serviceName(), "/StatusNotifierItem",
                                                       interface, method);
    call.setArguments(arguments);
    return callAndWait(host, call);
  }

  // Properties.Get on the item, as a host reads it.
  QVariant property(const QString& name) {
    const QDBusMessage reply = callItem("org.freedesktop.DBus.Properties", "Get",
                                        {QStringLiteral("org.kde.StatusNotifierItem"), name});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    return qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant();
  }

  template <typename T>
  T demarshalled(const QString& name) {
    T value;
    qvariant_cast<QDBusArgument>(property(name)) >> value;
    return value;
  }

  bool settles(const StatusNotifierItem& which, Availability expected) {
    return spinUntil([&] { return which.availability() == expected; });
  }

  testing::PrivateBus bus;
  QDBusConnection host = bus.connect();
  testing::TestWatcher watcher{bus.connect()};
  std::optional<StatusNotifierItem> item;
};

TEST_F(StatusNotifierItemTest, RegistersWithTheWatcherAndAgainEachTimeItComesBack) {
  ASSERT_TRUE(watcher.start());
  QDBusConnection itemBus = bus.connect();
  item.emplace(itemBus);
  ASSERT_TRUE(settles(*item, Availability::available));
  ASSERT_EQ(watcher.registrations().size(), 1);
  EXPECT_EQ(watcher.registrations()[0].service, item->serviceName());
  EXPECT_EQ(watcher.registrations()[0].sender, itemBus.baseService());
  EXPECT_TRUE(item->serviceName().startsWith(
      QStringLiteral("org.kde.StatusNotifierItem-%1-").arg(QCoreApplication::applicationPid())));

  // The panel restarts: the item is gone from the tray until the new watcher has it.
  QSignalSpy changes(&*item, &StatusNotifierItem::availabilityChanged);
  watcher.stop();
  ASSERT_TRUE(settles(*item, Availability::unavailable));
  ASSERT_TRUE(watcher.start());
  ASSERT_TRUE(settles(*item, Availability::available));
  EXPECT_EQ(changes.count(), 2);
  ASSERT_EQ(watcher.registrations().size(), 2);
  EXPECT_EQ(watcher.registrations()[1].service, item->serviceName());

  // A watcher that takes the name straight from the old one is registered with too.
  testing::TestWatcher successor(bus.connect());
  watcher.stop();
  ASSERT_TRUE(successor.start());
  EXPECT_TRUE(spinUntil([&] { return successor.registrations().size() == 1; }));
  EXPECT_TRUE(settles(*item, Availability::available));
}

TEST_F(StatusNotifierItemTest, ShowsOnlyWhereAWatcherAndAHostAre) {
  // A watcher with no host draws nothing: the item is registered and still not shown.
  watcher.setHostRegistered(false);
  ASSERT_TRUE(watcher.start());
  item.emplace(bus.connect());
  ASSERT_TRUE(settles(*item, Availability::unavailable));
  EXPECT_EQ(watcher.registrations().size(), 1);
  watcher.setHostRegistered(true);
  ASSERT_TRUE(settles(*item, Availability::available));
  watcher.setHostRegistered(false);
  ASSERT_TRUE(settles(*item, Availability::unavailable));

  // No watcher at all, until one starts.
  watcher.stop();
  watcher.setHostRegistered(true);
  const StatusNotifierItem alone(bus.connect());
  ASSERT_TRUE(settles(alone, Availability::unavailable));
  ASSERT_TRUE(watcher.start());
  EXPECT_TRUE(settles(alone, Availability::available));
}

TEST_F(StatusNotifierItemTest, PublishesThePictureItsTextAndItsIdentity) {
  ASSERT_TRUE(watcher.start());
  item.emplace(bus.connect());
  ASSERT_TRUE(settles(*item, Availability::available));
  testing::HostProbe probe;
  ASSERT_TRUE(probe.listen(host, item->serviceName()));

  QImage normal(58, 22, QImage::Format_ARGB32);
  normal.fill(qRgba(10, 20, 30, 255));
  normal.setPixel(1, 0, qRgba(200, 100, 50, 128));
  QImage doubled(116, 44, QImage::Format_ARGB32);
  doubled.fill(Qt::transparent);
  const QString text = QStringLiteral("52°C\n2200 RPM");
  item->setPicture({normal, doubled}, text);

  const auto pixmaps = demarshalled<IconPixmapList>("IconPixmap");
  ASSERT_EQ(pixmaps.size(), 2);
  EXPECT_EQ(std::pair(pixmaps[0].width, pixmaps[0].height), std::pair(58, 22));
  EXPECT_EQ(std::pair(pixmaps[1].width, pixmaps[1].height), std::pair(116, 44));
  EXPECT_EQ(pixmaps[1].argb.size(), 116 * 44 * 4);
  // ARGB, most significant byte first, not premultiplied.
  EXPECT_EQ(pixmaps[0].argb.left(8), QByteArray::fromHex("ff0a141e80c86432"));
  EXPECT_EQ(toImage(pixmaps[0]), normal);

  EXPECT_EQ(property("XAyatanaLabel").toString(), "52°C 2200 RPM");
  EXPECT_EQ(property("XAyatanaLabelGuide").toString(), "52°C 2200 RPM");
  const auto toolTip = demarshalled<ToolTip>("ToolTip");
  EXPECT_EQ(toolTip.title, "Zephro");
  EXPECT_EQ(toolTip.description, text);
  EXPECT_TRUE(toolTip.iconPixmaps.isEmpty());

  const std::pair<const char*, const char*> identity[] = {{"Id", "zephro"},
                                                          {"Title", "Zephro"},
                                                          {"Category", "Hardware"},
                                                          {"ItemIsMenu", "false"},
                                                          {"Status", "Active"}};
  for (const auto& [name, value] : identity) EXPECT_EQ(property(name).toString(), value) << name;
  EXPECT_EQ(qvariant_cast<QDBusObjectPath>(property("Menu")).path(), "/NO_DBUSMENU");

  // The same picture again tells the host nothing; a new text alone changes only the text.
  item->setPicture({normal, doubled}, text);
  item->setPicture({normal, doubled}, QStringLiteral("53°C\n2200 RPM"));
  EXPECT_EQ(property("XAyatanaLabel").toString(), "53°C 2200 RPM");
  item->setStatus(StatusNotifierItem::Status::needsAttention);
  EXPECT_EQ(property("Status").toString(), "NeedsAttention");
  probe.heard.sort();
  EXPECT_EQ(probe.heard,
            (QStringList{"NewIcon", "NewStatus NeedsAttention", "NewToolTip", "NewToolTip",
                         "XAyatanaNewLabel 52°C 2200 RPM", "XAyatanaNewLabel 53°C 2200 RPM"}));
}

TEST_F(StatusNotifierItemTest, ClicksFromTheHostArriveWithTheirPosition) {
  item.emplace(bus.connect());
  ASSERT_TRUE(settles(*item, Availability::unavailable));
  QList<QVariantList> received;
  for (const auto signal : {&StatusNotifierItem::activated, &StatusNotifierItem::secondaryActivated,
                            &StatusNotifierItem::contextMenuRequested}) {
    QObject::connect(&*item, signal, [&](QPoint at) { received.append({at}); });
  }
  QObject::connect(&*item, &StatusNotifierItem::scrolled, [&](int delta, Qt::Orientation way) {
    received.append({delta, QVariant::fromValue(way)});
  });

  const std::pair<const char*, QVariantList> calls[] = {
      {"Activate", {1210, 14}},
      {"SecondaryActivate", {5, 6}},
      {"ContextMenu", {7, 8}},
      {"Scroll", {-120, QStringLiteral("horizontal")}},
      {"Scroll", {3, QStringLiteral("vertical")}}};
  for (const auto& [method, arguments] : calls) {
    EXPECT_EQ(callItem("org.kde.StatusNotifierItem", method, arguments).type(),
              QDBusMessage::ReplyMessage)
        << method;
  }
  EXPECT_EQ(received, (QList<QVariantList>{{QPoint(1210, 14)},
                                           {QPoint(5, 6)},
                                           {QPoint(7, 8)},
                                           {-120, QVariant::fromValue(Qt::Horizontal)},
                                           {3, QVariant::fromValue(Qt::Vertical)}}));
}

}  // namespace
}  // namespace zephro::statusitem
