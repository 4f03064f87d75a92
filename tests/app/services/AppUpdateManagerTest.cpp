#include "app/services/AppUpdateManager.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <cmath>

#include "app/services/ApplicationUpdater.h"
#include "app/ui/LocalizationManager.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/update/Base64.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/platform/update/TestFeed.h"

namespace zephro {

void PrintTo(const AppUpdateState& state, std::ostream* out) {
  *out << state.description().toStdString();
}

namespace {

using update::UserUpdateChoice;
using Choices = std::vector<UserUpdateChoice>;

// The update framework as a test scripts it: the calls the updater received, the answers
// it gives, and the driver it was handed, through which the test reports each step.
struct ScriptedFramework {
  bool canCheck = true;
  std::optional<Error> startError;
  std::vector<std::string> calls;
  std::function<void()> onCheck;
  std::function<void()> onDestroy;
  std::shared_ptr<update::UserDriver> driver;
  update::UpdaterDelegate* delegate = nullptr;
};

class ScriptedUpdater final : public update::Updater {
 public:
  explicit ScriptedUpdater(ScriptedFramework& framework) : framework_(framework) {}
  ~ScriptedUpdater() override {
    if (framework_.onDestroy) framework_.onDestroy();
  }

  std::optional<Error> start() override {
    framework_.calls.emplace_back("start");
    return framework_.startError;
  }
  void checkForUpdates() override {
    framework_.calls.emplace_back("checkForUpdates");
    if (framework_.onCheck) framework_.onCheck();
  }
  bool canCheckForUpdates() const override { return framework_.canCheck; }

 private:
  ScriptedFramework& framework_;
};

update::AppcastItem item(const std::string& version, bool informational = false) {
  update::AppcastItem item;
  item.versionString = item.displayVersionString = version;
  item.infoURL = "https://zephro.example/releases/" + version;
  item.enclosure = {"https://zephro.example/Zephro-" + version + ".tar.xz", 1000, "", ""};
  item.informationalUpdate = informational;
  return item;
}

// A reply that records its choices and whose captures the test can watch being released.
struct WatchedReply {
  Choices choices;
  std::function<void()> whenCalled;
  std::shared_ptr<int> token = std::make_shared<int>();
  std::weak_ptr<int> watch = token;

  std::function<void(UserUpdateChoice)> take() {
    return [this, held = std::exchange(token, nullptr)](UserUpdateChoice choice) {
      choices.push_back(choice);
      if (whenCalled) whenCalled();
    };
  }
  [[nodiscard]] bool released() const { return watch.expired(); }
};

class AppUpdateManagerTest : public ::testing::Test {
 protected:
  AppUpdateManagerTest() { localization.setLanguage(AppLanguage::english); }

  std::unique_ptr<AppUpdateManager> makeManager() {
    return std::make_unique<AppUpdateManager>(
        [this](std::shared_ptr<update::UserDriver> driver, update::UpdaterDelegate& delegate) {
          framework.driver = std::move(driver);
          framework.delegate = &delegate;
          return std::make_unique<ScriptedUpdater>(framework);
        },
        localization, [this](const QUrl& url) { opened.push_back(url); });
  }
  void restart() {
    manager.reset();
    framework = ScriptedFramework{};
    manager = makeManager();
  }

  update::UserDriver& driver() { return *framework.driver; }
  std::function<void(UserUpdateChoice)> recordChoice() {
    return [this](UserUpdateChoice choice) { choices.push_back(choice); };
  }
  std::function<void()> acknowledgement() {
    return [this] { ++acknowledgements; };
  }
  void found(const update::AppcastItem& found, bool userInitiated = false) {
    driver().showUpdateFound(found, {.userInitiated = userInitiated}, recordChoice());
  }
  void downloading(std::uint64_t expected, std::uint64_t received) {
    found(item("2.1"));
    driver().showDownloadInitiated({});
    if (expected > 0) driver().showDownloadDidReceiveExpectedContentLength(expected);
    if (received > 0) driver().showDownloadDidReceiveData(received);
  }
  void failed(const char* message) {
    driver().showUpdaterError(Error::withDescription("UpdateErrorDomain", 1, message),
                              acknowledgement());
  }
  QString label() const { return manager->updateRowLabel(); }

