// The updater against a real HTTP server on 127.0.0.1, with feeds and archives signed
// by a key made for the test.
#include "platform/update/FeedUpdater.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <unistd.h>

#include <QCoreApplication>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/app/core/TaskRunner.h"
#include "tests/platform/update/TestArchive.h"
#include "tests/support/LocalHttpServer.h"
#include "tests/support/TempDir.h"

namespace zephro::update {
namespace {

using zephro::testing::LocalHttpServer;
using zephro::testing::TempDir;

struct Signer {
  Signer() {
    EXPECT_GE(sodium_init(), 0);
    crypto_sign_keypair(publicKey.data(), secretKey.data());
  }
  [[nodiscard]] std::string sign(const QByteArray& data) const {
    std::array<unsigned char, crypto_sign_BYTES> signature{};
    crypto_sign_detached(signature.data(), nullptr,
                         reinterpret_cast<const unsigned char*>(data.constData()),
                         static_cast<unsigned long long>(data.size()), secretKey.data());
    return QByteArray(reinterpret_cast<const char*>(signature.data()), signature.size())
        .toBase64()
        .toStdString();
  }
  std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> publicKey{};
  std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey{};
};

// A gzipped tar of the given files (path → content), as served.
QByteArray tarball(const TempDir& dir,
                   const std::vector<std::pair<std::string, std::string>>& files) {
  std::vector<testing::TestEntry> entries;
  for (const auto& [path, content] : files)
    entries.push_back(testing::TestEntry::file(path, content, 0755));
  const auto file = dir / "made.tar.gz";
  testing::writeArchive(file, testing::ArchiveFormat::tarGz, entries);
  return QByteArray::fromStdString(testing::readText(file));
}

std::string feedWith(const std::string& items) {
  return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Zephro</title>)" +
         items + "</channel></rss>";
}

std::string item(const std::string& version, const std::string& url, const std::string& signature,
                 std::size_t length) {
  return "<item><title>Zephro " + version + "</title><sparkle:version>" + version +
         "</sparkle:version><sparkle:shortVersionString>" + version +
         "</sparkle:shortVersionString><enclosure url=\"" + url + "\" length=\"" +
         std::to_string(length) + "\" type=\"application/octet-stream\"" +
         (signature.empty() ? "" : " sparkle:edSignature=\"" + signature + "\"") + "/></item>";
}

// Records every callback in order and answers as a user who wants every update.
class RecordingDriver final : public UserDriver {
 public:
  std::vector<std::string> events;
  std::uint64_t received = 0;
  bool installWhenReady = true;

  void showUpdatePermissionRequest(std::function<void(UpdatePermissionResponse)> reply) override {
    events.emplace_back("permission");
    reply({false, false});
  }
  void showUserInitiatedUpdateCheck(std::function<void()>) override {
    events.emplace_back("checking");
  }
  void showUpdateFound(const AppcastItem& item, const UserUpdateState& state,
                       std::function<void(UserUpdateChoice)> reply) override {
    events.push_back("found " + item.displayVersionString +
                     (state.userInitiated ? " by user" : ""));
    reply(UserUpdateChoice::install);
  }
  void showUpdateReleaseNotes(const std::vector<std::uint8_t>&) override {}
  void showUpdateReleaseNotesFailedToDownload(const Error&) override {}
  void showUpdateNotFound(const Error&, std::function<void()> acknowledgement) override {
    events.emplace_back("up to date");
    acknowledgement();
  }
  void showUpdaterError(const Error& error, std::function<void()> acknowledgement) override {
    events.push_back("error " + error.localizedDescription());
    acknowledgement();
  }
  void showDownloadInitiated(std::function<void()>) override { events.emplace_back("download"); }
  void showDownloadDidReceiveExpectedContentLength(std::uint64_t length) override {
    events.push_back("length " + std::to_string(length));
  }
  void showDownloadDidReceiveData(std::uint64_t length) override { received += length; }
  void showDownloadDidStartExtractingUpdate() override { events.emplace_back("extracting"); }
  void showExtractionReceivedProgress(double progress) override {
    if (progress >= 1.0) events.emplace_back("extracted");
  }
  void showReadyToInstallAndRelaunch(std::function<void(UserUpdateChoice)> reply) override {
    events.emplace_back("ready");
    if (installWhenReady) reply(UserUpdateChoice::install);
  }
  void showInstallingUpdate(bool, std::function<void()>) override {
    events.emplace_back("installing");
  }
  void showUpdateInstalledAndRelaunched(bool, std::function<void()> acknowledgement) override {
    acknowledgement();
  }
  void dismissUpdateInstallation() override {}
  void showUpdateInFocus() override {}
};

class NoReleaseNotes final : public UpdaterDelegate {
 public:
  bool shouldDownloadReleaseNotes(const AppcastItem&) override { return false; }
};

struct UpdaterFixture : ::testing::Test {
  UpdaterFixture() {
    std::filesystem::create_directories(prefix / "bin");
    std::ofstream(prefix / "bin" / "zephro") << "old";
  }

