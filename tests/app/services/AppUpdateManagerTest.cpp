#include "app/services/AppUpdateManager.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
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
using Log = std::vector<std::string>;

// What the scripted updater answers, and everything the test sees happen, in order.
struct Script {
  bool canCheck = true;
  std::optional<Error> startError;
  std::function<void()> onCheck;
  std::function<void()> onDestroy;
  Log log;
};

struct ScriptedUpdater final : update::Updater {
  explicit ScriptedUpdater(Script& script) : script(script) {}
  ~ScriptedUpdater() override {
    if (script.onDestroy) script.onDestroy();
  }
  std::optional<Error> start() override {
    script.log.emplace_back("start");
    return script.startError;
  }
  void checkForUpdates() override {
    script.log.emplace_back("check");
    if (script.onCheck) script.onCheck();
  }
  bool canCheckForUpdates() const override { return script.canCheck; }

  Script& script;
};

// A release with an archive to download, unless it is only news.
update::AppcastItem item(const std::string& version, bool informational = false) {
  const std::string page = "https://zephro.example/releases/" + version;
  return {"", version, version, page, update::AppcastItem::Enclosure{}, informational, {}};
}

class AppUpdateManagerTest : public ::testing::Test {
 protected:
  AppUpdateManagerTest() {
    localization.setLanguage(AppLanguage::english);
    restart();
  }

  void restart(std::optional<Error> startError = {}) {
    manager.reset();
    script = Script{};
    script.startError = std::move(startError);
    script.onCheck = [this] { logState(); };
    manager = std::make_unique<AppUpdateManager>(
        [this](std::shared_ptr<update::UserDriver> made, update::UpdaterDelegate& delegate) {
          driver = std::move(made);
          delegateGiven = &delegate;
          return std::make_unique<ScriptedUpdater>(script);
        },
        localization, [this](const QUrl& url) { log("open " + url.toString().toStdString()); });
  }

  void log(const std::string& entry) { script.log.push_back(entry); }
  void logState() { log("while " + manager->state().description().toStdString()); }
  // A reply that logs its choice; `watch` expires once nobody holds the reply any more.
  std::function<void(UserUpdateChoice)> reply(std::weak_ptr<int>* watch = nullptr) {
    auto held = std::make_shared<int>();
    if (watch) *watch = held;
    return [this, held](UserUpdateChoice choice) {
      log(std::array{"skip", "install", "dismiss"}.at(static_cast<std::size_t>(choice)));
    };
  }
  void found(const update::AppcastItem& found, bool userInitiated = false) {
    driver->showUpdateFound(found, {.userInitiated = userInitiated}, reply());
  }
  void downloading(std::uint64_t expected, std::uint64_t received) {
    found(item("2.1"));
    driver->showDownloadInitiated({});
    if (expected > 0) driver->showDownloadDidReceiveExpectedContentLength(expected);
    if (received > 0) driver->showDownloadDidReceiveData(received);
  }
  void failed(const char* message) {
    driver->showUpdaterError(Error::withDescription("UpdateErrorDomain", 1, message), ack);
  }

  testing::TempDir dir;
  UserDefaults defaults{QString::fromStdString((dir / "settings.json").string())};
  LocalizationManager localization{defaults, [] { return QStringList{QStringLiteral("en-US")}; },
                                   testing::sourcePath("app/resources")};
  Script script;
  const std::function<void()> ack = [this] { log("ack"); };
  std::shared_ptr<update::UserDriver> driver;
  update::UpdaterDelegate* delegateGiven = nullptr;
  std::unique_ptr<AppUpdateManager> manager;
};

TEST_F(AppUpdateManagerTest, StartsTheUpdaterItMadeAroundItsOwnDriver) {
  EXPECT_EQ(manager->state(), AppUpdateState::idle());
  EXPECT_EQ(delegateGiven, static_cast<update::UpdaterDelegate*>(manager.get()));
  EXPECT_FALSE(delegateGiven->shouldDownloadReleaseNotes(item("2.1")));
  driver->showUpdatePermissionRequest([this](auto response) {
    log(response.automaticUpdateChecks && !response.sendSystemProfile ? "checks, no profile"
                                                                      : "other permission");
  });
  EXPECT_EQ(script.log, (Log{"start", "checks, no profile"}));

  // An updater that cannot start leaves a usable manager: the next check goes to it.
  restart(Error::withDescription("UpdateErrorDomain", 4, "No feed is configured."));
  EXPECT_EQ(manager->state(), AppUpdateState::error("No feed is configured."));
  manager->checkForUpdates();
  EXPECT_EQ(manager->state(), AppUpdateState::checking());
  EXPECT_EQ(script.log, (Log{"start", "check", "while checking"}));
}

