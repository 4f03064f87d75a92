#include <gtest/gtest.h>
#include <QRegularExpression>

#include <limits>
#include <map>
#include <regex>
#include <set>

#include "app/ui/AppLanguage.h"
#include "app/ui/LocalizedFormat.h"
#include "platform/bundle/StringsTable.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

namespace fs = std::filesystem;

// The application's QML and C++ sources, one after another.
std::string appSources() {
  std::string all;
  for (const auto& entry : fs::recursive_directory_iterator(testing::sourcePath("app"))) {
    const auto extension = entry.path().extension();
    if (extension != ".qml" && extension != ".cpp" && extension != ".h") continue;
    all += testing::readFile(entry.path());
  }
  return all;
}

// Whether the sources name a key: quoted whole, or by a quoted prefix completed at run time
// ("appearance_" + segment).
bool named(const std::string& sources, const std::string& key) {
  if (sources.find('"' + key + '"') != std::string::npos) return true;
  for (auto cut = key.rfind('_'); cut != std::string::npos && cut > 0;
       cut = key.rfind('_', cut - 1)) {
    if (sources.find('"' + key.substr(0, cut + 1) + '"') != std::string::npos) return true;
  }
  return false;
}

// How often a text uses each of three arguments. The arguments are texts, which number
// placeholders show as they are, so "%2$@ … %1$ld" and "%ld … %@" read the same.
std::string argumentsUsed(const std::string& value) {
  const QStringList markers{"{1}", "{2}", "{3}"};
  const QString text = localizedFormat(QString::fromStdString(value), {"{1}", "{2}", "{3}"});
  std::string used;
  for (const QString& marker : markers) used += std::to_string(text.count(marker));
  return used;
}

// The placeholders the tables write; anything else after a '%' (such as "100% sure", which
// reads as "% s") takes an argument no caller passes.
bool onlyKnownPlaceholders(const std::string& value) {
  static const QRegularExpression known(QStringLiteral(R"(%(?:[1-9]\$)?(?:@|l?d)|%%)"));
  return !QString::fromStdString(value).remove(known).contains(u'%');
}

std::map<std::string, bundle::StringsTable> shippedTables() {
  std::map<std::string, bundle::StringsTable> tables;
  for (const auto& entry : fs::directory_iterator(testing::sourcePath("app/resources"))) {
    if (entry.path().extension() != ".lproj") continue;
    tables.emplace(entry.path().stem().string(),
                   bundle::StringsTable::load(entry.path() / "Localizable.strings"));
  }
  return tables;
}

// English is the reference: it holds every key the sources look up and none they do not
// name; every other language holds exactly its keys, each using the arguments English uses.
TEST(StringTablesTest, EveryLanguageHasExactlyTheKeysAndPlaceholdersOfTheSources) {
  const auto tables = shippedTables();
  std::set<std::string> languages;
  for (const AppLanguage language : kAllAppLanguages) {
    if (language != AppLanguage::system) languages.insert(rawValue(language).toStdString());
  }
  std::set<std::string> folders;
  for (const auto& [code, table] : tables) folders.insert(code);
  ASSERT_EQ(folders, languages) << "one lproj folder per language, and no other";

  const auto& reference = tables.at("en");
  const std::string sources = appSources();
  static const std::regex lookup(
      R"re(\b(?:string|format|text|systemString)\(\s*(?:QStringLiteral\()?"([A-Za-z][a-z0-9]*(?:_[a-z0-9]+)+)")re");
  for (auto it = std::sregex_iterator(sources.begin(), sources.end(), lookup);
       it != std::sregex_iterator(); ++it) {
    EXPECT_NE(reference.find((*it)[1].str()), nullptr) << "missing key " << (*it)[1];
  }
  for (const auto& [key, value] : reference.entries()) {
    EXPECT_TRUE(named(sources, key)) << "key no source names: " << key;
  }
  for (const auto& [code, table] : tables) {
    SCOPED_TRACE(code);
    EXPECT_FALSE(table.error().has_value())
        << "line " << table.error()->line << ": " << table.error()->message;
    for (const auto& [key, value] : table.entries()) {
      EXPECT_NE(reference.find(key), nullptr) << "extra key " << key;
    }
    for (const auto& [key, referenceValue] : reference.entries()) {
      const std::string* value = table.find(key);
      if (value == nullptr) {
        ADD_FAILURE() << "missing key " << key;
        continue;
      }
      EXPECT_FALSE(value->empty()) << key;
      EXPECT_TRUE(onlyKnownPlaceholders(*value)) << key << " = " << *value;
      EXPECT_EQ(argumentsUsed(*value), argumentsUsed(referenceValue)) << key << " = " << *value;
    }
  }
}