  // Publishes version 2.0 signed as `signature` says, and a feed that offers it.
  void publish(const QByteArray& archive, const std::string& signature, bool announceLength = true,
               const std::string& version = "2.0") {
    server.serve("/zephro.tar.gz", archive, announceLength);
    server.serve("/appcast.xml", QByteArray::fromStdString(feedWith(item(
                                     version, server.url("/zephro.tar.gz").toString().toStdString(),
                                     signature, static_cast<std::size_t>(archive.size())))));
  }

  std::unique_ptr<FeedUpdater> makeUpdater(std::string runningVersion = "1.0") {
    Configuration configuration;
    configuration.feedURL = server.url("/appcast.xml").toString().toStdString();
    configuration.publicEDKey.assign(signer.publicKey.begin(), signer.publicKey.end());
    configuration.automaticChecks = false;
    UpdaterHost host;
    host.runningVersion = std::move(runningVersion);
    host.installPrefix = prefix;
    host.workDirectory = dir / "work";
    host.stateFile = dir / "updater.json";
    host.quit = [this](std::function<void()> afterQuit) {
      quits.emplace_back("quit");
      afterQuit();
    };
    host.launch = [this](const std::vector<std::string>& argv) { launched = argv; };
    auto updater = std::make_unique<FeedUpdater>(configuration, host, driver, delegate);
    EXPECT_EQ(updater->start(), std::nullopt);
    return updater;
  }

  // Checks as the user and waits until the updater can check again.
  std::vector<std::string> check(FeedUpdater& updater) {
    driver->events.clear();
    driver->received = 0;
    updater.checkForUpdates();
    EXPECT_FALSE(updater.canCheckForUpdates());
    // It ends ready for the next check, or in a relaunch.
    EXPECT_TRUE(zephro::testing::spinUntil(
        [&] { return updater.canCheckForUpdates() || !launched.empty(); }));
    return driver->events;
  }