TEST_F(AppUpdateManagerTest, RowLabelAndActionInEveryState) {
  const std::tuple<std::function<void()>, AppUpdateState, QString, bool> cases[] = {
      {[] {}, AppUpdateState::idle(), "Check for Updates…", true},
      {[&] { driver->showUserInitiatedUpdateCheck({}); }, AppUpdateState::checking(),
       "Checking for Updates…", false},
      {[&] { driver->showUpdateNotFound({}, {}); }, AppUpdateState::upToDate(),
       "Zephro Is Up to Date", true},
      {[&] { found(item("2.1")); }, AppUpdateState::updateAvailable("2.1"), "Update 2.1 Available",
       false},
      {[&] { downloading(0, 10); }, AppUpdateState::downloading("2.1"), "Downloading Update…",
       false},
      {[&] { downloading(1000, 999); }, AppUpdateState::downloading("2.1", 0.999),
       "Downloading Update… 99%", false},
      // Extraction that reports no number shows no progress rather than garbage.
      {[&] {
         downloading(1000, 999);
         driver->showExtractionReceivedProgress(std::nan(""));
       },
       AppUpdateState::downloading("2.1", 0.0), "Downloading Update… 0%", false},
      {[&] {
         found(item("2.1"));
         driver->showReadyToInstallAndRelaunch(reply());
       },
       AppUpdateState::readyToInstall("2.1"), "Install 2.1 and Relaunch", true},
      {[&] { failed("Bad feed."); }, AppUpdateState::error("Bad feed."),
       "Update Failed — Try Again", true},
      {[&] { driver->showInstallingUpdate(false, {}); }, AppUpdateState::installing(),
       "Installing Update…", false},
  };
  for (const auto& [reach, state, label, checks] : cases) {
    for (const bool byRow : {false, true}) {
      SCOPED_TRACE(state.description().toStdString() + (byRow ? " row clicked" : " check"));
      restart();
      reach();
      script.log.clear();
      EXPECT_EQ(manager->state(), state);
      EXPECT_EQ(manager->updateRowLabel(), label);
      const auto act = [&] { byRow ? manager->rowActivated() : manager->checkForUpdates(); };
      if (byRow && state.kind() == AppUpdateState::Kind::readyToInstall) {
        act();
        EXPECT_EQ(manager->state(), AppUpdateState::installing());
        EXPECT_EQ(script.log, Log{"install"});
        continue;
      }
      script.canCheck = false;
      act();
      EXPECT_EQ(manager->state(), state);
      script.canCheck = true;
      act();
      EXPECT_EQ(manager->state(), checks ? AppUpdateState::checking() : state);
      EXPECT_EQ(script.log, checks ? (Log{"check", "while checking"}) : Log{});
    }
  }
}

TEST_F(AppUpdateManagerTest, InformationOnlyItemOpensItsPageOnlyForTheUsersOwnCheck) {
  update::AppcastItem withoutArchive = item("3.0");
  withoutArchive.enclosure.reset();
  update::AppcastItem withoutLink = item("3.0", true);
  withoutLink.infoURL.reset();
  update::AppcastItem localFile = item("3.0", true);
  localFile.infoURL = "file:///etc/passwd";
  const Log opened{"open https://zephro.example/releases/3.0", "dismiss"};
  const std::tuple<update::AppcastItem, bool, Log> cases[] = {
      {item("3.0", true), false, {"dismiss"}}, {item("3.0", true), true, opened},
      {withoutArchive, true, opened},          {withoutLink, true, {"dismiss"}},
      {localFile, true, {"dismiss"}},
  };
  for (const auto& [offered, userInitiated, expected] : cases) {
    SCOPED_TRACE(offered.infoURL.value_or("no link") + (userInitiated ? " by user" : ""));
    driver->showUserInitiatedUpdateCheck({});
    script.log.clear();
    found(offered, userInitiated);
    EXPECT_EQ(script.log, expected);
    EXPECT_EQ(manager->state(), AppUpdateState::upToDate());
  }
}