  testing::TempDir dir;
  UserDefaults defaults{QString::fromStdString((dir / "settings.json").string())};
  LocalizationManager localization{defaults, [] { return QStringList{QStringLiteral("en-US")}; },
                                   testing::sourcePath("app/resources")};
  ScriptedFramework framework;
  std::vector<QUrl> opened;
  Choices choices;
  int acknowledgements = 0;
  std::unique_ptr<AppUpdateManager> manager = makeManager();
};

TEST_F(AppUpdateManagerTest, StartsTheUpdaterItMadeAroundItsOwnDriver) {
  EXPECT_EQ(framework.calls, std::vector<std::string>{"start"});
  EXPECT_EQ(manager->state(), AppUpdateState::idle());
  EXPECT_EQ(framework.delegate, static_cast<update::UpdaterDelegate*>(manager.get()));
  EXPECT_FALSE(framework.delegate->shouldDownloadReleaseNotes(item("2.1")));
  std::optional<update::UpdatePermissionResponse> permission;
  driver().showUpdatePermissionRequest([&](auto response) { permission = response; });
  EXPECT_TRUE(permission && permission->automaticUpdateChecks && !permission->sendSystemProfile);

  // An updater that cannot start leaves a usable manager: the next check goes to it.
  manager.reset();
  framework.startError = Error::withDescription("UpdateErrorDomain", 4, "No feed is configured.");
  manager = makeManager();
  EXPECT_EQ(manager->state(), AppUpdateState::error("No feed is configured."));
  manager->checkForUpdates();
  EXPECT_EQ(manager->state(), AppUpdateState::checking());
  EXPECT_EQ(framework.calls, (std::vector<std::string>{"start", "start", "checkForUpdates"}));
}

// Each state with its row text, and what a check and a click on the row do there.
TEST_F(AppUpdateManagerTest, RowLabelAndActionInEveryState) {
  const struct {
    std::function<void()> reach;
    AppUpdateState state;
    QString label;
    bool checks;
  } cases[] = {
      {[] {}, AppUpdateState::idle(), "Check for Updates…", true},
      {[&] { driver().showUserInitiatedUpdateCheck({}); }, AppUpdateState::checking(),
       "Checking for Updates…", false},
      {[&] { driver().showUpdateNotFound({}, {}); }, AppUpdateState::upToDate(),
       "Zephro Is Up to Date", true},
      {[&] { found(item("2.1")); }, AppUpdateState::updateAvailable("2.1"), "Update 2.1 Available",
       false},
      {[&] { downloading(0, 10); }, AppUpdateState::downloading("2.1"), "Downloading Update…",
       false},
      {[&] { downloading(1000, 999); }, AppUpdateState::downloading("2.1", 0.999),
       "Downloading Update… 99%", false},
      {[&] {
         found(item("2.1"));
         driver().showReadyToInstallAndRelaunch(recordChoice());
       },
       AppUpdateState::readyToInstall("2.1"), "Install 2.1 and Relaunch", true},
      {[&] { failed("Bad feed."); }, AppUpdateState::error("Bad feed."),
       "Update Failed — Try Again", true},
      {[&] { driver().showInstallingUpdate(false, {}); }, AppUpdateState::installing(),
       "Installing Update…", false},
  };
  for (const auto& c : cases) {
    for (const bool byRow : {false, true}) {
      SCOPED_TRACE(c.state.description().toStdString() + (byRow ? " row clicked" : " check"));
      restart();
      c.reach();
      choices.clear();
      EXPECT_EQ(manager->state(), c.state);
      EXPECT_EQ(label(), c.label);
      const auto act = [&] { byRow ? manager->rowActivated() : manager->checkForUpdates(); };
      if (byRow && c.state.kind() == AppUpdateState::Kind::readyToInstall) {
        act();
        EXPECT_EQ(manager->state(), AppUpdateState::installing());
        EXPECT_EQ(choices, Choices{UserUpdateChoice::install});
        continue;
      }
      framework.canCheck = false;
      act();
      EXPECT_EQ(manager->state(), c.state);
      framework.canCheck = true;
      std::optional<AppUpdateState> stateDuringCheck;
      framework.onCheck = [&] { stateDuringCheck = manager->state(); };
      act();
      const auto expected = c.checks ? AppUpdateState::checking() : c.state;
      EXPECT_EQ(manager->state(), expected);
      EXPECT_EQ(stateDuringCheck, c.checks ? std::optional(expected) : std::nullopt);
    }
  }
}

// Seen from QML as the popover's row binds it, in the language of the moment.
TEST_F(AppUpdateManagerTest, DownloadAndExtractionProgress) {
  QQmlEngine engine;
  QQmlComponent component(&engine);
  component.setData(R"(
    import QtQml
    QtObject {
      property QtObject manager
      readonly property string label: manager.updateRowLabel
      readonly property int kind: manager.state.kind
      readonly property real progress: manager.state.hasProgress ? manager.state.progress : -1
    })",
                    QUrl());
  const std::unique_ptr<QObject> row(
      component.createWithInitialProperties({{"manager", QVariant::fromValue(manager.get())}}));
  ASSERT_NE(row, nullptr) << component.errorString().toStdString();
  const auto shown = [&row] { return row->property("label").toString(); };
  // The length is never announced: no percentage until extraction starts.
  downloading(0, 500);
  driver().showDownloadDidReceiveData(750);
  EXPECT_EQ(shown(), "Downloading Update…");
  EXPECT_EQ(row->property("progress").toDouble(), -1);
  driver().showDownloadDidStartExtractingUpdate();
  EXPECT_EQ(shown(), "Downloading Update… 0%");
  const struct {
    double reported;
    double shown;
  } extraction[] = {{0.42, 0.42}, {-0.5, 0.0}, {std::nan(""), 0.0}, {1.5, 1.0}};
  for (const auto& step : extraction) {
    driver().showExtractionReceivedProgress(step.reported);
    EXPECT_EQ(manager->state(), AppUpdateState::downloading("2.1", step.shown)) << step.reported;
  }
  EXPECT_EQ(shown(), "Downloading Update… 100%");