QString fmt(const char* format, const QVariantList& arguments) {
  return localizedFormat(QString::fromUtf8(format), arguments);
}

TEST(LocalizedFormatTest, FillsEveryPlaceholderKindTheTablesUse) {
  EXPECT_EQ(fmt("%d|%ld|%lld|%qd|%zd", {1, -2, Q_INT64_C(-9000000000), 6, 7}),
            "1|-2|-9000000000|6|7");
  EXPECT_EQ(fmt("%llu %u %x %#o", {std::numeric_limits<qulonglong>::max(), -1, 255, 8}),
            "18446744073709551615 18446744073709551615 ff 010");
  EXPECT_EQ(fmt("[%5ld] [%-5ld] [%05ld] [%+ld] [%.3ld]", {42, 42, -42, 42, 7}),
            "[   42] [42   ] [-0042] [+42] [007]");
  EXPECT_EQ(fmt("Downloading Update… %ld%%", {57}), "Downloading Update… 57%");
  EXPECT_EQ(fmt("Update %@ Available, %@", {QStringLiteral("1.2.3"), true}),
            "Update 1.2.3 Available, true");
  EXPECT_EQ(fmt("[%6@] [%.2@]", {QStringLiteral("ab"), QStringLiteral("Zephro")}), "[    ab] [Ze]");
  EXPECT_EQ(fmt("%.1f %e %08.2f", {2.26, 1234.5, -3.14159}), "2.3 1.234500e+03 -0003.14");
  EXPECT_EQ(fmt("%c%C%c", {65, 0x1F300, 0xD800}), "A🌀\uFFFD");
  EXPECT_EQ(fmt("%@", {QVariant()}), "(null)");
  // Positional arguments may be reordered and repeated.
  EXPECT_EQ(fmt("%2$@ läuft mit %1$ld U/min", {2400, QStringLiteral("Lüfter")}),
            "Lüfter läuft mit 2400 U/min");
  EXPECT_EQ(fmt("%1$@ %1$@", {QStringLiteral("again")}), "again again");
  EXPECT_EQ(localizedFormat(QStringLiteral("%ld RPM, %@"), 2400, QStringLiteral("57°C")),
            "2400 RPM, 57°C");
}

TEST(LocalizedFormatTest, WrongOrMissingArgumentsNeverCrash) {
  // A placeholder without its argument stays visible as written; extras are ignored.
  EXPECT_EQ(fmt("%1$ld to %2$ld RPM", {1200}), "1200 to %2$ld RPM");
  EXPECT_EQ(fmt("Version %@", {QStringLiteral("1.0"), 5}), "Version 1.0");
  // An argument of the wrong kind shows as its text; decimals are cut for integers.
  EXPECT_EQ(fmt("Fan %ld", {QStringLiteral("two")}), "Fan two");
  EXPECT_EQ(fmt("%ld%%", {99.9}), "99%");
  EXPECT_EQ(fmt("%ld", {-1e300}), "-1e+300");
  // What is not a placeholder is copied as it is, and never reads past the end.
  // "% s" is a space-flagged text placeholder, which is why the tables write "%%".
  EXPECT_EQ(fmt("100% sure", {QStringLiteral("!")}), "100!ure");
  EXPECT_EQ(fmt("%y %n %0$d %*d", {1, 2}), "%y %n %0$d %*d");
  EXPECT_EQ(fmt("ends with %l", {1}), "ends with %l");
  EXPECT_EQ(fmt("%99999d|%.99999f|%99999999999$d", {1, 2.0, 3}), "%99999d|%.99999f|%99999999999$d");
  EXPECT_EQ(fmt("%1000d", {1}).size(), 1000);
}

}  // namespace
}  // namespace zephro
