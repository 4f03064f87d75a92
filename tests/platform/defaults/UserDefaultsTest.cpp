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

const auto qpath = [](const std::filesystem::path& path) { return QString::fromStdString(path); };
const auto readBytes = [](const QString& path) {
  return QByteArray::fromStdString(testing::readFile(path.toStdString()));
};
const auto fileObject = [](const QString& path) {
  return QJsonDocument::fromJson(readBytes(path)).object();
};
const auto logged = [](const log::Capture& capture, const QString& line) {
  return capture.contains(line.toStdString());
};

void writeFile(const QString& path, const QByteArray& contents) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
}

TEST(UserDefaults, FreshProfileReadsEveryDeclaredDefaultAndWritesNothing) {
  const TempDir dir;
  const QString path = qpath(dir / "config/zephro/defaults.json");
  UserDefaults defaults(path);

  EXPECT_EQ(defaults.value(defaults::fanPresets), std::nullopt);

  // A registered fallback answers plain reads but never reaches the file; a stored value wins.
  EXPECT_FALSE(defaults.boolValue("showIconInMenuBar"));
  defaults.registerDefaults({{"showIconInMenuBar", true}});
  EXPECT_TRUE(defaults.boolValue("showIconInMenuBar"));
  EXPECT_FALSE(QFile::exists(path)) << "registering must not write";
  defaults.setBool("showIconInMenuBar", false);
  EXPECT_FALSE(defaults.boolValue("showIconInMenuBar"));
  defaults.remove("showIconInMenuBar");
  EXPECT_TRUE(defaults.boolValue("showIconInMenuBar"));
  EXPECT_EQ(fileObject(path), QJsonObject{});
}

TEST(UserDefaults, ValuesKeepTheirTypesAcrossInstancesAnnounceRealChangesAndReplaceTheFile) {
  const TempDir dir;
  const QString path = qpath(dir / "defaults.json");
  const QByteArray binary("\x00\xff[\"x\"]\n\x7f", 9);
  {
    UserDefaults defaults(path);
    QSignalSpy changes(&defaults, &UserDefaults::valueChanged);
    defaults.setBool("useFahrenheit", true);
    defaults.setData("fanPresets", binary);
    defaults.setData("fanPresets", binary);
    defaults.setBool("hasSeenOnboarding", true);
    defaults.remove("hasSeenOnboarding");
    defaults.remove("hasSeenOnboarding");
    EXPECT_EQ(changes.count(), 4) << "rewriting the same value or removing twice is no change";
    // A stored value hides the fallback registered for it.
    defaults.registerDefaults({{"useFahrenheit", false}, {"showModeSymbols", true}});
    EXPECT_EQ(changes.count(), 5);
    EXPECT_EQ(changes.last().at(0).toString(), "showModeSymbols");
  }
  const UserDefaults reopened(path);
  EXPECT_TRUE(reopened.boolValue("useFahrenheit"));
  EXPECT_EQ(reopened.data("fanPresets"), binary);
  EXPECT_FALSE(reopened.hasStoredValue("hasSeenOnboarding"));
  // Each read answers only for its own type.
  EXPECT_EQ(reopened.string("fanPresets"), std::nullopt);

  // A reader that opened the file before a write keeps the whole old file: writes rename over it.
  const QByteArray before = readBytes(path);
  QFile reader(path);
  ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
  const QByteArray large(qsizetype{64} * 1024, 'x');
  UserDefaults(path).setData("fanPresets", large);
  EXPECT_EQ(reader.readAll(), before);
  EXPECT_EQ(UserDefaults(path).data("fanPresets"), large);
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
  EXPECT_TRUE(logged(capture, "[Zephro] Failed to save settings to " + path +
                                  ": cannot create the folder " + folder));
  EXPECT_FALSE(defaults.isPersisted());
  EXPECT_EQ(defaults.string("appearanceMode"), "light");

  ASSERT_TRUE(QFile::remove(folder));
  capture.clear();
  defaults.setBool("useFahrenheit", true);
  EXPECT_TRUE(capture.lines().empty());
  EXPECT_TRUE(defaults.isPersisted());
  EXPECT_EQ(fileObject(path), (QJsonObject{{"appearanceMode", "light"}, {"useFahrenheit", true}}));
}

