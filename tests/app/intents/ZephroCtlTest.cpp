// zephroctl run as its own process against the application's bus object on a private bus,
// over the real helper on an emulated machine.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include "app/presets/PresetStore.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/app/intents/AutomationOnBus.h"

namespace zephro {
namespace {

using namespace std::chrono_literals;

struct Run {
  int exitCode = -1;
  QString out;
  QString err;
};

// The test's own event loop answers the calls while zephroctl waits for them.
Run zephroctl(const QString& busAddress, const QStringList& arguments) {
  QProcess process;
  auto environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
  process.setProcessEnvironment(environment);
  process.start(QStringLiteral(ZEPHROCTL_BINARY), arguments);
  EXPECT_TRUE(process.waitForStarted(60000));
  EXPECT_TRUE(testing::spinUntil([&] { return process.state() == QProcess::NotRunning; }, 120s));
  return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
          QString::fromUtf8(process.readAllStandardError())};
}

TEST(Zephroctl, EveryCommandAgainstTheRunningApplication) {
  testing::AutomationOnBus app;
  app.finishLaunching();
  ASSERT_TRUE(app.installHelper());
  const Preset night{QUuid::createUuid(), "Night", PresetMode::percentage, 30, std::nullopt};
  const Preset nightOwl{QUuid::createUuid(), "Night Owl", PresetMode::percentage, 40, std::nullopt};
  app.model().presetStore().setPresets({night, nightOwl});

  const struct {
    QStringList arguments;
    int exitCode;
    QString out;
    QString err;
  } cases[] = {
      {{"mode", "max"}, 0, "Zephro is now set to Max.\n", ""},
      {{"mode", "Night"}, 0, "Zephro is now set to Night.\n", ""},
      {{"mode", night.idText().toLower()}, 0, "Zephro is now set to Night.\n", ""},
      {{"mode", "owl"}, 0, "Zephro is now set to Night Owl.\n", ""},
      {{"mode", "Day"}, 3, "", "The preset “Day” no longer exists.\n"},
      {{"mode", "nig"},
       2,
       "",
       "zephroctl: “nig” names more than one mode (Night, Night Owl); give its id, as zephroctl "
       "modes lists it.\n"},
      {{"slower", "5"}, 0, "Fan speed lowered by 5%.\n", ""},
      {{"faster"}, 0, "Fan speed raised by 10%.\n", ""},
      {{"faster", "80"}, 2, "", "zephroctl: the step is a whole percent from 1 to 75, not “80”.\n"},
      {{"modes", "owl"}, 0, nightOwl.idText() + "\tNight Owl\n", ""},
      {{"modes"},
       0,
       "system\tAuto\nmax\tMax\n" + night.idText() + "\tNight\n" + nightOwl.idText() +
           "\tNight Owl\n",
       ""},
      {{"update", "status"}, 0, "idle\n", ""},
      {{"mode", "auto"}, 0, "Zephro is now set to Auto.\n", ""},
  };
  for (const auto& [arguments, exitCode, out, err] : cases) {
    const auto run = zephroctl(app.busAddress(), arguments);
    EXPECT_EQ(run.exitCode, exitCode) << arguments.join(' ').toStdString();
    EXPECT_EQ(run.out.toStdString(), out.toStdString()) << arguments.join(' ').toStdString();
    EXPECT_EQ(run.err.toStdString(), err.toStdString()) << arguments.join(' ').toStdString();
  }
  EXPECT_FALSE(app.machine()->isFanForced(0));

  const auto status = zephroctl(app.busAddress(), {"status", "--json"});
  EXPECT_EQ(status.exitCode, 0);
  EXPECT_TRUE(status.out.startsWith("{\"rpm\":")) << status.out.toStdString();
  EXPECT_TRUE(status.out.endsWith(",\"unit\":\"C\"}\n")) << status.out.toStdString();
  const auto shortcuts = zephroctl(app.busAddress(), {"shortcuts"});
  EXPECT_TRUE(shortcuts.out.startsWith("Set Fan Mode\n  Zephro on Auto\n"))
      << shortcuts.out.toStdString();
  EXPECT_TRUE(shortcuts.out.contains("  Switch Zephro to Night Owl\n"));
  EXPECT_TRUE(
      shortcuts.out.endsWith("Decrease Speed\n  Decrease fan speed in Zephro\n  Turn down "
                             "the fans in Zephro\n  Zephro slower\n"));

  EXPECT_EQ(zephroctl(app.busAddress(), {"update", "check"}).exitCode, 0);
  ASSERT_TRUE(testing::spinUntil(
      [&] { return app.updates().state().kind() == AppUpdateState::Kind::upToDate; }, 30s));
  EXPECT_EQ(zephroctl(app.busAddress(), {"update", "status"}).out, "upToDate\n");

  app.stopHelper();
  const auto unreachable = zephroctl(app.busAddress(), {"mode", "max"});
  EXPECT_EQ(unreachable.exitCode, 5);
  EXPECT_EQ(unreachable.err,
            "Zephro can't reach its helper. Open Zephro and make sure the helper is enabled.\n");
}

TEST(Zephroctl, ExitCodesForWhatIsNotThere) {
  testing::AutomationOnBus notLaunched({}, FanIntentsOptions{.launchTimeout = 300ms});
  const auto notReady = zephroctl(notLaunched.busAddress(), {"faster", "5"});
  EXPECT_EQ(notReady.exitCode, 4);
  EXPECT_EQ(notReady.err.toStdString(), "Zephro isn't ready yet. Try again in a moment.\n");

  const testing::PrivateBus nobody;
  const struct {
    const char* what;
    QString address;
    QStringList arguments;
    int exitCode;
  } cases[] = {
      {"no bus", "unix:path=/nonexistent/bus", {"status"}, 6},
      {"a bus without Zephro", nobody.address(), {"status"}, 6},
      {"no command", notLaunched.busAddress(), {}, 2},
      {"unknown command", notLaunched.busAddress(), {"warp"}, 2},
      {"bad update", notLaunched.busAddress(), {"update", "now"}, 2},
      {"help", "unix:path=/nonexistent/bus", {"--help"}, 0},
  };
  for (const auto& [what, address, arguments, exitCode] : cases) {
    EXPECT_EQ(zephroctl(address, arguments).exitCode, exitCode) << what;
  }
}

}  // namespace
}  // namespace zephro
