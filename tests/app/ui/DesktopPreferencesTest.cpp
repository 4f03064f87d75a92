#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <vector>

#include "app/ui/LocalizationManager.h"
#include "app/ui/ReduceMotion.h"
#include "platform/defaults/UserDefaults.h"
#include "tests/support/TempDir.h"

namespace zephro {
namespace {

namespace fs = std::filesystem;

// A copy of the application's real resources and a settings file, both in a temp dir.
class LocalizationManagerTest : public ::testing::Test {
 protected:
  LocalizationManagerTest() {
    fs::copy(testing::sourcePath("app/resources"), resources, fs::copy_options::recursive);
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
  EXPECT_EQ(manager->string(QStringLiteral("popover_about")), "Tungkol sa Zephro");

  // Unknown stored text means the desktop's languages, and reading never rewrites it.
  defaults.setString(QStringLiteral("appLanguage"), QStringLiteral("FIL"));
  preferred = {QStringLiteral("ko-KR")};
  const auto fallback = makeManager();
  EXPECT_EQ(fallback->language(), AppLanguage::system);
  EXPECT_EQ(fallback->string(QStringLiteral("popover_close")), "Zephro 종료");
  EXPECT_EQ(storedLanguage(), "FIL");

  // A missing table means the desktop's own choice among the tables that exist.
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

  // The desktop's preferred languages pick the first with a supported prefix.
  const std::pair<QStringList, const char*> cases[]{
      {{"pt-BR", "de-DE"}, "de"},   {{"zh-Hans-CN"}, "zh-Hans"}, {{"zh-Hant-TW"}, "en"}, {{}, "en"},
      {{"fi-FI", "ko"}, "ko"},       // "fi" is not a prefix match for "fil"
      {{"english", "fr-CA"}, "fr"},  // a candidate must be followed by "-"
  };
  for (const auto& [languages, code] : cases) {
    EXPECT_EQ(bestSupportedLanguageCode(languages), code) << languages.join(',').toStdString();
  }
}

// The same choice again changes nothing shown; new desktop languages show at the next resolution.
TEST_F(LocalizationManagerTest, ChoosingALanguageIsStoredBeforeObserversLookUpTexts) {
  const auto manager = makeManager();
  QStringList seen;
  QObject::connect(manager.get(), &LocalizationManager::languageChanged, [&] {
    seen << QString::number(manager->revision()) + u'|' +
                defaults.string(QStringLiteral("appLanguage")).value_or(QString()) + u'|' +
                manager->string(QStringLiteral("popover_about")) + u'|' + manager->languageName();
  });
  manager->setLanguage(AppLanguage::german);
  manager->setLanguage(AppLanguage::german);
  manager->setLanguageRawValue(QStringLiteral("xx"));
  EXPECT_EQ(storedLanguage(), "de");
  preferred = {QStringLiteral("ko-KR")};
  manager->setLanguage(AppLanguage::system);
  EXPECT_EQ(storedLanguage(), "system");
  EXPECT_EQ(manager->languageCode(), "ko");
  preferred = {QStringLiteral("fr-FR")};
  manager->setLanguage(AppLanguage::system);
  EXPECT_EQ(seen, (QStringList{"1|de|Über Zephro|Deutsch", "2|system|Zephro에 관하여|시스템 언어",
                               "3|system|À propos de Zephro|Langue du système"}));
}

// The settings are read from the environment and kdeglobals.
TEST(ReduceMotion, TheOverrideDecidesThenKdeThenGnome) {
  const std::vector<std::pair<MotionSettings, bool>> cases{
      {{}, false},
      {{.override = "1", .kdeAnimationDurationFactor = 1.0, .gnomeEnableAnimations = true}, true},
      {{.override = "0", .kdeAnimationDurationFactor = 0.0, .gnomeEnableAnimations = false}, false},
      // Anything else in the variable is no override.
      {{.override = "yes", .kdeAnimationDurationFactor = 0.0}, true},
      {{.kdeAnimationDurationFactor = 0.5}, false},
      {{.gnomeEnableAnimations = false}, true},
      {{.gnomeEnableAnimations = true}, false},
  };
  for (const auto& [settings, reduces] : cases) {
    EXPECT_EQ(reducesMotion(settings), reduces) << settings.override.value_or("-").toStdString();
  }

  const testing::TempDir config;
  std::ofstream(config / "kdeglobals") << "[KDE]\nAnimationDurationFactor=0\n";
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.path().string()));

  qputenv("ZEPHRO_REDUCE_MOTION", "0");
  const MotionSettings forced = desktopMotionSettings();
  EXPECT_EQ(forced.override, "0");
  EXPECT_EQ(forced.kdeAnimationDurationFactor, std::nullopt) << "an override is not second-guessed";

  qunsetenv("ZEPHRO_REDUCE_MOTION");
  const MotionSettings desktop = desktopMotionSettings();
  EXPECT_EQ(desktop.override, std::nullopt);
  EXPECT_EQ(desktop.kdeAnimationDurationFactor, 0.0);
  EXPECT_TRUE(reducesMotion(desktop));
  qunsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace zephro
