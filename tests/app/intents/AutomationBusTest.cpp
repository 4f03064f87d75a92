// The app's bus object over the real helper on an emulated machine, called by D-Bus or zephroctl.
#include <gtest/gtest.h>

#include <QDBusPendingCall>
#include <QProcess>
#include <QSettings>
#include <QTimer>
#include <fstream>

#include "app/services/AppUpdateManager.h"
#include "app/shell/Automation.h"
#include "app/shell/QuitCoordinator.h"
#include "app/shell/SingleInstance.h"
#include "app/ui/LocalizationManager.h"
#include "platform/defaults/DefaultsKeys.h"
#include "platform/log/Log.h"
#include "platform/servicemanager/DevelopmentServiceManager.h"
#include "platform/smc/EmulatedSmc.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/app/services/QuietUpdater.h"
#include "tests/app/viewmodel/ViewModelFixture.h"
#include "tests/platform/servicemanager/TestHelperLayout.h"
#include "tests/support/PrivateBus.h"

namespace zephro {
namespace {

using namespace std::chrono_literals;

template <typename T>
T demarshalled(const QVariant& value) {
  T result;
  value.value<QDBusArgument>() >> result;
  return result;
}

struct AutomationOnBus {
  explicit AutomationOnBus(bool finishedLaunching = true,
                           const std::filesystem::path& machineProfile = {},
                           FanIntentsOptions options = {})
      : layout([&] {
          auto layout = testing::testHelperLayout(dir / "runtime", dir / "helper.sock");
          if (!machineProfile.empty()) layout.machineProfile = machineProfile;
          return layout;
        }()),
        services(std::make_shared<DevelopmentServiceManager>(
            layout, runner, std::make_unique<AutostartLoginItem>(dir / "zephro.desktop", "zephro"),
            StartupSettingsOpener(runner, "", ""))),
        vm(services, layout.socketPath.string()),
        caller(bus.connect(QStringLiteral("caller"))),
        instance(bus.connect(QStringLiteral("application"))),
        localization(vm.defaults, [] { return QStringList{QStringLiteral("en-US")}; }, {}),
        updates(
            [](std::shared_ptr<update::UserDriver> driver, update::UpdaterDelegate&) {
              return std::make_unique<testing::QuietUpdater>(std::move(driver));
            },
            localization, [](const QUrl&) {}),
        launched(finishedLaunching) {
    (void)instance.claim({});
    automation = std::make_unique<Automation>(
        instance,
        Automation::Parts{.application = [this]() -> FanControlViewModel* {
                            return launched ? vm.viewModel.get() : nullptr;
                          },
                          .client = *vm.client,
                          .defaults = vm.defaults,
                          .presets = vm.viewModel->presetStore(),
                          .curves = vm.viewModel->curveStore(),
                          .updates = updates,
                          .quit = quit,
                          .localization = localization},
        options);
  }
  // Never leave a helper running, whatever the test did.
  ~AutomationOnBus() { (void)services->daemonService(kHelperPlistName)->unregisterService(); }

  [[nodiscard]] FanControlViewModel& model() const { return *vm.viewModel; }
  // The emulated machine as the helper left it in its state file.
  [[nodiscard]] std::unique_ptr<smc::EmulatedSmc> machine() const {
    return std::make_unique<smc::EmulatedSmc>(smc::MachineProfile::load(layout.machineProfile),
                                              layout.machineStateFile());
  }
  // Registers and starts the helper and waits for the first poll to connect.
  [[nodiscard]] bool installHelper() const {
    return testing::awaitTask(model().installHelper()).succeeded() &&
           model().connectionState() == ConnectionState::connected();
  }
  void stopHelper() {
    model().stopRefreshing();
    (void)services->daemonService(kHelperPlistName)->unregisterService();
    vm.client->invalidateConnection();
  }

