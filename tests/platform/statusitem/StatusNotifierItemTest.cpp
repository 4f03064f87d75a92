// The status item on a private bus, where the test plays the panel: its watcher and host.
#include "platform/statusitem/StatusNotifierItem.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QFile>
#include <QSignalSpy>
#include <optional>

#include "tests/support/PrivateBus.h"
#include "tests/support/SpinUntil.h"
#include "tests/support/TestWatcher.h"

namespace zephro::statusitem {
namespace {

using Availability = StatusNotifierItem::Availability;
using zephro::testing::spinUntil;

// Turns the loop while waiting, as an item in this thread could not answer a blocking call.
QDBusMessage callAndWait(QDBusConnection& bus, const QDBusMessage& call) {
  const QDBusPendingCall pending = bus.asyncCall(call);
  spinUntil([&] { return pending.isFinished(); });
  // Signals sent before the answer are queued for this thread by now; deliver them.
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  return pending.reply();
}

// Each signal a host hears, with its first argument if any ("NewStatus NeedsAttention").
class HostProbe : public QObject {
  Q_OBJECT

 public:
  Q_SLOT void onSignal(const QDBusMessage& message) {
    const auto arguments = message.arguments();
    heard.append(message.member() + (arguments.isEmpty() ? "" : " " + arguments[0].toString()));
    messages.append(message);
  }

  QStringList heard;
  QList<QDBusMessage> messages;
};

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
  bool settles(const StatusNotifierItem& which, Availability expected) {
    return spinUntil([&] { return which.availability() == expected; });
  }

