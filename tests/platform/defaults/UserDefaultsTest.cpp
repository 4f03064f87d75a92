#include "platform/defaults/UserDefaults.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include "platform/defaults/DefaultsKeys.h"
#include "platform/log/Log.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

using testing::TempDir;

QString qpath(const std::filesystem::path& path) {
  return QString::fromStdString(path.string());
}

QByteArray readFile(const QString& path) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
  return file.readAll();
}

void writeFile(const QString& path, const QByteArray& contents) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_EQ(file.write(contents), contents.size());
}

QJsonObject fileObject(const QString& path) {
  return QJsonDocument::fromJson(readFile(path)).object();
}

TEST(UserDefaults, FreshProfileReadsEveryDeclaredDefaultAndWritesNothing) {
  const TempDir dir;
  const QString path = qpath(dir / "config/zephro/defaults.json");
  UserDefaults defaults(path);

  EXPECT_FALSE(defaults.value(defaults::showRPMInMenuBar));
  EXPECT_FALSE(defaults.value(defaults::showTempInMenuBar));
  EXPECT_TRUE(defaults.value(defaults::showIconInMenuBar));
  EXPECT_FALSE(defaults.value(defaults::useFahrenheit));
  EXPECT_EQ(defaults.value(defaults::appearanceMode), "system");
  EXPECT_TRUE(defaults.value(defaults::showModeSymbols));
  EXPECT_FALSE(defaults.value(defaults::disableLiquidGlass));
  EXPECT_FALSE(defaults.value(defaults::fineTuneManualOverride));
  EXPECT_FALSE(defaults.value(defaults::hasSeenOnboarding));
  EXPECT_EQ(defaults.value(defaults::fanPresets), std::nullopt);

  // A plain Boolean read knows nothing of declared defaults until one is registered.
  EXPECT_FALSE(defaults.boolValue("showIconInMenuBar"));
  EXPECT_FALSE(defaults.object("showIconInMenuBar").isValid());
  defaults.registerDefaults({{"showIconInMenuBar", true}});
  EXPECT_TRUE(defaults.boolValue("showIconInMenuBar"));
  EXPECT_FALSE(defaults.hasStoredValue("showIconInMenuBar"));
  EXPECT_FALSE(QFile::exists(path)) << "registering must not write";

  // A stored value wins over the fallback; the fallback itself never reaches the file.
  defaults.setBool("showRPMInMenuBar", true);
  EXPECT_EQ(fileObject(path), (QJsonObject{{"showRPMInMenuBar", true}}));
  defaults.setBool("showIconInMenuBar", false);
  EXPECT_FALSE(defaults.boolValue("showIconInMenuBar"));
  EXPECT_FALSE(defaults.value(defaults::showIconInMenuBar));
  defaults.remove("showIconInMenuBar");
  EXPECT_TRUE(defaults.boolValue("showIconInMenuBar"));
  EXPECT_FALSE(fileObject(path).contains("showIconInMenuBar"));
}

TEST(UserDefaults, ValuesKeepTheirTypesAcrossInstances) {
  const TempDir dir;
  const QString path = qpath(dir / "defaults.json");
  const QByteArray binary("\x00\xff[\"x\"]\n\x7f", 9);
  {
    UserDefaults defaults(path);
    defaults.setBool("useFahrenheit", true);
    defaults.setString("appearanceMode", QStringLiteral("dark"));
    defaults.setString("appLanguage", QStringLiteral("zh-Hans \u7b80\u4f53"));
    defaults.setData("fanPresets", binary);
    defaults.setData("empty", {});
    defaults.setBool("hasSeenOnboarding", true);
    defaults.remove("hasSeenOnboarding");
    EXPECT_TRUE(defaults.isPersisted());
  }
  const UserDefaults reopened(path);
  EXPECT_TRUE(reopened.boolValue("useFahrenheit"));
  EXPECT_EQ(reopened.string("appearanceMode"), QStringLiteral("dark"));
  EXPECT_EQ(reopened.string("appLanguage"), QStringLiteral("zh-Hans \u7b80\u4f53"));
  EXPECT_EQ(reopened.data("fanPresets"), binary);
  EXPECT_EQ(reopened.data("empty"), QByteArray());
  EXPECT_FALSE(reopened.hasStoredValue("hasSeenOnboarding"));

  // Each read answers only for its own type.
  EXPECT_EQ(reopened.data("appearanceMode"), std::nullopt);
  EXPECT_EQ(reopened.string("fanPresets"), std::nullopt);
  EXPECT_FALSE(reopened.boolValue("appearanceMode"));
  EXPECT_EQ(reopened.value(defaults::appLanguage), QStringLiteral("zh-Hans \u7b80\u4f53"));
}

