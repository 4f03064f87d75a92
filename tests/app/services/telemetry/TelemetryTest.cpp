#include <gtest/gtest.h>

#include <QProcess>
#include <QTcpServer>
#include <csignal>
#include <fstream>

#include "app/services/telemetry/CrashReport.h"
#include "app/services/telemetry/TelemetryContext.h"
#include "app/services/telemetry/TelemetryReporter.h"
#include "platform/bundle/InfoDictionary.h"
#include "platform/log/Log.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/support/LocalHttpServer.h"
#include "tests/support/TempDir.h"

namespace zephro::telemetry {
namespace {

using testing::LocalHttpServer;
using testing::spinUntil;
using testing::TempDir;

constexpr auto kFlushed = "Flushed pending crash report.";
constexpr auto kNotFlushed = "Failed to flush crash report; will retry next launch.";

std::vector<std::string> keysOf(const nlohmann::ordered_json& record) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : record.items()) keys.push_back(key);
  return keys;
}

// A launch's telemetry over a local server, with its data folder in a temp dir.
struct Launch {
  Launch() {
    settings.baseUrl = server.url(QString());
    settings.dataFolder = dir / "Zephro";
    settings.recentLogLines = [this](std::size_t limit) {
      limits.push_back(limit);
      return logLines;
    };
  }

  [[nodiscard]] std::filesystem::path crashFile() const { return *settings.pendingCrashFile(); }

  // Flushes as a launch does and waits for the worker to finish.
  void flush() {
    const QFuture<void> flushing = flushPendingCrash(settings);
    ASSERT_TRUE(spinUntil([&] { return flushing.isFinished(); }));
  }

  [[nodiscard]] bool send(FeedbackCategory category, const QString& message,
                          std::optional<QString> contact) {
    const auto outcome =
        testing::awaitTask(sendFeedback(category, message, std::move(contact), settings));
    return outcome.succeeded() && *outcome.value;
  }

  [[nodiscard]] nlohmann::json lastFeedback() const {
    return nlohmann::json::parse(
        server.posted(QStringLiteral("/telemetry/feedback")).last().toStdString());
  }

  TempDir dir;
  LocalHttpServer server;
  TelemetrySettings settings;
  std::vector<std::string> logLines;
  std::vector<std::size_t> limits;
};

TEST(CrashReport, IsSentAtTheNextLaunchAndRemovedOnlyOnA2xxAnswer) {
  struct Case {
    int status;
    bool removed;
  };
  for (const Case& answer :
       {Case{200, true}, Case{204, true}, Case{500, false}, Case{302, false}, Case{404, false}}) {
    SCOPED_TRACE(answer.status);
    Launch launch;
    recordCrash("std::runtime_error", "The fans are on fire.", {"frame 0", "frame 1"},
                launch.settings);
    const std::string stored = testing::readFile(launch.crashFile());
    launch.server.answerPosts(QStringLiteral("/telemetry/crash"), answer.status);
    const log::Capture capture;
    launch.flush();

    const auto posted = launch.server.posted(QStringLiteral("/telemetry/crash"));
    ASSERT_EQ(posted.size(), 1);
    EXPECT_EQ(nlohmann::json::parse(posted[0].toStdString()), nlohmann::json::parse(stored));
    EXPECT_EQ(std::filesystem::exists(launch.crashFile()), !answer.removed);
    EXPECT_EQ(capture.lines(), std::vector<std::string>{answer.removed ? kFlushed : kNotFlushed});
    if (answer.removed) continue;

    // Kept, it goes again at the next launch.
    launch.server.answerPosts(QStringLiteral("/telemetry/crash"), 200);
    launch.flush();
    EXPECT_EQ(launch.server.posted(QStringLiteral("/telemetry/crash")).size(), 2);
    EXPECT_FALSE(std::filesystem::exists(launch.crashFile()));
  }
}

TEST(CrashReport, IsOneRecordInItsKeyOrderAndTheLastCrashWins) {
  Launch launch;
  recordCrash("first", "unknown", {}, launch.settings);
  recordCrash("std::logic_error", "unknown", {"a", "b"}, launch.settings);
  const auto crash = nlohmann::ordered_json::parse(testing::readFile(launch.crashFile()));
  EXPECT_EQ(keysOf(crash),
            (std::vector<std::string>{"kind", "name", "reason", "callStack", "context", "ts"}));
  EXPECT_EQ(crash["kind"], "crash");
  EXPECT_EQ(crash["name"], "std::logic_error");
  EXPECT_EQ(crash["callStack"], nlohmann::json::array({"a", "b"}));
  EXPECT_EQ(crash["context"], TelemetryContext::shared().toJson());
  EXPECT_GT(crash["ts"].get<double>(), 1.7e9);
  EXPECT_EQ(std::filesystem::directory_iterator(launch.settings.dataFolder)->path().filename(),
            "pending-crash.json");
}