  testing::PrivateBus bus;
  QDBusConnection host = bus.connect();
  testing::TestWatcher watcher{bus.connect()};
  std::optional<StatusNotifierItem> item;
};

TEST_F(StatusNotifierItemTest, RegistersWithEachWatcherAndShowsOnlyWhileItHasAHost) {
  ASSERT_TRUE(watcher.start());
  QDBusConnection itemBus = bus.connect();
  item.emplace(itemBus);
  ASSERT_TRUE(settles(*item, Availability::available));
  EXPECT_EQ(watcher.registrations,
            (QList<QStringList>{{"/StatusNotifierItem", itemBus.baseService()}}));
  // The watcher runs in this very process, so its program is this one.
  QFile comm(QStringLiteral("/proc/self/comm"));
  ASSERT_TRUE(comm.open(QIODevice::ReadOnly));
  const QString program = QString::fromUtf8(comm.readAll()).trimmed();
  EXPECT_TRUE(spinUntil([&] { return item->watcherProgram() == program; }));

  // The panel restarts: the item is gone from the tray until the new watcher has it.
  QSignalSpy changes(&*item, &StatusNotifierItem::availabilityChanged);
  watcher.stop();
  ASSERT_TRUE(settles(*item, Availability::unavailable));
  EXPECT_EQ(std::pair(item->isRegistered(), item->watcherProgram()), std::pair(false, QString()));
  ASSERT_TRUE(watcher.start());
  ASSERT_TRUE(settles(*item, Availability::available));
  EXPECT_EQ(changes.count(), 2);
  ASSERT_EQ(watcher.registrations.size(), 2);
  EXPECT_EQ(watcher.registrations[1], watcher.registrations[0]);

  // A watcher with no host draws nothing: the item stays registered and is not shown.
  watcher.setHostRegistered(false);
  ASSERT_TRUE(settles(*item, Availability::unavailable));
  EXPECT_TRUE(item->isRegistered());
  watcher.setHostRegistered(true);
  EXPECT_TRUE(settles(*item, Availability::available));
  EXPECT_EQ(watcher.registrations.size(), 2);
}

TEST_F(StatusNotifierItemTest, PublishesThePictureItsTextAndItsIdentity) {
  ASSERT_TRUE(watcher.start());
  item.emplace(bus.connect());
  ASSERT_TRUE(settles(*item, Availability::available));
  HostProbe probe;
  for (const char* name : {"NewIcon", "NewToolTip", "NewStatus", "XAyatanaNewLabel"}) {
    ASSERT_TRUE(host.connect(item->serviceName(), "/StatusNotifierItem",
                             "org.kde.StatusNotifierItem", name, &probe,
                             SLOT(onSignal(QDBusMessage))));
  }
  // A call answered after the subscriptions: by then the bus has them all.
  EXPECT_EQ(property("Status").toString(), "Active");

  QImage normal(58, 22, QImage::Format_ARGB32);
  normal.fill(qRgba(10, 20, 30, 255));
  normal.setPixel(1, 0, qRgba(200, 100, 50, 128));
  QImage doubled(116, 44, QImage::Format_ARGB32);
  doubled.fill(Qt::transparent);
  const QString text = QStringLiteral("52°C\n2200 RPM");
  item->setPicture({normal, doubled}, text);

  IconPixmapList pixmaps;
  qvariant_cast<QDBusArgument>(property("IconPixmap")) >> pixmaps;
  ASSERT_EQ(pixmaps.size(), 2);
  EXPECT_EQ(std::tuple(pixmaps[1].width, pixmaps[1].height, pixmaps[1].argb.size()),
            std::tuple(116, 44, 116 * 44 * 4));
  // ARGB, most significant byte first, not premultiplied.
  EXPECT_EQ(pixmaps[0].argb.left(8), QByteArray::fromHex("ff0a141e80c86432"));
  EXPECT_EQ(toImage(pixmaps[0]), normal);
  ToolTip toolTip;
  qvariant_cast<QDBusArgument>(property("ToolTip")) >> toolTip;
  EXPECT_EQ(std::tuple(toolTip.title, toolTip.description, toolTip.iconPixmaps.size()),
            std::tuple("Zephro", text, 0));
  EXPECT_EQ(qvariant_cast<QDBusObjectPath>(property("Menu")).path(), "/MenuBar");
  const std::pair<const char*, const char*> identity[] = {
      {"Id", "zephro"},
      {"Title", "Zephro"},
      {"Category", "Hardware"},
      {"ItemIsMenu", "false"},
      {"XAyatanaLabel", "52°C 2200 RPM"},
      {"XAyatanaLabelGuide", "52°C 2200 RPM"},
      {"IconAccessibleDesc", "Zephro: 52°C 2200 RPM"},
      {"AttentionAccessibleDesc", "Zephro: 52°C 2200 RPM"},
      {"IconName", ""},
      {"AttentionIconName", ""},
      {"OverlayIconName", ""},
      {"AttentionMovieName", ""},
      {"IconThemePath", ""}};
  for (const auto& [name, value] : identity) EXPECT_EQ(property(name).toString(), value) << name;

  // The same picture again tells the host nothing; a new text alone changes only the text.
  item->setPicture({normal, doubled}, text);
  item->setPicture({normal, doubled}, QStringLiteral("53°C\n2200 RPM"));
  EXPECT_EQ(property("XAyatanaLabel").toString(), "53°C 2200 RPM");
  // A themed name is a new icon, even over the same pictures.
  item->setPicture({normal, doubled}, QStringLiteral("53°C\n2200 RPM"), "zephro-symbolic");
  EXPECT_EQ(property("IconName").toString(), "zephro-symbolic");
  item->setStatus(StatusNotifierItem::Status::needsAttention);
  EXPECT_EQ(property("Status").toString(), "NeedsAttention");
  probe.heard.sort();
  EXPECT_EQ(probe.heard, (QStringList{"NewIcon", "NewIcon", "NewStatus NeedsAttention",
                                      "NewToolTip", "NewToolTip", "XAyatanaNewLabel 52°C 2200 RPM",
                                      "XAyatanaNewLabel 53°C 2200 RPM"}));
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
      {"Scroll", {-120, QStringLiteral("horizontal")}}};
  for (const auto& [method, arguments] : calls) {
    EXPECT_EQ(callItem("org.kde.StatusNotifierItem", method, arguments).type(),
              QDBusMessage::ReplyMessage)
        << method;
  }
  EXPECT_EQ(received, (QList<QVariantList>{{QPoint(1210, 14)},
                                           {QPoint(5, 6)},
                                           {QPoint(7, 8)},
                                           {-120, QVariant::fromValue(Qt::Horizontal)}}));
}

// What a host reads of an entry: its id, label and the ids of its children.
struct Entry {
  int id;
  QString label;
  QList<int> children;
  friend bool operator==(const Entry&, const Entry&) = default;
  friend void PrintTo(const Entry& entry, std::ostream* out) {
    *out << entry.id << " " << entry.label.toStdString() << " " << entry.children.size();
  }
};

template <typename T>
T decoded(const QVariant& value) {
  T result;
  qvariant_cast<QDBusArgument>(value) >> result;
  return result;
}

QList<Entry> entriesOf(const MenuLayout& layout) {
  QList<Entry> entries{{layout.id, layout.properties.value("label").toString(), {}}};
  for (const QDBusVariant& child : layout.children) {
    const auto childLayout = decoded<MenuLayout>(child.variant());
    entries[0].children.append(childLayout.id);
    entries.append(entriesOf(childLayout));
  }
  return entries;
}

