#include "app/shell/DesktopTray.h"

#include <gtest/gtest.h>

#include "tests/support/PrivateBus.h"
#include "tests/support/SpinUntil.h"
#include "tests/support/TestWatcher.h"

namespace zephro {
namespace {

// Qt's icon (the XEmbed stand-in) would show at once and register a picture without the
// reading; the item waits for the watcher instead. No XEmbed tray runs here: the test says
// there is one, as on a GNOME session under X11.
TEST(DesktopTray, AWatcherSlowToAnswerStillGetsTheItemRatherThanQtsIcon) {
  testing::PrivateBus bus;
  ASSERT_TRUE(bus.isRunning());
  testing::TestWatcher watcher(bus.connect());
  watcher.holdAnswers();
  ASSERT_TRUE(watcher.start());
  const QDBusConnection application = bus.connect();
  const auto entry = makeDesktopTrayOn(application, [] { return true; });
  ASSERT_NE(entry, nullptr);
  EXPECT_FALSE(entry->isShown());
  watcher.answerHeld();
  EXPECT_TRUE(testing::spinUntil([&] { return entry->isShown(); }));
  EXPECT_EQ(watcher.registrations,
            (QList<QStringList>{{"/StatusNotifierItem", application.baseService()}}));
}

}  // namespace
}  // namespace zephro
