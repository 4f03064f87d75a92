#include "platform/update/FeedUpdater.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <map>

#include "platform/log/Log.h"
#include "platform/update/TreeInstaller.h"
#include "tests/platform/update/TestFeed.h"
#include "tests/support/SpinUntil.h"

namespace zephro::update {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::releaseTree;
using testing::writeText;
using Events = std::vector<std::string>;

std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    entries[entry.path().lexically_relative(root).string()] =
        entry.is_symlink()     ? "-> " + fs::read_symlink(entry.path()).string()
        : entry.is_directory() ? "/"
                               : readFile(entry.path());
  }
  return entries;
}

std::string failureLine(int code, const std::string& message) {
  return "[Zephro] Update failed: Error Domain=ZephroUpdateErrorDomain Code=" +
         std::to_string(code) + " \"" + message + "\" UserInfo={NSLocalizedDescription=" + message +
         "}";
}

// Answers as a user who wants every update; can hold the install reply or throw like a bad driver.
struct RecordingDriver final : UserDriver, UpdaterDelegate {
  Events events;
  bool installWhenReady = true;
  std::function<void(UserUpdateChoice)> heldReply;
  std::function<void(const std::string& event)> onEvent;

  void record(const std::string& event, const std::function<void()>& then = {}) {
    events.push_back(event);
    if (onEvent) onEvent(event);
    if (then) then();
  }
  bool shouldDownloadReleaseNotes(const AppcastItem&) override { return false; }
  void showUpdatePermissionRequest(std::function<void(UpdatePermissionResponse)> reply) override {
    record("permission", [&] { reply({false, false}); });
  }
  void showUserInitiatedUpdateCheck(std::function<void()>) override { record("checking"); }
  void showUpdateFound(const AppcastItem& item, const UserUpdateState& state,
                       std::function<void(UserUpdateChoice)> reply) override {
    record("found " + item.displayVersionString + (state.userInitiated ? " by user" : ""),
           [&] { reply(UserUpdateChoice::install); });
  }
  void showUpdateReleaseNotes(const std::vector<std::uint8_t>&) override {}
  void showUpdateReleaseNotesFailedToDownload(const Error&) override {}
  void showUpdateNotFound(const Error&, std::function<void()> done) override {
    record("up to date", done);
  }
  void showUpdaterError(const Error& error, std::function<void()> done) override {
    record("error " + error.localizedDescription(), done);
  }
  void showDownloadInitiated(std::function<void()>) override { record("download"); }
  void showDownloadDidReceiveExpectedContentLength(std::uint64_t length) override {
    record("length " + std::to_string(length));
  }
  void showDownloadDidReceiveData(std::uint64_t) override {}
  void showDownloadDidStartExtractingUpdate() override { record("extracting"); }
  void showExtractionReceivedProgress(double progress) override {
    if (progress >= 1.0) record("extracted");
  }
  void showReadyToInstallAndRelaunch(std::function<void(UserUpdateChoice)> reply) override {
    heldReply = std::move(reply);
    record("ready", [this] {
      if (installWhenReady) std::exchange(heldReply, nullptr)(UserUpdateChoice::install);
    });
  }
  void showInstallingUpdate(bool, std::function<void()>) override { record("installing"); }
  void showUpdateInstalledAndRelaunched(bool, std::function<void()>) override {}
  void dismissUpdateInstallation() override {}
  void showUpdateInFocus() override {}
};

struct UpdaterFixture : ::testing::Test {
  // Zephro 1.0 installed in `home` by the first install, which the updater then owns.
  fs::path userInstall(const fs::path& home) const {
    const fs::path release = dir / "release";
    fs::remove_all(release);
    writeText(release / "bin/zephro", "old");
    writeText(release / "share/zephro/Info.json", R"({"CFBundleVersion": "1.0"})");
    EXPECT_TRUE(std::holds_alternative<UserInstall>(
        installForUser(release / "bin/zephro", UserInstallLayout::inHome(home))));
    return home / ".local/bin/zephro";
  }

