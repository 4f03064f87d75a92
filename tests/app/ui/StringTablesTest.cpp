#include <gtest/gtest.h>
#include <QRegularExpression>

#include <map>
#include <regex>
#include <set>
#include <string>

#include "app/ui/AppLanguage.h"
#include "app/ui/LocalizedFormat.h"
#include "platform/bundle/StringsTable.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

namespace fs = std::filesystem;

// The texts that take arguments, with the arguments their callers pass, in order: 'i' an
// integer, '@' a text. Every other text takes none.
const std::map<std::string, std::string> kArguments{
    {"popover_fan_index", "i"},
    {"popover_update_available", "@"},
    {"popover_downloading_update_progress", "i"},
    {"popover_update_now", "@"},
    {"preset_range_rpm", "ii"},
    {"about_version", "@"},
    {"intent_dialog_set_mode", "@"},
    {"intent_dialog_status", "i@"},
    {"intent_dialog_increase", "i"},
    {"intent_dialog_decrease", "i"},
    {"intent_error_preset_not_found", "@"},
};

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

// The arguments a text's placeholders consume, by position: "i@" for "%ld … %@", also when
// written "%2$@ … %1$ld". "!" marks a '%' that is no placeholder, or a gap or clash of kinds.
std::string argumentKinds(const std::string& text) {
  static const QRegularExpression placeholder(
      QStringLiteral(R"(%(?:([1-9][0-9]*)\$)?[-+ 0#]*[0-9]*(?:\.[0-9]+)?(?:hh|h|ll|l|q|z)?)"
                     R"(([@diuxX%]))"));
  const QString value = QString::fromStdString(text);
  std::map<int, char> kinds;
  int next = 1;
  qsizetype consumedUpTo = 0;
  std::string problems;
  for (auto it = placeholder.globalMatch(value); it.hasNext();) {
    const auto match = it.next();
    if (value.mid(consumedUpTo, match.capturedStart() - consumedUpTo).contains(u'%')) {
      problems += '!';
    }
    consumedUpTo = match.capturedEnd();
    const QChar conversion = match.captured(2).at(0);
    if (conversion == u'%') continue;
    const int position = match.captured(1).isEmpty() ? next++ : match.captured(1).toInt();
    const char kind = conversion == u'@' ? '@' : 'i';
    if (kinds.contains(position) && kinds[position] != kind) problems += '!';
    kinds[position] = kind;
  }
  if (value.mid(consumedUpTo).contains(u'%')) problems += '!';
  std::string out;
  int expected = 1;
  for (const auto& [position, kind] : kinds) {
    if (position != expected++) problems += '!';
    out += kind;
  }
  return out + problems;
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

TEST(StringTablesTest, PlaceholderCheckCatchesMismatches) {
  EXPECT_EQ(argumentKinds("%2$@ – %1$ld RPM"), "i@");
  EXPECT_EQ(argumentKinds("%ld%% done, 100 %% sure"), "i");
  EXPECT_EQ(argumentKinds("100% sure"), "!");
  EXPECT_EQ(argumentKinds("%2$ld only"), "i!");
  EXPECT_EQ(argumentKinds("%1$ld %1$@"), "@!");
  EXPECT_EQ(argumentKinds("%s"), "!");
}

// English is the reference: it holds every key the sources look up and none they do not
// name; every other language holds exactly its keys, with the placeholders the callers fill.
// Formatted with those arguments, nothing but escaped percent signs is left over.
TEST(StringTablesTest, EveryLanguageHasExactlyTheKeysAndPlaceholdersTheCallersUse) {
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
      const auto argument = kArguments.find(key);
      const std::string kinds = argument == kArguments.end() ? "" : argument->second;
      EXPECT_FALSE(value->empty()) << key;
      EXPECT_EQ(argumentKinds(*value), kinds) << key << " = " << *value;

      QVariantList arguments;
      for (const char kind : kinds) {
        arguments << (kind == 'i' ? QVariant(4242) : QVariant(QStringLiteral("ARG")));
      }
      const QString text = localizedFormat(QString::fromStdString(*value), arguments);
      EXPECT_EQ(text.count(u'%'), QString::fromStdString(*value).count(QStringLiteral("%%")))
          << key << " = " << text.toStdString();
      EXPECT_EQ(text.count(QStringLiteral("4242")), std::count(kinds.begin(), kinds.end(), 'i'))
          << key;
      EXPECT_EQ(text.count(QStringLiteral("ARG")), std::count(kinds.begin(), kinds.end(), '@'))
          << key;
    }
  }
}

}  // namespace
}  // namespace zephro