TEST(UserDefaults, ChangeSignalFollowsTheValueAReaderSees) {
  const TempDir dir;
  UserDefaults defaults(qpath(dir / "defaults.json"));
  QSignalSpy spy(&defaults, &UserDefaults::valueChanged);
  const auto keys = [&spy] {
    QStringList changed;
    for (const auto& arguments : spy) changed << arguments.at(0).toString();
    spy.clear();
    return changed;
  };

  defaults.setString("appearanceMode", "dark");
  defaults.setString("appearanceMode", "dark");
  EXPECT_EQ(keys(), QStringList{"appearanceMode"}) << "rewriting the same value is no change";

  defaults.setString("appearanceMode", "light");
  defaults.remove("appearanceMode");
  defaults.remove("appearanceMode");
  EXPECT_EQ(keys(), (QStringList{"appearanceMode", "appearanceMode"}));

  defaults.setBool("showIconInMenuBar", true);
  keys();
  defaults.registerDefaults({{"showIconInMenuBar", true}, {"showModeSymbols", true}});
  EXPECT_EQ(keys(), QStringList{"showModeSymbols"}) << "a stored value hides its fallback";
  defaults.setBool("showIconInMenuBar", false);
  defaults.remove("showIconInMenuBar");
  EXPECT_EQ(keys(), (QStringList{"showIconInMenuBar", "showIconInMenuBar"}));
}

TEST(UserDefaults, WritesReplaceTheFileWholeAndNeverTruncateIt) {
  const TempDir dir;
  const QString path = qpath(dir / "defaults.json");
  UserDefaults defaults(path);
  defaults.setString("appearanceMode", "dark");
  const QByteArray before = readFile(path);

  // A reader that opened the file before a write keeps seeing the complete old file:
  // the new contents arrive as a new file renamed over the old one.
  QFile reader(path);
  ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
  defaults.setData("fanPresets", QByteArray(64 * 1024, 'x'));
  EXPECT_EQ(reader.readAll(), before);
  EXPECT_EQ(UserDefaults(path).data("fanPresets"), QByteArray(64 * 1024, 'x'));
  EXPECT_EQ(QDir(qpath(dir.path())).entryList(QDir::Files), QStringList{"defaults.json"});
}

TEST(UserDefaults, AFailedWriteIsLoggedKeptInMemoryAndWrittenByTheNextChange) {
  const TempDir dir;
  const QString folder = qpath(dir / "blocked");
  const QString path = folder + "/defaults.json";
  writeFile(folder, "a file where the folder should be");

  log::Capture capture;
  UserDefaults defaults(path);
  defaults.setString("appearanceMode", "light");
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{("[Zephro] Failed to save settings to " + path +
                                      ": cannot create the folder " + folder)
                                         .toStdString()});
  EXPECT_FALSE(defaults.isPersisted());
  EXPECT_EQ(defaults.string("appearanceMode"), QStringLiteral("light"));

  ASSERT_TRUE(QFile::remove(folder));
  capture.clear();
  defaults.setBool("useFahrenheit", true);
  EXPECT_TRUE(capture.lines().empty());
  EXPECT_TRUE(defaults.isPersisted());
  EXPECT_EQ(fileObject(path), (QJsonObject{{"appearanceMode", "light"}, {"useFahrenheit", true}}));
}

TEST(UserDefaults, AnUnreadableFileIsKeptAsideAndEntriesOfOtherShapesSurvive) {
  const TempDir dir;
  const QString path = qpath(dir / "defaults.json");
  const QString kept = path + ".unreadable";

  for (const QByteArray& contents : {QByteArray("[true]"), QByteArray("{\"a\": tru")}) {
    SCOPED_TRACE(contents.toStdString());
    writeFile(path, contents);
    QJsonParseError parse{};
    QJsonDocument::fromJson(contents, &parse);
    const QString reason =
        parse.error == QJsonParseError::NoError ? "not a JSON object" : parse.errorString();

    log::Capture capture;
    UserDefaults defaults(path);
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{("[Zephro] Settings file " + path + " could not be read (" +
                                        reason + "); kept it as " + kept)
                                           .toStdString()});
    EXPECT_EQ(readFile(kept), contents);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(defaults.value(defaults::appearanceMode), "system");
    defaults.setBool("useFahrenheit", true);
    EXPECT_EQ(UserDefaults(path).boolValue("useFahrenheit"), true);
    ASSERT_TRUE(QFile::remove(path));
  }

  // A value this program does not write (a number, broken base64) reads as absent
  // but is carried along by every later write.
  writeFile(path, R"({"count": 3, "blob": {"data": "!!"}, "useFahrenheit": true})");
  UserDefaults defaults(path);
  EXPECT_FALSE(defaults.object("count").isValid());
  EXPECT_EQ(defaults.data("blob"), std::nullopt);
  defaults.setBool("useFahrenheit", false);
  const QJsonObject written = fileObject(path);
  EXPECT_EQ(written.value("count"), 3);
  EXPECT_EQ(written.value("blob"), (QJsonObject{{"data", "!!"}}));
  EXPECT_EQ(written.value("useFahrenheit"), false);
}

}  // namespace
}  // namespace zephro