  TempDir dir;
  std::filesystem::path prefix = dir / "zephro";
  LocalHttpServer server;
  Signer signer;
  std::shared_ptr<RecordingDriver> driver = std::make_shared<RecordingDriver>();
  NoReleaseNotes delegate;
  std::vector<std::string> quits;
  std::vector<std::string> launched;
};

TEST_F(UpdaterFixture, AnUpdateIsDownloadedVerifiedExtractedAndInstalledInPlace) {
  for (const bool announceLength : {true, false}) {
    SCOPED_TRACE(announceLength ? "length announced" : "length unknown");
    std::filesystem::remove_all(prefix.string() + ".previous");
    const auto archive = tarball(dir, {{"bin/zephro", "new"}, {"share/zephro/Info.json", "{}"}});
    publish(archive, signer.sign(archive), announceLength);
    auto updater = makeUpdater();
    std::vector<std::string> expected{"checking", "found 2.0 by user", "download"};
    if (announceLength) expected.push_back("length " + std::to_string(archive.size()));
    expected.insert(expected.end(), {"extracting", "extracted", "ready", "installing"});
    EXPECT_EQ(check(*updater), expected);
    EXPECT_EQ(driver->received, static_cast<std::uint64_t>(archive.size()));
    EXPECT_EQ(testing::readText(prefix / "bin" / "zephro"), "new");
    EXPECT_TRUE(std::filesystem::exists(prefix.string() + ".previous/bin/zephro"));
    EXPECT_EQ(launched, std::vector<std::string>{(prefix / "bin/zephro").string()});
    // The relaunch comes after the normal quit.
    EXPECT_EQ(quits.size(), 1U);
    quits.clear();
    launched.clear();
    std::filesystem::remove_all(prefix);
    std::filesystem::rename(prefix.string() + ".previous", prefix);
    std::filesystem::remove(dir / "updater.json");
  }
}

TEST_F(UpdaterFixture, AnArchiveWhoseSignatureDoesNotHoldIsNeverExtracted) {
  const auto archive = tarball(dir, {{"bin/zephro", "new"}});
  Signer stranger;
  auto tampered = archive;
  tampered[tampered.size() / 2] = static_cast<char>(tampered[tampered.size() / 2] ^ 0x01);
  const struct {
    const char* what;
    QByteArray served;
    std::string signature;
  } cases[] = {
      {"tampered", tampered, signer.sign(archive)},
      {"another key", archive, stranger.sign(archive)},
      {"no signature", archive, ""},
  };
  for (const auto& [what, served, signature] : cases) {
    SCOPED_TRACE(what);
    publish(served, signature);
    std::filesystem::remove(dir / "updater.json");
    auto updater = makeUpdater();
    const auto events = check(*updater);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().rfind("error ", 0), 0U) << events.back();
    EXPECT_EQ(std::find(events.begin(), events.end(), "extracting"), events.end());
    EXPECT_FALSE(std::filesystem::exists(dir / "work" / "staged"));
    EXPECT_EQ(testing::readText(prefix / "bin" / "zephro"), "old");
  }
}

TEST_F(UpdaterFixture, OlderFeedsAndUnsafeArchivesAreRefused) {
  const auto archive = tarball(dir, {{"bin/zephro", "new"}});
  publish(archive, signer.sign(archive), true, "2.0");
  // The running version is the newest: nothing to do.
  EXPECT_EQ(check(*makeUpdater("2.0")), (std::vector<std::string>{"checking", "up to date"}));

  // Once 3.0 was offered, a feed that goes back to 2.0 is an old feed replayed.
  publish(archive, signer.sign(archive), true, "3.0");
  driver->installWhenReady = false;
  auto updater = makeUpdater();
  EXPECT_EQ(check(*updater).back(), "ready");
  publish(archive, signer.sign(archive), true, "2.0");
  EXPECT_EQ(check(*updater).back(),
            "error The feed offers version 2.0, older than version 3.0 it offered before; it "
            "was refused.");

  // A signed archive that reaches out of its folder is refused at extraction.
  std::filesystem::remove(dir / "updater.json");
  const auto escaping = tarball(dir, {{"../escaped", "x"}});
  publish(escaping, signer.sign(escaping));
  const auto events = check(*makeUpdater());
  EXPECT_EQ(events.back().rfind("error ", 0), 0U) << events.back();
  EXPECT_FALSE(std::filesystem::exists(dir / "work" / "escaped"));
  EXPECT_FALSE(std::filesystem::exists(dir / "escaped"));

  // A tree that belongs to someone else (the package manager's) is not even downloaded.
  std::filesystem::remove(dir / "updater.json");
  publish(archive, signer.sign(archive));
  ASSERT_EQ(::chown(prefix.c_str(), 65534, 65534), 0);
  const int downloads = server.requests("/zephro.tar.gz");
  EXPECT_EQ(check(*makeUpdater()),
            (std::vector<std::string>{
                "checking",
                "error Zephro was installed by the system's package manager; update it there."}));
  EXPECT_EQ(server.requests("/zephro.tar.gz"), downloads);
}

}  // namespace
}  // namespace zephro::update