TEST(CrashReport, AFileThatIsNotJsonIsNeverSentNorRemoved) {
  for (const std::string& content :
       {std::string("{\"kind\": \"crash\""), std::string("\xff\xfe"), std::string()}) {
    Launch launch;
    launch.server.answerPosts(QStringLiteral("/telemetry/crash"), 200);
    { std::ofstream(launch.crashFile(), std::ios::binary) << content; }
    const log::Capture capture;
    for (int launches = 0; launches < 2; ++launches) launch.flush();
    EXPECT_TRUE(launch.server.posted(QStringLiteral("/telemetry/crash")).isEmpty());
    EXPECT_EQ(testing::readFile(launch.crashFile()), content);
    EXPECT_TRUE(capture.lines().empty());
  }
}

TEST(CrashReport, AnUncaughtExceptionLeavesAPendingCrashTheNextLaunchSends) {
  struct Case {
    const char* kind;
    const char* name;
    const char* reason;
  };
  for (const Case& crash : {Case{"runtime-error", "std::runtime_error", "The fans are on fire."},
                            Case{"no-reason", "std::runtime_error", "unknown"},
                            Case{"not-an-exception", "int", "unknown"}}) {
    SCOPED_TRACE(crash.kind);
    Launch launch;
    QProcess crasher;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(launch.dir.path()));
    crasher.setProcessEnvironment(environment);
    crasher.start(
        QString::fromStdString(testing::binaryPath("tests/app/services/telemetry/crasher")),
        {QString::fromLatin1(crash.kind)});
    ASSERT_TRUE(crasher.waitForFinished(60000));
    EXPECT_EQ(crasher.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(crasher.exitCode(), SIGABRT);

    const auto stored = nlohmann::json::parse(testing::readFile(launch.crashFile()));
    EXPECT_EQ(stored["name"], crash.name);
    EXPECT_EQ(stored["reason"], crash.reason);
    EXPECT_FALSE(stored["callStack"].empty());

    launch.server.answerPosts(QStringLiteral("/telemetry/crash"), 204);
    launch.flush();
    ASSERT_EQ(launch.server.posted(QStringLiteral("/telemetry/crash")).size(), 1);
    EXPECT_FALSE(std::filesystem::exists(launch.crashFile()));
  }
}

TEST(Feedback, IsCutToItsLimitsInUserPerceivedCharacters) {
  struct Case {
    const char* name;
    QString message;
    std::optional<QString> contact;
    QString sentMessage;
    std::optional<QString> sentContact;
  };
  const QString flame = QStringLiteral("🔥");
  const QString family = QStringLiteral("👨‍👩‍👧");
  for (const Case& feedback : {
           Case{"3000 characters", QString(3000, QLatin1Char('m')), std::nullopt,
                QString(2000, QLatin1Char('m')), std::nullopt},
           Case{"emoji count as one", flame.repeated(1999) + family + family, QStringLiteral(""),
                flame.repeated(1999) + family, std::nullopt},
           Case{"a long address", QStringLiteral("hi"), QString(300, QLatin1Char('a')),
                QStringLiteral("hi"), QString(256, QLatin1Char('a'))},
           Case{"a short address", QStringLiteral("hi"), QStringLiteral("me@example.org"),
                QStringLiteral("hi"), QStringLiteral("me@example.org")},
       }) {
    SCOPED_TRACE(feedback.name);
    Launch launch;
    launch.server.answerPosts(QStringLiteral("/telemetry/feedback"), 200);
    ASSERT_TRUE(launch.send(FeedbackCategory::idea, feedback.message, feedback.contact));
    const auto sent = launch.lastFeedback();
    EXPECT_EQ(sent["kind"], "feedback");
    EXPECT_EQ(sent["category"], "idea");
    EXPECT_EQ(QString::fromStdString(sent["message"].get<std::string>()), feedback.sentMessage);
    EXPECT_EQ(sent.contains("contactEmail"), feedback.sentContact.has_value());
    if (feedback.sentContact) {
      EXPECT_EQ(QString::fromStdString(sent["contactEmail"].get<std::string>()),
                *feedback.sentContact);
    }
  }
}

