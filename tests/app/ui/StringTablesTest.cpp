#include <gtest/gtest.h>
#include <QRegularExpression>

#include <map>
#include <set>
#include <string>

#include "app/ui/AppLanguage.h"
#include "app/ui/LocalizedFormat.h"
#include "platform/bundle/StringsTable.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

namespace fs = std::filesystem;

// Every key the application looks up, with the arguments its caller passes, in order:
// 'i' an integer, '@' a text. Most take none.
const std::map<std::string, std::string>& requiredKeys() {
  static const std::map<std::string, std::string> keys = [] {
    std::map<std::string, std::string> all{
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
    for (const char* key :
         {// Literal texts the popover uses as keys.
          "Zephro",
          // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one key split over two lines
          "Approve Zephro's helper in System Settings → General → Login Items, then come back "
          "here.",
          // Popover.
          "popover_mode_system", "popover_mode_manual", "popover_mode_max", "popover_auto",
          "popover_manual", "popover_max", "popover_preset", "popover_selected",
          "popover_not_selected", "popover_connecting_helper", "popover_repair_helper",
          "popover_repairing", "popover_open_login_items", "popover_enable_helper_desc",
          "popover_enable", "popover_enabling", "popover_no_fan", "popover_no_fan_air",
          "popover_add_preset", "popover_options", "popover_language", "popover_send_feedback",
          "popover_about", "popover_close", "popover_show_rpm", "popover_show_temp",
          "popover_show_icon", "popover_launch_at_login", "popover_use_fahrenheit",
          "popover_fine_tune", "popover_show_mode_symbols", "popover_disable_liquid_glass",
          "popover_appearance",
          // Update row.
          "popover_check_for_updates", "popover_checking_for_updates", "popover_up_to_date",
          "popover_downloading_update", "popover_update_failed", "popover_installing_update",
          // Appearance control and language list.
          "appearance_system", "appearance_light", "appearance_dark", "language_system",
          // Preset manager window and its symbol picker.
          "preset_sidebar_title", "preset_nothing_to_show", "preset_none_yet", "preset_new",
          "preset_add", "preset_add_help", "preset_delete", "preset_delete_help",
          "preset_delete_context", "preset_selected_a11y", "preset_name_label",
          "preset_name_placeholder", "preset_icon_label", "preset_type_label", "preset_percentage",
          "preset_rpm", "preset_value_label", "preset_range_percentage", "preset_save",
          "symbol_category_airflow", "symbol_category_devices", "symbol_category_people",
          "symbol_category_objects", "symbol_clear", "symbol_emoji",
          // Onboarding and About windows.
          "onboarding_fans_title", "onboarding_fans_subtitle", "onboarding_presets_title",
          "onboarding_presets_subtitle", "onboarding_siri_title", "onboarding_siri_subtitle",
          "onboarding_menubar_title", "onboarding_menubar_subtitle", "onboarding_page3_title",
          "onboarding_page3_subtitle", "onboarding_back", "onboarding_continue", "about_copyright",
          "about_author",
          // Feedback window.
          "feedback_title", "feedback_placeholder_bug", "feedback_placeholder_idea",
          "feedback_placeholder_other", "feedback_email_placeholder", "feedback_disclaimer",
          "feedback_sent_success", "feedback_sent_failure", "feedback_send",
          // Automation actions.
          "intent_error_app_not_ready", "intent_error_helper_unreachable"}) {
      all.emplace(key, "");
    }
    return all;
  }();
  return keys;
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

// Each table must hold every required key, no other, with the placeholders its callers
// fill; formatted with those arguments, nothing but escaped percent signs is left over.
TEST(StringTablesTest, EveryLanguageHasExactlyTheKeysAndPlaceholdersTheCallersUse) {
  const auto tables = shippedTables();
  std::set<std::string> languages;
  for (const AppLanguage language : kAllAppLanguages) {
    if (language != AppLanguage::system) languages.insert(rawValue(language).toStdString());
  }
  std::set<std::string> folders;
  for (const auto& [code, table] : tables) folders.insert(code);
  EXPECT_EQ(folders, languages) << "one lproj folder per language, and no other";

  const auto& required = requiredKeys();
  for (const auto& [code, table] : tables) {
    SCOPED_TRACE(code);
    EXPECT_FALSE(table.error().has_value())
        << "line " << table.error()->line << ": " << table.error()->message;
    for (const auto& [key, value] : table.entries()) {
      EXPECT_TRUE(required.contains(key)) << "extra key " << key;
    }
    for (const auto& [key, kinds] : required) {
      const std::string* value = table.find(key);
      if (value == nullptr) {
        ADD_FAILURE() << "missing key " << key;
        continue;
      }
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