  // A call from another connection, answered while this thread's event loop turns.
  [[nodiscard]] QDBusMessage call(const QString& interface, const QString& method,
                                  const QVariantList& arguments = {}) {
    auto message = QDBusMessage::createMethodCall(QString::fromLatin1(kApplicationBusName),
                                                  QString::fromLatin1(kApplicationObjectPath),
                                                  interface, method);
    message.setArguments(arguments);
    const QDBusPendingCall pending = caller.asyncCall(message, 60000);
    (void)testing::spinUntil([&] { return pending.isFinished(); });
    return pending.reply();
  }
  // Every intent takes one argument or none (an invalid QVariant).
  [[nodiscard]] QDBusMessage intents(const QString& method, const QVariant& argument = {}) {
    return call(QString::fromLatin1(kIntentsInterface), method,
                argument.isValid() ? QVariantList{argument} : QVariantList{});
  }
  [[nodiscard]] QDBusMessage activateAction(const QString& name, const QVariant& parameter = {}) {
    const QVariantList parameters = parameter.isValid() ? QVariantList{parameter} : QVariantList{};
    return call(QStringLiteral("org.freedesktop.Application"), QStringLiteral("ActivateAction"),
                {name, QVariant::fromValue(parameters), QVariantMap{}});
  }
  template <typename T>
  [[nodiscard]] T property(const QString& name) {
    const auto reply = call(QStringLiteral("org.freedesktop.DBus.Properties"),
                            QStringLiteral("Get"), {QString::fromLatin1(kIntentsInterface), name});
    return demarshalled<T>(reply.arguments().value(0).value<QDBusVariant>().variant());
  }

  testing::TempDir dir;
  DevelopmentLayout layout;
  std::shared_ptr<CommandRunner> runner = std::make_shared<ProcessCommandRunner>();
  std::shared_ptr<DevelopmentServiceManager> services;
  testing::ViewModelOnSocket vm;
  testing::PrivateBus bus;
  QDBusConnection caller;
  SingleInstance instance;
  LocalizationManager localization;
  AppUpdateManager updates;
  QuitCoordinator quit{[]() -> QCoro::Task<> { co_return; }};
  bool launched;
  std::unique_ptr<Automation> automation;
};

QList<FanModeEntity> entitiesOf(const QDBusMessage& reply) {
  return reply.arguments().isEmpty()
             ? QList<FanModeEntity>{}
             : demarshalled<QList<FanModeEntity>>(reply.arguments().front());
}

Preset percentagePreset(const QString& name, qint64 percent) {
  return {QUuid::createUuid(), name, PresetMode::percentage, percent, std::nullopt};
}

// Two fans turning at 1800.7 and 2400.2 RPM in a machine at 50 °C.
std::filesystem::path writeSteadyMachine(const std::filesystem::path& dir) {
  const auto file = dir / "steady.json";
  std::ofstream(file) << R"({
    "model": "Steady1,1", "description": "two idle fans at a steady 50 degrees",
    "fanSpeedType": "flt ", "modeKey": "F%dMd", "ftst": false,
    "fans": [ { "min": 1800.7, "max": 5000 }, { "min": 2400.2, "max": 6000 } ],
    "sensors": [ { "key": "Tp01", "type": "flt ", "offset": 0.0 } ],
    "thermal": { "ambient": 24, "heatLoad": 26, "cooling": 0, "timeConstant": 30,
                 "curveLow": 70, "curveHigh": 95 }
  })";
  return file;
}

// Collects "interface property" for every PropertiesChanged the application sends.
class PropertiesListener : public QObject {
  Q_OBJECT

 public:
  QStringList changes;

 public slots:
  void changed(const QString& interface, const QVariantMap& properties, const QStringList&) {
    for (const auto& name : properties.keys()) changes.append(interface + " " + name);
  }
};

