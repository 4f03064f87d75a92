#include <gtest/gtest.h>

#include <QProcess>
#include <QTcpServer>
#include <csignal>
#include <fstream>

#include "app/services/telemetry/CrashReport.h"
#include "app/services/telemetry/TelemetryContext.h"
#include "app/services/telemetry/TelemetryReporter.h"
#include "platform/log/Log.h"
#include "tests/app/core/TaskRunner.h"
#include "tests/support/LocalHttpServer.h"

namespace zephro::telemetry {
namespace {

using testing::readFile;
namespace fs = std::filesystem;

const QString kCrash = QStringLiteral("/telemetry/crash");
const QString kFeedback = QStringLiteral("/telemetry/feedback");

struct Launch {
  Launch() {
    settings.baseUrl = server.url(QString());
    settings.dataFolder = dir / "Zephro";
    settings.recentLogLines = [this](std::size_t limit) {
      limits.push_back(limit);
      return logLines;
    };
  }

  [[nodiscard]] fs::path crashFile() const { return *settings.pendingCrashFile(); }
  [[nodiscard]] nlohmann::json crash() const {
    return nlohmann::json::parse(readFile(crashFile()));
  }
  void flush() {
    const QFuture<void> flushing = flushPendingCrash(settings);
    ASSERT_TRUE(testing::spinUntil([&] { return flushing.isFinished(); }));
  }
  [[nodiscard]] bool send(const QString& message) {
    const auto outcome =
        testing::awaitTask(sendFeedback(FeedbackCategory::idea, message, {}, settings));
    return outcome.succeeded() && *outcome.value;
  }