// It may hold the user's settings; changes made meanwhile are laid over it once it reads again.
TEST(UserDefaults, AFileThatCannotBeReadIsLeftAloneUntilItCanBe) {
  const TempDir dir;
  ASSERT_TRUE(QDir().mkpath(qpath(dir / "folder")));
  EXPECT_EQ(readSettingsFile(qpath(dir / "folder")).error, "Is a directory");

  const QString path = qpath(dir / "defaults.json");
  const QByteArray contents(R"({"useFahrenheit": true, "appearanceMode": "dark", "x": false})");
  writeFile(path, contents);
  int failures = 2;
  const auto flakyReader = [&failures](const QString& file) {
    if (failures-- > 0)
      return SettingsFileRead{SettingsFileRead::Outcome::failed, {}, "Input/output error"};
    return readSettingsFile(file);
  };
  log::Capture capture;
  UserDefaults defaults(path, flakyReader);
  QSignalSpy changes(&defaults, &UserDefaults::valueChanged);
  EXPECT_FALSE(defaults.value(defaults::useFahrenheit));
  defaults.setString("appearanceMode", "light");
  EXPECT_FALSE(defaults.isPersisted());
  EXPECT_EQ(readBytes(path), contents);
  EXPECT_TRUE(logged(capture, "[Zephro] Settings file " + path +
                                  " could not be read (Input/output error); left it as it is"));

  capture.clear();
  defaults.remove("x");
  EXPECT_TRUE(capture.lines().empty());
  EXPECT_TRUE(defaults.isPersisted());
  EXPECT_EQ(fileObject(path), (QJsonObject{{"useFahrenheit", true}, {"appearanceMode", "light"}}));
  EXPECT_TRUE(defaults.value(defaults::useFahrenheit));
  ASSERT_EQ(changes.count(), 2);
  EXPECT_EQ(changes.last().at(0).toString(), "useFahrenheit");
}

// Never over an earlier one; entries of shapes this program does not write stay where they are.
TEST(UserDefaults, ContentThatDoesNotParseIsMovedAsideUnderANewNumberedName) {
  const TempDir dir;
  const QString path = qpath(dir / "defaults.json");
  const std::pair<QByteArray, QString> broken[] = {{"[true]", "not a JSON object"},
                                                   {R"({"useFahrenheit": tru)", "illegal value"}};
  for (int number = 1; const auto& [contents, reason] : broken) {
    const QString kept = path + ".corrupt-" + QString::number(number++);
    writeFile(path, contents);
    log::Capture capture;
    UserDefaults defaults(path);
    EXPECT_TRUE(logged(capture, "[Zephro] Settings file " + path + " could not be parsed (" +
                                    reason + "); kept it as " + kept));
    defaults.setBool("useFahrenheit", true);
    EXPECT_EQ(fileObject(path), (QJsonObject{{"useFahrenheit", true}}));
  }
  for (int number = 1; const auto& [contents, reason] : broken)
    EXPECT_EQ(readBytes(path + ".corrupt-" + QString::number(number++)), contents);

  // A number and broken base64 read as absent but are carried along by every write.
  writeFile(path, R"({"count": 3, "blob": {"data": "!!"}})");
  UserDefaults odd(path);
  EXPECT_FALSE(odd.object("count").isValid());
  EXPECT_EQ(odd.data("blob"), std::nullopt);
  odd.setBool("useFahrenheit", false);
  EXPECT_EQ(
      fileObject(path),
      (QJsonObject{{"count", 3}, {"blob", QJsonObject{{"data", "!!"}}}, {"useFahrenheit", false}}));

  // Content that can be neither parsed nor moved aside is left as it is.
  const QString longPath = qpath(dir / std::string(250, 'x'));
  writeFile(longPath, "[]");
  log::Capture capture;
  UserDefaults stuck(longPath);
  stuck.setBool("useFahrenheit", true);
  EXPECT_EQ(readBytes(longPath), QByteArray("[]"));
  EXPECT_TRUE(logged(capture, "[Zephro] Settings file " + longPath +
                                  " could not be parsed (not a JSON object) nor moved aside (File "
                                  "name too long); left it as it is"));
}

}  // namespace
}  // namespace zephro