TEST_F(StatusNotifierItemTest, ServesItsMenuAndTellsWhichEntryWasChosen) {
  item.emplace(bus.connect());
  QList<int> chosen;
  QObject::connect(&item->menu(), &StatusNotifierMenu::chosen,
                   [&](int index) { chosen.append(index); });
  item->menu().setEntries({"Zephro", "Quit_Zephro"});
  const auto call = [this](const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(item->serviceName(), "/MenuBar",
                                                          "com.canonical.dbusmenu", method);
    message.setArguments(arguments);
    return callAndWait(host, message);
  };
  const QStringList all;

  // The whole tree, the root alone, and only the properties asked for.
  QDBusMessage reply = call("GetLayout", {0, -1, all});
  ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
  const uint revision = reply.arguments()[0].toUInt();
  const auto root = decoded<MenuLayout>(reply.arguments()[1]);
  EXPECT_EQ(root.properties.value("children-display"), "submenu");
  // An underscore would mark an access key: the label's own is doubled.
  EXPECT_EQ(entriesOf(root),
            (QList<Entry>{{0, "", {1, 2}}, {1, "Zephro", {}}, {2, "Quit__Zephro", {}}}));
  EXPECT_TRUE(
      decoded<MenuLayout>(call("GetLayout", {0, 0, all}).arguments()[1]).children.isEmpty());
  const auto typesOnly =
      decoded<MenuLayout>(call("GetLayout", {0, -1, QStringList{"type"}}).arguments()[1]);
  EXPECT_EQ(entriesOf(typesOnly), (QList<Entry>{{0, "", {1, 2}}, {1, "", {}}, {2, "", {}}}));
  const auto group = decoded<MenuItemPropertiesList>(
      call("GetGroupProperties", {QVariant::fromValue(QList<int>{2, 7}), all}).arguments()[0]);
  ASSERT_EQ(group.size(), 1);
  EXPECT_EQ(std::pair(group[0].id, group[0].properties.value("label")),
            std::pair(2, QVariant("Quit__Zephro")));
  reply = call("GetProperty", {1, "label"});
  EXPECT_EQ(qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant(), "Zephro");

  // Only a click chooses; ids the menu lacks are errors, one by one or in a group.
  const QDBusVariant none(0);
  const std::tuple<const char*, QVariantList, bool> events[] = {
      {"Event", {2, "clicked", QVariant::fromValue(none), 0U}, true},
      {"Event", {1, "hovered", QVariant::fromValue(none), 0U}, true},
      {"Event", {0, "opened", QVariant::fromValue(none), 0U}, true},
      {"Event", {9, "clicked", QVariant::fromValue(none), 0U}, false},
      {"GetLayout", {3, -1, all}, false},
      {"GetProperty", {1, "icon-name"}, false},
      {"AboutToShow", {0}, true},
      {"AboutToShow", {5}, false}};
  for (const auto& [method, arguments, answered] : events) {
    EXPECT_EQ(call(method, arguments).type(),
              answered ? QDBusMessage::ReplyMessage : QDBusMessage::ErrorMessage)
        << method << " " << arguments[0].toInt();
  }
  const MenuEventList group2{{1, "clicked", none, 0}, {9, "clicked", none, 0}};
  EXPECT_EQ(
      decoded<QList<int>>(call("EventGroup", {QVariant::fromValue(group2)}).arguments().value(0)),
      QList<int>{9});
  EXPECT_EQ(chosen, (QList<int>{1, 0}));
  reply = call("AboutToShowGroup", {QVariant::fromValue(QList<int>{0, 5})});
  EXPECT_EQ(std::pair(decoded<QList<int>>(reply.arguments().value(0)),
                      decoded<QList<int>>(reply.arguments().value(1))),
            std::pair(QList<int>{}, QList<int>{5}));

  // A new label is a changed property, a new entry a new layout.
  HostProbe probe;
  for (const char* name : {"ItemsPropertiesUpdated", "LayoutUpdated"}) {
    ASSERT_TRUE(host.connect(item->serviceName(), "/MenuBar", "com.canonical.dbusmenu", name,
                             &probe, SLOT(onSignal(QDBusMessage))));
  }
  call("AboutToShow", {0});
  item->menu().setEntries({"Zephro", "Zephro beenden"});
  item->menu().setEntries({"Zephro", "Zephro beenden", "Über Zephro"});
  EXPECT_TRUE(spinUntil([&] { return probe.messages.size() == 2; }));
  ASSERT_EQ(probe.messages.size(), 2);
  const auto relabelled = decoded<MenuItemPropertiesList>(probe.messages[0].arguments()[0]);
  ASSERT_EQ(relabelled.size(), 1);
  EXPECT_EQ(std::pair(relabelled[0].id, relabelled[0].properties.value("label")),
            std::pair(2, QVariant("Zephro beenden")));
  EXPECT_EQ(probe.messages[1].member(), "LayoutUpdated");
  EXPECT_EQ(probe.messages[1].arguments()[0].toUInt(), revision + 2);
  EXPECT_EQ(call("GetLayout", {0, -1, all}).arguments()[0].toUInt(), revision + 2);
}

}  // namespace
}  // namespace zephro::statusitem

#include "StatusNotifierItemTest.moc"