  std::unique_ptr<FeedUpdater> makeUpdater(const fs::path& executable,
                                           const std::string& runningVersion = "1.0",
                                           bool forgetAnswers = true) {
    if (forgetAnswers) fs::remove(dir / "updater.json");
    launched.clear();
    Configuration configuration;
    configuration.feedURL = feed.url();
    configuration.publicEDKey = feed.publicKey();
    configuration.automaticChecks = false;
    auto updater = std::make_unique<FeedUpdater>(
        configuration,
        UpdaterHost{.runningVersion = runningVersion,
                    .executable = executable,
                    .workDirectory = dir / "work",
                    .stateFile = dir / "updater.json",
                    .quit = [](const std::function<void()>& afterQuit) { afterQuit(); },
                    .launch = [this](const std::vector<std::string>& argv) { launched = argv; }},
        driver, *driver);
    EXPECT_EQ(updater->start(), std::nullopt);
    return updater;
  }

  // Checks as the user and waits until it ends ready for the next check, or in a relaunch.
  Events check(FeedUpdater& updater) {
    driver->events.clear();
    updater.checkForUpdates();
    EXPECT_FALSE(updater.canCheckForUpdates());
    EXPECT_TRUE(zephro::testing::spinUntil(
        [&] { return updater.canCheckForUpdates() || !launched.empty(); }));
    return driver->events;
  }

  zephro::testing::TempDir dir;
  testing::TestFeed feed{dir.path()};
  std::shared_ptr<RecordingDriver> driver = std::make_shared<RecordingDriver>();
  std::vector<std::string> launched;
};

TEST_F(UpdaterFixture, OnlyATreeTheUpdaterLaidOutIsReplacedWithTheArchiveThatWasVerified) {
  const auto [archive, attributes] = feed.pack(releaseTree("2.0"));
  feed.publish(archive, attributes, "2.0", /*announceLength=*/false);
  // Once the signature holds, the file on disk is replaced by another of the same version.
  const auto swapped = feed.pack(releaseTree("2.0", "swapped")).first;
  driver->onEvent = [&](const std::string& event) {
    if (event == "extracting") writeText(dir / "work/zephro.tar.gz", swapped.toStdString());
  };
  const fs::path base = fs::canonical(dir.path());
  writeText(base / "~/.local/bin/zephro", "old");
  writeText(base / "~/.local/share/zephro/Info.json", R"({"CFBundleVersion": "1.0"})");
  writeText(base / "package/usr/bin/zephro", "old");
  // Tests run as root, so a tree of the package manager's is one of another user here.
  ASSERT_EQ(::chown((base / "package/usr").c_str(), 65534, 65534), 0);
  const std::tuple<std::string, fs::path, std::string> cases[] = {
      {"updater-owned", userInstall(base / "updater-owned"), ""},
      {"~", base / "~/.local/bin/zephro",
       "Zephro in " + (base / "~/.local").string() +
           " was not installed by its updater, which replaces only the copies it installed "
           "itself; update it the way it was installed."},
      {"package", base / "package/usr/bin/zephro", kSystemInstallMessage},
  };
  for (const auto& [name, executable, refusal] : cases) {
    SCOPED_TRACE(name);
    const fs::path folder = base / name;
    const fs::path tree = fs::canonical(executable).parent_path().parent_path();
    // Keyrings beside it, and a .previous that someone else made.
    writeText(folder / ".local/share/keyrings/login.keyring", "secret");
    writeText(tree.string() + ".previous/sentinel", "not the updater's");
    const auto before = snapshot(folder);
    const log::Capture capture;
    auto updater = makeUpdater(executable);
    Events expected{"checking", "found 2.0 by user", "download", "extracting", "extracted",
                    "ready",    "installing"};
    if (!refusal.empty()) expected.push_back("error " + refusal);
    EXPECT_EQ(check(*updater), expected);
    if (!refusal.empty()) {
      EXPECT_TRUE(capture.contains(failureLine(4005, refusal)));
      EXPECT_TRUE(launched.empty());
      EXPECT_EQ(snapshot(folder), before);
      continue;
    }
    const fs::path root = tree.parent_path();
    EXPECT_EQ(launched, Events{(root / "current/bin/zephro").string()});
    EXPECT_EQ(readFile(executable), "new");
    EXPECT_EQ(readFile(folder / ".local/share/keyrings/login.keyring"), "secret");
    EXPECT_EQ(readFile(tree.string() + ".previous/sentinel"), "not the updater's");
  }
}

