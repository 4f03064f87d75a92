#include "app/ui/LocalizationManager.h"

#include <gtest/gtest.h>
#include <QSignalSpy>

#include <memory>

#include "platform/defaults/UserDefaults.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

namespace fs = std::filesystem;

// A copy of the application's real string tables and a settings file, both in a temp dir.
class LocalizationManagerTest : public ::testing::Test {
 protected:
  LocalizationManagerTest() {
    fs::create_directories(resources);
    for (const auto& entry : fs::directory_iterator(testing::sourcePath("app/resources"))) {
      if (entry.path().extension() == ".lproj") {
        fs::copy(entry.path(), resources / entry.path().filename(), fs::copy_options::recursive);
      }
    }
  }

  std::unique_ptr<LocalizationManager> makeManager() {
    return std::make_unique<LocalizationManager>(
        defaults, [this] { return preferred; }, resources);
  }

  // Read back from the file, as the next start of the application would.
  QString storedLanguage() const {
    return UserDefaults(settingsFile).string("appLanguage").value_or("<absent>");
  }

  testing::TempDir dir;
  fs::path resources = dir / "resources";
  QString settingsFile = QString::fromStdString((dir / "settings.json").string());
  UserDefaults defaults{settingsFile};
  QStringList preferred{QStringLiteral("en-US")};
};

TEST_F(LocalizationManagerTest, TheStoredLanguageOrTheDesktopsSelectsTheTable) {
  defaults.setString(QStringLiteral("appLanguage"), QStringLiteral("fil"));
  const auto manager = makeManager();
  EXPECT_EQ(manager->language(), AppLanguage::filipino);
  EXPECT_EQ(manager->bundle().bundlePath(), resources / "fil.lproj");
  EXPECT_EQ(manager->string(QStringLiteral("popover_about")), "Tungkol sa Zephro");

  // Unknown stored text means the desktop's languages: the table follows the best match.
  defaults.setString(QStringLiteral("appLanguage"), QStringLiteral("FIL"));
  preferred = {QStringLiteral("pt-BR"), QStringLiteral("de-DE")};
  const auto fallback = makeManager();
  EXPECT_EQ(fallback->language(), AppLanguage::system);
  EXPECT_EQ(fallback->string(QStringLiteral("popover_about")), "Über Zephro");

  defaults.remove(QStringLiteral("appLanguage"));
  preferred = {QStringLiteral("ko-KR")};
  const auto fresh = makeManager();
  EXPECT_EQ(fresh->language(), AppLanguage::system);
  EXPECT_EQ(fresh->string(QStringLiteral("popover_close")), "Zephro 종료");
  // Reading never stores anything: the key stays absent until the user picks a language.
  EXPECT_EQ(storedLanguage(), "<absent>");

  // A missing table means the application's resources and the desktop's own choice among the
  // tables that exist.
  fs::remove_all(resources / "de.lproj");
  defaults.setString(QStringLiteral("appLanguage"), QStringLiteral("de"));
  preferred = {QStringLiteral("fr-CA")};
  const auto german = makeManager();
  EXPECT_EQ(german->language(), AppLanguage::german);
  EXPECT_EQ(german->bundle().bundlePath(), resources);
  EXPECT_EQ(german->string(QStringLiteral("popover_about")), "À propos de Zephro");

  // Literal texts follow the desktop's choice, not the language picked in the application.
  const QString approval = QStringLiteral(
      "Approve Zephro's helper in System Settings → General → Login Items, then come back here.");
  german->setLanguage(AppLanguage::korean);
  EXPECT_EQ(german->systemString(approval),
            "Autorisez l’assistant de Zephro lorsque le système demande le mot de passe d’un "
            "administrateur, puis revenez ici.");
  EXPECT_EQ(german->string(QStringLiteral("popover_about")), "Zephro에 관하여");
}

TEST_F(LocalizationManagerTest, ChoosingALanguageIsStoredBeforeObserversLookUpTexts) {
  const auto manager = makeManager();
  QSignalSpy changes(manager.get(), &LocalizationManager::languageChanged);
  QStringList seen;
  QObject::connect(manager.get(), &LocalizationManager::languageChanged, [&] {
    seen << defaults.string(QStringLiteral("appLanguage")).value_or(QString()) + u'|' +
                manager->string(QStringLiteral("popover_about")) + u'|' + manager->languageName();
  });

  manager->setLanguage(AppLanguage::german);
  EXPECT_EQ(seen, QStringList{"de|Über Zephro|Deutsch"});
  EXPECT_EQ(storedLanguage(), "de");

  // The same choice again changes nothing anyone shows.
  manager->setLanguage(AppLanguage::german);
  manager->setLanguageRawValue(QStringLiteral("xx"));
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(storedLanguage(), "de");

  preferred = {QStringLiteral("ko-KR")};
  manager->setLanguage(AppLanguage::system);
  EXPECT_EQ(storedLanguage(), "system");
  EXPECT_EQ(manager->languageCode(), "ko");
  EXPECT_EQ(seen.last(), "system|Zephro에 관하여|시스템 언어");

  // A change of the desktop's languages shows at the next resolution.
  preferred = {QStringLiteral("fr-FR")};
  manager->setLanguage(AppLanguage::system);
  EXPECT_EQ(seen.last(), "system|À propos de Zephro|Langue du système");
  EXPECT_EQ(changes.count(), 3);
  EXPECT_EQ(manager->revision(), 3);

  // The next start reads the stored choice.
  manager->setLanguage(AppLanguage::chineseSimplified);
  EXPECT_EQ(makeManager()->language(), AppLanguage::chineseSimplified);
}

// Only the exact stored codes are languages; the desktop's preferred languages pick the first
// with a supported prefix.
TEST(AppLanguageTest, CodesAndPreferredLanguagesResolveToSupportedLanguages) {
  for (const AppLanguage language : kAllAppLanguages) {
    EXPECT_EQ(appLanguageFromRawValue(rawValue(language)), language);
  }
  for (const char* unknown : {"xx", "", "EN", "zh-hans", "zh"}) {
    EXPECT_EQ(appLanguageFromRawValue(QString::fromUtf8(unknown)), std::nullopt) << unknown;
  }
  const std::pair<QStringList, const char*> cases[]{
      {{"pt-BR", "de-DE"}, "de"},   {{"zh-Hans-CN"}, "zh-Hans"}, {{"zh-Hant-TW"}, "en"}, {{}, "en"},
      {{"fi-FI", "ko"}, "ko"},       // "fi" is not a prefix match for "fil"
      {{"english", "fr-CA"}, "fr"},  // a candidate must be followed by "-"
  };
  for (const auto& [preferred, code] : cases) {
    EXPECT_EQ(bestSupportedLanguageCode(preferred), code) << preferred.join(',').toStdString();
  }
}

}  // namespace
}  // namespace zephro