// What each intent answers is zephroctl's test's business; here, what reaches the fans.
TEST(Automation, ActionsReachTheFansAndWhatCannotBeDoneIsRefused) {
  const testing::TempDir profiles;
  AutomationOnBus app(false, writeSteadyMachine(profiles.path()));
  ASSERT_TRUE(app.installHelper());
  // The first action waits for the application to finish launching.
  QTimer::singleShot(200, [&app] { app.launched = true; });
  const auto status = app.intents("GetFanStatus");
  EXPECT_EQ(
      status.arguments(),
      (QVariantList{qint64(2400), 50.0, "C",
                    "Your fans are running at 2400 RPM, and the system temperature is 50°C."}))
      << status.errorMessage().toStdString();
  app.vm.defaults.setBool(QString::fromLatin1(defaults::useFahrenheit.name), true);
  EXPECT_EQ(app.intents("GetFanStatus").arguments().value(3).toString(),
            "Your fans are running at 2400 RPM, and the system temperature is 122°F.");
  // The status is never picked from a list.
  const auto listed = app.intents("FanStatusEntities", QStringList{"current"});
  ASSERT_EQ(listed.arguments().size(), 1);
  EXPECT_TRUE(demarshalled<QList<FanStatusEntity>>(listed.arguments()[0]).isEmpty());

  // An error reply would show its message here instead.
  EXPECT_EQ(app.intents("SetFanMode", "max").arguments().value(0).toString(),
            "Zephro is now set to Max.");
  EXPECT_TRUE(app.machine()->isFanForced(1));
  // The same through the desktop's actions, then back to the firmware.
  const struct {
    const char* action;
    QVariant parameter;
    FanMode mode;
  } actions[] = {{"max", {}, FanMode::max},
                 {"decrease", {}, FanMode::manual},
                 {"set-mode", "system", FanMode::system}};
  for (const auto& [action, parameter, mode] : actions) {
    EXPECT_EQ(app.activateAction(action, parameter).errorName(), "") << action;
    EXPECT_EQ(app.model().activeMode(), mode) << action;
  }
  EXPECT_FALSE(app.machine()->isFanForced(1));

  const auto night = percentagePreset("Night", 30);
  app.model().presetStore().add(night);
  // The shortcut learned the preset's name, then the preset went.
  ASSERT_EQ(entitiesOf(app.intents("FindFanModeEntities", "night")).size(), 1);
  app.model().presetStore().deletePreset(night.id);
  const QString gone = "com.zephro.Intents1.Error.PresetNotFound";
  const QString invalid = "org.freedesktop.DBus.Error.InvalidArgs";
  const QString step = "The amount must be a whole percent from 1 to 75, not ";
  const struct {
    const char* what;
    QDBusMessage reply;
    QString error;
    QString message;
  } cases[] = {
      {"deleted preset", app.intents("SetFanMode", night.idText()), gone,
       "The preset “Night” no longer exists."},
      {"lower-case built-in only", app.intents("SetFanMode", "MAX"), gone,
       "The preset “MAX” no longer exists."},
      {"no step", app.intents("IncreaseFanSpeed", 0), invalid, step + "0."},
      {"too big a step", app.intents("DecreaseFanSpeed", 76), invalid, step + "76."},
      {"action with a text amount", app.activateAction("increase", "ten"), invalid,
       "The amount is a whole percent."},
      {"unknown action", app.activateAction("warp"), invalid, "Zephro has no action named “warp”."},
      {"open",
       app.call("org.freedesktop.Application", "Open",
                {QStringList{"file:///etc/passwd"}, QVariantMap{}}),
       "org.freedesktop.DBus.Error.NotSupported", "Zephro opens no files."},
  };
  for (const auto& [what, reply, error, message] : cases) {
    EXPECT_EQ(std::pair(reply.errorName(), reply.errorMessage()), std::pair(error, message))
        << what;
  }
  EXPECT_FALSE(app.machine()->isFanForced(0));

  app.stopHelper();
  const log::Capture capture;
  const QString unreachable = "com.zephro.Intents1.Error.HelperUnreachable";
  // Its message is zephroctl's test's business.
  EXPECT_EQ(app.intents("SetFanMode", "max").errorName(), unreachable);
  EXPECT_EQ(app.intents("GetFanStatus").errorName(), unreachable);
  EXPECT_EQ(capture.linesStartingWith("[Zephro] Intent fan action failed: ").size(), 1u);
  EXPECT_EQ(capture.linesStartingWith("[Zephro] Get Fan Status failed: ").size(), 1u);
}