TEST(Feedback, CarriesTheLast200LogLinesCutTo500Characters) {
  Launch launch;
  launch.server.answerPosts(QStringLiteral("/telemetry/feedback"), 204);
  for (int line = 0; line < 201; ++line) {
    launch.logLines.push_back("[app] line " + std::to_string(line) +
                              std::string(line == 7 ? 600 : 0, 'x'));
  }
  ASSERT_TRUE(launch.send(FeedbackCategory::bug, QStringLiteral("It hums."), std::nullopt));
  EXPECT_EQ(launch.limits, std::vector<std::size_t>{200});
  const auto logs = launch.lastFeedback()["logs"];
  ASSERT_EQ(logs.size(), 200U);
  EXPECT_EQ(logs[0], "[app] line 0");
  EXPECT_EQ(logs[7].get<std::string>().size(), 500U);
  EXPECT_EQ(logs[199], "[app] line 199");
  const auto sent = nlohmann::ordered_json::parse(
      launch.server.posted(QStringLiteral("/telemetry/feedback")).last().toStdString());
  EXPECT_EQ(keysOf(sent),
            (std::vector<std::string>{"kind", "category", "message", "logs", "context", "ts"}));
}

TEST(Feedback, FailsOnAnyAnswerBut2xxAndLogsTransportErrors) {
  Launch launch;
  launch.server.answerPosts(QStringLiteral("/telemetry/feedback"), 500);
  {
    const log::Capture capture;
    EXPECT_FALSE(launch.send(FeedbackCategory::other, QStringLiteral("x"), std::nullopt));
    EXPECT_TRUE(capture.lines().empty());
  }
  // The network is down: nothing listens on the port.
  QTcpServer closed;
  ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
  launch.settings.baseUrl =
      QUrl(QStringLiteral("http://127.0.0.1:%1/base/").arg(closed.serverPort()));
  closed.close();
  const log::Capture capture;
  EXPECT_FALSE(launch.send(FeedbackCategory::other, QStringLiteral("x"), std::nullopt));
  EXPECT_EQ(capture.lines(), std::vector<std::string>{
                                 "Telemetry POST /telemetry/feedback failed: Connection refused"});
  ASSERT_FALSE(capture.entries().empty());
  EXPECT_EQ(capture.entries()[0].channel.category, "telemetry");
  EXPECT_EQ(capture.entries()[0].level, log::Level::error);
}

TEST(TelemetryContext, DescribesTheInstallation) {
  TempDir dir;
  { std::ofstream(dir / "product_name") << "MacBookPro16,1  \n"; }
  const auto context =
      TelemetryContext::make(bundle::InfoDictionary::parse(
                                 R"({"CFBundleShortVersionString": "1.4", "CFBundleVersion": 7})"),
                             "6.1.0-18-amd64", dir / "product_name");
  EXPECT_EQ(context.appVersion, "1.4");
  EXPECT_EQ(context.build, "0") << "a number is not text";
  EXPECT_EQ(context.model, "MacBookPro16,1");
  EXPECT_NE(context.machineId, std::string(32, '0'));
  EXPECT_EQ(TelemetryContext::make({}, "", dir / "missing").model, "unknown");

  for (const auto& [release, version] :
       std::vector<std::pair<std::string, std::string>>{{"6.1.0-18-amd64", "6.1.0"},
                                                        {"6.8", "6.8.0"},
                                                        {"5.15.133.1-microsoft", "5.15.133"},
                                                        {"6", "6.0.0"},
                                                        {"", "0.0.0"},
                                                        {"rc1", "0.0.0"}}) {
    EXPECT_EQ(osVersionFromRelease(release), version) << release;
  }
}

TEST(TelemetrySettings, AppendTheEndpointToTheBasePath) {
  TelemetrySettings settings;
  for (const auto& [base, url] : std::vector<std::pair<const char*, const char*>>{
           {"https://telemetry.example.org", "https://telemetry.example.org/telemetry/crash"},
           {"https://example.org/api/", "https://example.org/api/telemetry/crash"}}) {
    settings.baseUrl = QUrl(QString::fromLatin1(base));
    EXPECT_EQ(settings.endpoint(QStringLiteral("/telemetry/crash")).toString().toStdString(), url);
  }
  settings.dataFolder.clear();
  EXPECT_FALSE(settings.pendingCrashFile());
}

}  // namespace
}  // namespace zephro::telemetry