  testing::TempDir dir;
  testing::LocalHttpServer server;
  TelemetrySettings settings;
  std::vector<std::string> logLines;
  std::vector<std::size_t> limits;
};

TEST(CrashReport, IsSentAtTheNextLaunchAndRemovedOnlyOnA2xxAnswer) {
  for (const int status : {200, 204, 500, 302, 404}) {
    SCOPED_TRACE(status);
    const bool removed = status / 100 == 2;
    Launch launch;
    // The last crash wins.
    recordCrash("first", "unknown", {}, launch.settings);
    recordCrash("std::runtime_error", "The fans are on fire.", {"frame 0", "frame 1"},
                launch.settings);
    const auto stored = launch.crash();
    EXPECT_EQ(stored["name"], "std::runtime_error");
    EXPECT_EQ(stored["callStack"], nlohmann::json::array({"frame 0", "frame 1"}));
    EXPECT_EQ(stored["context"], TelemetryContext::shared().toJson());
    EXPECT_GT(stored["ts"].get<double>(), 1.7e9);
    launch.server.answerPosts(kCrash, status);
    const log::Capture capture;
    launch.flush();
    const auto posted = launch.server.posted(kCrash);
    ASSERT_EQ(posted.size(), 1);
    EXPECT_EQ(nlohmann::json::parse(posted[0].toStdString()), stored);
    EXPECT_EQ(fs::exists(launch.crashFile()), !removed);
    EXPECT_TRUE(capture.contains(removed
                                     ? "Flushed pending crash report."
                                     : "Failed to flush crash report; will retry next launch."));
    // Kept, it goes again at the next launch.
    launch.server.answerPosts(kCrash, 200);
    launch.flush();
    EXPECT_EQ(launch.server.posted(kCrash).size(), removed ? 1 : 2);
    EXPECT_FALSE(fs::exists(launch.crashFile()));
  }
  for (const std::string content : {"{\"kind\": \"crash\"", "\xff\xfe", ""}) {
    Launch launch;
    launch.server.answerPosts(kCrash, 200);
    std::ofstream(launch.crashFile(), std::ios::binary) << content;
    launch.flush();
    launch.flush();
    EXPECT_TRUE(launch.server.posted(kCrash).isEmpty());
    EXPECT_EQ(readFile(launch.crashFile()), content);
  }
}

TEST(CrashReport, AnUncaughtExceptionLeavesAPendingCrash) {
  for (const auto& [kind, name, reason] :
       {std::tuple{"runtime-error", "std::runtime_error", "The fans are on fire."},
        {"no-reason", "std::runtime_error", "unknown"},
        {"not-an-exception", "int", "unknown"}}) {
    SCOPED_TRACE(kind);
    Launch launch;
    QProcess crasher;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(launch.dir.path()));
    crasher.setProcessEnvironment(environment);
    crasher.start(
        QString::fromStdString(testing::binaryPath("tests/app/services/telemetry/crasher")),
        {QString::fromLatin1(kind)});
    ASSERT_TRUE(crasher.waitForFinished(60000));
    EXPECT_EQ(std::pair(crasher.exitStatus(), crasher.exitCode()),
              std::pair(QProcess::CrashExit, SIGABRT));
    const auto stored = launch.crash();
    EXPECT_EQ(stored["name"], name);
    EXPECT_EQ(stored["reason"], reason);
    EXPECT_FALSE(stored["callStack"].empty());
  }
}

TEST(Feedback, IsCutToItsLimitsAndSentAndFailsOnAnyAnswerBut2xx) {
  const QString flame = QStringLiteral("🔥");
  const QString family = QStringLiteral("👨‍👩‍👧");
  const QString hi = QStringLiteral("hi");
  Launch launch;
  for (int line = 0; line < 201; ++line) {
    launch.logLines.push_back("[app] line " + std::to_string(line) +
                              std::string(line == 7 ? 600 : 0, 'x'));
  }
  // The last 200 log lines, each cut to 500 characters.
  std::vector<std::string> logs(launch.logLines.begin(), launch.logLines.begin() + 200);
  logs[7].resize(500);
  const std::tuple<QString, std::optional<QString>, QString, std::optional<std::string>> cases[] = {
      {QString(3000, QLatin1Char('m')), {}, QString(2000, QLatin1Char('m')), {}},
      {flame.repeated(1999) + family + family, QString(), flame.repeated(1999) + family, {}},
      {hi, QString(300, QLatin1Char('a')), hi, std::string(256, 'a')},
  };
  for (const auto& [message, contact, sentMessage, sentContact] : cases) {
    const Payload sent = makeFeedback(FeedbackCategory::idea, message, contact, launch.settings);
    EXPECT_EQ(QString::fromStdString(sent.message), sentMessage);
    EXPECT_EQ(sent.contactEmail, sentContact);
    EXPECT_EQ(launch.limits.back(), 200U);
    EXPECT_EQ(sent.logs, logs);
  }

  // The form's own test checks what is posted and a 500; here, what it is posted as.
  launch.server.answerPosts(kFeedback, 204);
  ASSERT_TRUE(launch.send(QStringLiteral("It hums.")));
  const auto sent = nlohmann::json::parse(launch.server.posted(kFeedback).last().toStdString());
  EXPECT_EQ(sent["kind"], "feedback");
  // Every category the form offers survives the trip through its raw name, and only those.
  for (const auto category : allFeedbackCategories) {
    EXPECT_EQ(feedbackCategoryFromRaw(rawValue(category)), category);
  }
  EXPECT_EQ(feedbackCategoryFromRaw("praise"), std::nullopt);
  // The network is down: nothing listens on the port.
  QTcpServer closed;
  ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
  launch.settings.baseUrl =
      QUrl(QStringLiteral("http://127.0.0.1:%1/base/").arg(closed.serverPort()));
  closed.close();
  const log::Capture capture;
  EXPECT_FALSE(launch.send(QStringLiteral("x")));
  EXPECT_TRUE(capture.contains("Telemetry POST /telemetry/feedback failed: Connection refused"));
}

// The version comes from the kernel's release, whatever trails its numbers.
TEST(TelemetryContext, DescribesTheInstallationAndWhereToSend) {
  for (const auto& [release, version] : {std::pair{"6.1.0-18-amd64", "6.1.0"},
                                         {"6.8", "6.8.0"},
                                         {"5.15.133.1-microsoft", "5.15.133"},
                                         {"rc1", "0.0.0"}}) {
    EXPECT_EQ(osVersionFromRelease(release), version) << release;
  }
  TelemetrySettings settings;
  for (const auto& [base, url] :
       {std::pair{"https://telemetry.example.org", "https://telemetry.example.org/telemetry/crash"},
        {"https://example.org/api/", "https://example.org/api/telemetry/crash"}}) {
    settings.baseUrl = QUrl(QString::fromLatin1(base));
    EXPECT_EQ(settings.endpoint(kCrash).toString().toStdString(), url);
  }
}

}  // namespace
}  // namespace zephro::telemetry