// Launchers activate a D-Bus activatable application's desktop actions by their ids.
TEST(Automation, ShortcutsQueriesAndTheDesktopFilesActionsAnswerFromTheApplication) {
  AutomationOnBus app;
  const auto shortcuts = [&] { return app.property<QList<AppShortcut>>("AppShortcuts"); };
  ASSERT_EQ(shortcuts().size(), 4);
  EXPECT_EQ(shortcuts()[0].phrases.size(), 8);
  // Saving the presets announces the new phrases.
  PropertiesListener listener;
  ASSERT_TRUE(app.caller.connect(QString(), QString::fromLatin1(kApplicationObjectPath),
                                 "org.freedesktop.DBus.Properties", "PropertiesChanged", &listener,
                                 SLOT(changed(QString, QVariantMap, QStringList))));
  app.model().presetStore().add(percentagePreset("Night", 30));
  EXPECT_EQ(shortcuts()[0].phrases.size(), 12);
  ASSERT_TRUE(testing::spinUntil([&] { return !listener.changes.isEmpty(); }, 30s));
  EXPECT_EQ(listener.changes.front(), "com.zephro.Intents1 AppShortcuts");

  const auto state = [&] { return app.property<UpdateStateRecord>("UpdateState"); };
  EXPECT_EQ(std::pair(state().kind, state().progress), std::pair(QString("idle"), -1.0));
  EXPECT_EQ(app.activateAction("check-for-updates").errorName(), "");
  ASSERT_TRUE(testing::spinUntil([&] { return state().kind == "upToDate"; }, 30s));
  ASSERT_TRUE(testing::spinUntil(
      [&] { return listener.changes.contains("com.zephro.Intents1 UpdateState"); }, 30s));

  // The desktop entry's other action ("max" ran above), as tests/packaging pins them.
  EXPECT_TRUE(app.automation->actions().names().contains("auto"));
  QSettings service(QString::fromLatin1(ZEPHRO_BINARY_DIR) + "/app/com.zephro.app.service",
                    QSettings::IniFormat);
  EXPECT_EQ(service.value("D-BUS Service/Name").toString(), kApplicationBusName);

  // Queries answer from storage, in list order (the whole list is zephroctl modes' business).
  const auto night = percentagePreset("Night", 30);
  const auto cool = percentagePreset("Cool Down", 60);
  const auto cafe = percentagePreset("Café", 45);
  app.model().presetStore().setPresets({night, cool, cafe});
  const FanModeEntity automatic{"system", "Auto"};
  const FanModeEntity max{"max", "Max"};
  const FanModeEntity nightEntity{night.idText(), "Night"};
  const FanModeEntity coolEntity{cool.idText(), "Cool Down"};
  const FanModeEntity cafeEntity{cafe.idText(), "Café"};
  const QList<FanModeEntity> all{automatic, max, nightEntity, coolEntity, cafeEntity};
  EXPECT_EQ(entitiesOf(app.intents("FanModeEntitiesForIdentifiers",
                                   QStringList{"max", "system", "nothing"})),
            (QList<FanModeEntity>{automatic, max}));
  const struct {
    const char* query;
    QList<FanModeEntity> expected;
  } queries[] = {
      {"boost", {max}},       {"night mode", {nightEntity}},
      {" \t\n", all},         {"o", {automatic, max, coolEntity}},  // "boost" holds an o
      {"CAFE", {cafeEntity}},
  };
  for (const auto& [query, expected] : queries) {
    EXPECT_EQ(entitiesOf(app.intents("FindFanModeEntities", QString::fromUtf8(query))), expected)
        << query;
  }
}

// The exit code, standard output and standard error.
using Ran = std::tuple<int, std::string, std::string>;

// The test's own event loop answers the calls while zephroctl waits for them.
Ran zephroctl(const QString& busAddress, const QString& arguments) {
  QProcess process;
  auto environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
  process.setProcessEnvironment(environment);
  process.start(QStringLiteral(ZEPHROCTL_BINARY), arguments.split(' ', Qt::SkipEmptyParts));
  EXPECT_TRUE(process.waitForStarted(60000));
  EXPECT_TRUE(testing::spinUntil([&] { return process.state() == QProcess::NotRunning; }, 120s));
  return {process.exitCode(), process.readAllStandardOutput().toStdString(),
          process.readAllStandardError().toStdString()};
}