TEST_F(AppUpdateManagerTest, OnlyTheNewestInstallReplyIsCalledOnceAndAnErrorDropsIt) {
  found(item("2.1"));
  std::weak_ptr<int> first;
  std::weak_ptr<int> second;
  std::weak_ptr<int> dropped;
  driver->showReadyToInstallAndRelaunch(reply(&first));
  driver->showReadyToInstallAndRelaunch([this, inner = reply(&second)](UserUpdateChoice choice) {
    logState();
    inner(choice);
  });
  EXPECT_TRUE(first.expired());
  EXPECT_EQ(manager->state(), AppUpdateState::readyToInstall("2.1"));
  manager->installUpdate();
  manager->installUpdate();
  manager->rowActivated();
  EXPECT_TRUE(second.expired());

  driver->showReadyToInstallAndRelaunch(reply(&dropped));
  failed("Disk full.");
  EXPECT_TRUE(dropped.expired());
  EXPECT_EQ(manager->state(), AppUpdateState::error("Disk full."));
  manager->installUpdate();
  EXPECT_EQ(script.log, (Log{"start", "install", "while installing", "install", "ack"}));
}

TEST_F(AppUpdateManagerTest, AfterTheManagerIsGoneTheUpdaterStillGetsItsReplies) {
  std::weak_ptr<int> heldWhenDestroyed;
  std::weak_ptr<int> ready;
  driver->showReadyToInstallAndRelaunch(reply(&heldWhenDestroyed));
  QObject::connect(manager.get(), &AppUpdateManager::stateChanged, [this] { log("changed"); });
  // An updater that reports while it shuts down finds nobody either.
  script.onDestroy = [this] {
    failed("Cancelled.");
    driver->showDownloadInitiated({});
  };
  script.log.clear();
  manager.reset();
  EXPECT_TRUE(heldWhenDestroyed.expired());

  driver->showUpdatePermissionRequest([this](auto) { log("permission"); });
  driver->showUserInitiatedUpdateCheck({});
  found(item("2.1"), true);
  found(item("3.0", true), true);
  driver->showDownloadDidReceiveExpectedContentLength(100);
  driver->showDownloadDidReceiveData(10);
  driver->showDownloadDidStartExtractingUpdate();
  driver->showExtractionReceivedProgress(0.5);
  driver->showReadyToInstallAndRelaunch(reply(&ready));
  driver->showInstallingUpdate(true, {});
  driver->showUpdateNotFound({}, ack);
  driver->showUpdaterError({}, ack);
  driver->showUpdateInstalledAndRelaunched(true, ack);
  // Nobody is left to install, so nothing is downloaded, and no page opens.
  EXPECT_EQ(script.log, (Log{"ack", "permission", "dismiss", "dismiss", "ack", "ack", "ack"}));
  EXPECT_TRUE(ready.expired());
}

struct ScopedVariable {
  ScopedVariable(const char* name, const std::string& value) : name(name), old(qgetenv(name)) {
    qputenv(name, QByteArray::fromStdString(value));
  }
  ~ScopedVariable() { old.isNull() ? qunsetenv(name) : qputenv(name, old); }
  const char* name;
  const QByteArray old;
};

// From a build tree all but the installation works, which needs an install tree.
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
  AppUpdateManager updates(
      [this](std::shared_ptr<update::UserDriver> driver, update::UpdaterDelegate& delegate) {
        return makeApplicationUpdater(std::move(driver), delegate, [this](auto) { log("quit"); });
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
  EXPECT_EQ(updates.state(), AppUpdateState::error(QString::fromStdString(
                                 "Zephro runs from the build tree " + buildTree.string() +
                                 "; update it by building a newer version there.")));
  // The error ends the installation, not the updater: the next check gets as far again.
  EXPECT_EQ(checked(), AppUpdateState::readyToInstall("2.0"));
  EXPECT_EQ(script.log, Log{"start"});
}

}  // namespace
}  // namespace zephro