TEST_F(UpdaterFixture, ARefusedUpdateIsNeverInstalled) {
  const fs::path executable = userInstall(dir / "home");
  const struct {
    std::vector<testing::TestEntry> tree;
    std::string message;
    bool tampered = false;
  } cases[] = {
      // A changed byte: never opened, let alone extracted.
      {releaseTree("2.0"), "The update's signature is not valid; the archive was not opened.",
       true},
      {releaseTree("0.9"),
       "The update holds version 0.9 (build 0.9), older than the running build 1.0; it was "
       "refused as a downgrade."},
      {releaseTree("1.5"),
       "The update holds version 1.5 (build 1.5), not version 2.0 (build 2.0) that the feed "
       "offers; it was refused."},
      {{testing::TestEntry::file("bin/zephro", "new")},
       "The update holds no share/zephro/Info.json with its version; it was refused."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    auto [archive, attributes] = feed.pack(c.tree);
    if (c.tampered)
      archive[archive.size() / 2] = static_cast<char>(archive[archive.size() / 2] ^ 1);
    feed.publish(archive, attributes);
    Events expected{"checking", "found 2.0 by user", "download",
                    "length " + std::to_string(archive.size())};
    if (!c.tampered) expected.insert(expected.end(), {"extracting", "extracted"});
    expected.push_back("error " + c.message);
    EXPECT_EQ(check(*makeUpdater(executable)), expected);
    EXPECT_FALSE(fs::exists(dir / "work/staged"));
    EXPECT_EQ(fs::read_symlink(dir / "home/.local/lib/zephro/current"), "1.0");
    EXPECT_EQ(readFile(executable), "old");
  }
}

TEST_F(UpdaterFixture, AStepThatThrowsEndsInAnErrorAndTheNextCheckWorks) {
  const fs::path executable = userInstall(dir / "home");
  feed.publish(releaseTree("2.0"));
  const std::string message = "The update stopped: the driver broke.";
  driver->installWhenReady = false;
  // Thrown inside the download, and from the install reply the user gives later.
  for (const std::string step : {"download", "installing"}) {
    SCOPED_TRACE(step);
    driver->onEvent = [&, thrown = false](const std::string& event) mutable {
      if (event == step && !std::exchange(thrown, true))
        throw std::runtime_error("the driver broke");
    };
    const log::Capture capture;
    auto updater = makeUpdater(executable);
    check(*updater);
    if (driver->heldReply) std::exchange(driver->heldReply, nullptr)(UserUpdateChoice::install);
    EXPECT_EQ(driver->events.back(), "error " + message);
    EXPECT_TRUE(capture.contains(failureLine(5000, message)));
    EXPECT_EQ(check(*updater).back(), "ready");
    driver->heldReply = nullptr;
  }
  EXPECT_EQ(readFile(executable), "old");
}

TEST_F(UpdaterFixture, OlderFeedsAreRefused) {
  const auto [archive, attributes] = feed.pack(releaseTree("2.0"));
  // Once 3.0 was offered, a feed that goes back to 2.0 is an old feed replayed.
  feed.publish(releaseTree("3.0"), "3.0");
  driver->installWhenReady = false;
  auto updater = makeUpdater(dir / "zephro");
  EXPECT_EQ(check(*updater).back(), "ready");
  feed.publish(archive, attributes);
  EXPECT_EQ(check(*updater).back(),
            "error The feed offers version 2.0, older than version 3.0 it offered before; it "
            "was refused.");
}

TEST_F(UpdaterFixture, ThePermissionIsAskedOnceAndTheAnswerKept) {
  const auto first = makeUpdater(dir / "zephro");
  EXPECT_EQ(driver->events, Events{"permission"});
  driver->events.clear();
  const auto later = makeUpdater(dir / "zephro", "1.0", false);
  EXPECT_EQ(driver->events, Events{});
}

}  // namespace
}  // namespace zephro::update