TEST(Zephroctl, EveryCommandAgainstTheRunningApplication) {
  AutomationOnBus app;
  ASSERT_TRUE(app.installHelper());
  const auto night = percentagePreset("Night", 30);
  const auto nightOwl = percentagePreset("Night Owl", 40);
  app.model().presetStore().setPresets({night, nightOwl});
  const FanCurve warm{QUuid::createUuid(), QStringLiteral("Warm"), std::nullopt,
                      defaultCurvePoints()};
  app.model().curveStore().add(warm);
  const auto id = [](const auto& mode) { return mode.idText().toStdString(); };
  const auto set = [](const std::string& name) { return "Zephro is now set to " + name + ".\n"; };
  const struct {
    QString arguments;
    Ran run;
  } cases[] = {
      {"mode max", {0, set("Max"), ""}},
      {"mode Night", {0, set("Night"), ""}},
      {"mode " + night.idText().toLower(), {0, set("Night"), ""}},
      {"mode owl", {0, set("Night Owl"), ""}},
      {"mode warm", {0, set("Warm"), ""}},
      {"mode Day", {3, "", "The preset “Day” no longer exists.\n"}},
      {"mode nig",
       {2, "",
        "zephroctl: “nig” names more than one mode (Night, Night Owl); give its id, as "
        "zephroctl modes lists it.\n"}},
      {"slower 5", {0, "Fan speed lowered by 5%.\n", ""}},
      {"faster", {0, "Fan speed raised by 10%.\n", ""}},
      {"faster 80", {2, "", "zephroctl: the step is a whole percent from 1 to 75, not “80”.\n"}},
      {"modes owl", {0, id(nightOwl) + "\tNight Owl\n", ""}},
      {"modes",
       {0,
        "system\tAuto\nmax\tMax\n" + id(night) + "\tNight\n" + id(nightOwl) + "\tNight Owl\n" +
            id(warm) + "\tWarm\n",
        ""}},
  };
  for (const auto& [arguments, run] : cases) {
    EXPECT_EQ(zephroctl(app.bus.address(), arguments), run) << arguments.toStdString();
  }

  const auto [statusCode, status, _] = zephroctl(app.bus.address(), "status --json");
  EXPECT_EQ(statusCode, 0);
  EXPECT_TRUE(status.starts_with("{\"rpm\":") && status.ends_with(",\"unit\":\"C\"}\n")) << status;
  const auto shortcuts = std::get<1>(zephroctl(app.bus.address(), "shortcuts"));
  EXPECT_TRUE(shortcuts.starts_with("Set Fan Mode\n  Zephro on Auto\n")) << shortcuts;
  EXPECT_TRUE(shortcuts.find("  Switch Zephro to Night Owl\n") != std::string::npos);
  EXPECT_TRUE(
      shortcuts.ends_with("Decrease Speed\n  Decrease fan speed in Zephro\n  Turn down "
                          "the fans in Zephro\n  Zephro slower\n"));

  EXPECT_EQ(std::get<0>(zephroctl(app.bus.address(), "update check")), 0);
  ASSERT_TRUE(testing::spinUntil(
      [&] { return app.updates.state().kind() == AppUpdateState::Kind::upToDate; }, 30s));
  EXPECT_EQ(zephroctl(app.bus.address(), "update status"), (Ran{0, "upToDate\n", ""}));

  app.stopHelper();
  EXPECT_EQ(zephroctl(app.bus.address(), "mode max"),
            (Ran{5, "",
                 "Zephro can't reach its helper. Open Zephro and make sure the helper is "
                 "enabled.\n"}));
}

TEST(Zephroctl, ExitCodesForWhatIsNotThere) {
  AutomationOnBus notLaunched(false, {}, FanIntentsOptions{.launchTimeout = 300ms});
  const auto launching = notLaunched.bus.address();
  EXPECT_EQ(zephroctl(launching, "faster 5"),
            (Ran{4, "", "Zephro isn't ready yet. Try again in a moment.\n"}));
  const testing::PrivateBus nobody;
  const struct {
    const char* what;
    QString address;
    QString arguments;
    int exitCode;
  } cases[] = {
      {"no bus", "unix:path=/nonexistent/bus", "status", 6},
      {"a bus without Zephro", nobody.address(), "status", 6},
      {"unknown command", launching, "warp", 2},
      {"bad update", launching, "update now", 2},
      {"help", "unix:path=/nonexistent/bus", "--help", 0},
  };
  for (const auto& [what, address, arguments, exitCode] : cases) {
    EXPECT_EQ(std::get<0>(zephroctl(address, arguments)), exitCode) << what;
  }
}

FanInfoDTO fanAt(double rpm) {
  return {0, rpm, 1000, 6000, FanMode::system};
}

TEST(FanStatusEntity, TruncatesTheSpeedAndRoundsTheTemperatureHalfAwayFromZero) {
  const struct {
    std::vector<FanInfoDTO> fans;
    double celsius;
    bool fahrenheit;
    const char* title;
    const char* temperature;
  } cases[] = {
      {{}, 40.0, false, "0 RPM", "40°C"},
      {{fanAt(1200)}, -0.5, false, "1200 RPM", "-1°C"},
      {{fanAt(1200)}, 0.25, true, "1200 RPM", "32°F"},
  };
  for (const auto& [fans, celsius, fahrenheit, title, temperature] : cases) {
    const auto status = FanStatusEntity::reading(fans, celsius, fahrenheit);
    EXPECT_EQ(
        QStringList({status.id, status.title(), status.temperatureText(), status.temperatureUnit}),
        QStringList({"current", title, temperature, fahrenheit ? "F" : "C"}))
        << celsius;
  }
}

}  // namespace
}  // namespace zephro

#include "AutomationBusTest.moc"