  // A new download counts from zero, and more bytes than announced still show 100.
  driver().showDownloadInitiated({});
  driver().showDownloadDidReceiveExpectedContentLength(1000);
  driver().showDownloadDidReceiveData(250);
  EXPECT_EQ(row->property("kind").toInt(), static_cast<int>(AppUpdateState::Kind::downloading));
  EXPECT_EQ(row->property("progress").toDouble(), 0.25);
  EXPECT_EQ(shown(), "Downloading Update… 25%");
  localization.setLanguage(AppLanguage::german);
  EXPECT_EQ(shown(), "Update wird geladen … 25 %");
  driver().showDownloadDidReceiveData(1000);
  EXPECT_EQ(manager->state(), AppUpdateState::downloading("2.1", 1.0));
  EXPECT_EQ(choices, Choices{UserUpdateChoice::install});
}

TEST_F(AppUpdateManagerTest, InformationOnlyItemOpensItsPageOnlyForTheUsersOwnCheck) {
  update::AppcastItem withoutArchive = item("3.0");
  withoutArchive.enclosure.reset();
  update::AppcastItem withoutLink = item("3.0", true);
  withoutLink.infoURL.reset();
  update::AppcastItem localFile = item("3.0", true);
  localFile.infoURL = "file:///etc/passwd";
  const QUrl page("https://zephro.example/releases/3.0");
  const struct {
    update::AppcastItem item;
    bool userInitiated;
    std::vector<QUrl> opened;
  } cases[] = {
      {item("3.0", true), false, {}}, {item("3.0", true), true, {page}},
      {withoutArchive, true, {page}}, {withoutLink, true, {}},
      {localFile, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.item.infoURL.value_or("no link") + (c.userInitiated ? " by user" : ""));
    opened.clear();
    choices.clear();
    driver().showUserInitiatedUpdateCheck({});
    found(c.item, c.userInitiated);
    EXPECT_EQ(opened, c.opened);
    EXPECT_EQ(manager->state(), AppUpdateState::upToDate());
    EXPECT_EQ(choices, Choices{UserUpdateChoice::dismiss});
  }
}

TEST_F(AppUpdateManagerTest, OnlyTheNewestInstallReplyIsCalledOnceAndAnErrorDropsIt) {
  found(item("2.1"));
  WatchedReply first;
  WatchedReply second;
  driver().showReadyToInstallAndRelaunch(first.take());
  driver().showReadyToInstallAndRelaunch(second.take());
  EXPECT_TRUE(first.released());
  EXPECT_EQ(manager->state(), AppUpdateState::readyToInstall("2.1"));
  std::optional<AppUpdateState> stateDuringReply;
  second.whenCalled = [&] { stateDuringReply = manager->state(); };
  manager->installUpdate();
  manager->installUpdate();
  manager->rowActivated();
  EXPECT_EQ(stateDuringReply, AppUpdateState::installing());
  EXPECT_TRUE(first.choices.empty());
  EXPECT_EQ(second.choices, Choices{UserUpdateChoice::install});
  EXPECT_TRUE(second.released());

  WatchedReply dropped;
  driver().showReadyToInstallAndRelaunch(dropped.take());
  failed("Disk full.");
  EXPECT_TRUE(dropped.released());
  EXPECT_EQ(acknowledgements, 1);
  EXPECT_EQ(manager->state(), AppUpdateState::error("Disk full."));
  manager->installUpdate();
  EXPECT_TRUE(dropped.choices.empty());
  EXPECT_EQ(framework.calls.size(), 1U);
}

TEST_F(AppUpdateManagerTest, AfterTheManagerIsGoneTheUpdaterStillGetsItsReplies) {
  int stateChanges = 0;
  QObject::connect(manager.get(), &AppUpdateManager::stateChanged, [&] { ++stateChanges; });
  WatchedReply heldWhenDestroyed;
  driver().showReadyToInstallAndRelaunch(heldWhenDestroyed.take());
  stateChanges = 0;
  // An updater that reports while it shuts down finds nobody either.
  framework.onDestroy = [this] {
    failed("Cancelled.");
    driver().showDownloadInitiated({});
  };
  const std::shared_ptr<update::UserDriver> kept = framework.driver;
  manager.reset();
  EXPECT_EQ(stateChanges, 0);
  EXPECT_TRUE(heldWhenDestroyed.released() && heldWhenDestroyed.choices.empty());

  bool permissionReplied = false;
  kept->showUpdatePermissionRequest([&](auto) { permissionReplied = true; });
  kept->showUserInitiatedUpdateCheck({});
  found(item("2.1"), true);
  found(item("3.0", true), true);
  kept->showDownloadDidReceiveExpectedContentLength(100);
  kept->showDownloadDidReceiveData(10);
  kept->showDownloadDidStartExtractingUpdate();
  kept->showExtractionReceivedProgress(0.5);
  WatchedReply ready;
  kept->showReadyToInstallAndRelaunch(ready.take());
  kept->showInstallingUpdate(true, {});
  kept->showUpdateNotFound({}, acknowledgement());
  kept->showUpdaterError({}, acknowledgement());
  kept->showUpdateInstalledAndRelaunched(true, acknowledgement());

  EXPECT_TRUE(permissionReplied);
  // Nobody is left to install, so nothing is downloaded, and no page opens.
  EXPECT_EQ(choices, (Choices{UserUpdateChoice::dismiss, UserUpdateChoice::dismiss}));
  EXPECT_TRUE(opened.empty());
  EXPECT_TRUE(ready.released() && ready.choices.empty());
  EXPECT_EQ(acknowledgements, 4);
}

// Sets an environment variable for as long as it lives.
struct ScopedVariable {
  ScopedVariable(const char* name, const std::string& value) : name(name), old(qgetenv(name)) {
    qputenv(name, QByteArray::fromStdString(value));
  }
  ~ScopedVariable() { old.isNull() ? qunsetenv(name) : qputenv(name, old); }
  const char* name;
  const QByteArray old;
};

// The updater the application makes, run from this test's own build tree with a
// configured feed on this machine: download, verification and extraction need no install
// tree, and only the installation refuses, saying where to update instead.
TEST_F(AppUpdateManagerTest, FromABuildTreeAnUpdateGetsReadyAndInstallingSaysWhereToUpdate) {
  update::testing::TestFeed feed(dir.path());
  feed.publish(update::testing::releaseTree("2.0"));
  update::testing::writeText(
      dir / "Info.json",
      R"({"CFBundleVersion": "1.0", "SUEnableAutomaticChecks": false, "SUFeedURL": ")" +
          feed.url() + R"(", "SUPublicEDKey": ")" + update::encodeBase64(feed.publicKey()) +
          R"("})");
  const ScopedVariable info("ZEPHRO_BUNDLE_INFO", (dir / "Info.json").string());
  const ScopedVariable cache("XDG_CACHE_HOME", (dir / "cache").string());
  const ScopedVariable data("XDG_DATA_HOME", (dir / "data").string());
  bool quitRequested = false;
  AppUpdateManager updates(
      [&quitRequested](std::shared_ptr<update::UserDriver> driver,
                       update::UpdaterDelegate& delegate) {
        return makeApplicationUpdater(std::move(driver), delegate,
                                      [&quitRequested](auto) { quitRequested = true; });
      },
      localization);
  const auto checked = [&updates] {
    updates.checkForUpdates();
    EXPECT_TRUE(testing::spinUntil([&] {
      const auto kind = updates.state().kind();
      return kind == AppUpdateState::Kind::readyToInstall || kind == AppUpdateState::Kind::error;
    }));
    return updates.state();
  };
  EXPECT_EQ(checked(), AppUpdateState::readyToInstall("2.0"));

  updates.installUpdate();
  const auto buildTree =
      std::filesystem::canonical(QCoreApplication::applicationFilePath().toStdString())
          .parent_path();
  const std::string message = "Zephro runs from the build tree " + buildTree.string() +
                              "; update it by building a newer version there.";
  EXPECT_EQ(updates.state(), AppUpdateState::error(QString::fromStdString(message)));
  EXPECT_FALSE(quitRequested);
  // The error ends the installation, not the updater: the next check gets as far again.
  EXPECT_EQ(checked(), AppUpdateState::readyToInstall("2.0"));
}

}  // namespace
}  // namespace zephro
