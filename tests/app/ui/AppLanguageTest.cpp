#include "app/ui/AppLanguage.h"

#include <gtest/gtest.h>

namespace zephro {
namespace {

TEST(AppLanguageTest, CasesRawValuesAndNamesInListOrder) {
  QStringList raws;
  QStringList names;
  for (const AppLanguage language : kAllAppLanguages) {
    raws << rawValue(language);
    names << nativeName(language);
    EXPECT_EQ(appLanguageFromRawValue(rawValue(language)), language);
  }
  EXPECT_EQ(raws, (QStringList{"system", "en", "fil", "es", "fr", "de", "ja", "zh-Hans", "ko"}));
  EXPECT_EQ(names, (QStringList{"", "English", "Filipino", "Español", "Français", "Deutsch",
                                "日本語", "简体中文", "한국어"}));

  for (const char* unknown : {"xx", "", "EN", "zh-hans", "zh", "System", " en"}) {
    EXPECT_EQ(appLanguageFromRawValue(QString::fromUtf8(unknown)), std::nullopt) << unknown;
  }
}

TEST(AppLanguageTest, SystemMatchesTheFirstPreferredLanguageWithASupportedPrefix) {
  struct Case {
    QStringList preferred;
    const char* code;
  };
  const std::vector<Case> cases{
      {{"pt-BR", "de-DE"}, "de"},
      {{"pt-BR"}, "en"},
      {{"zh-Hans-CN"}, "zh-Hans"},
      {{"zh-Hant-TW"}, "en"},
      {{"zh-Hant-TW", "ja-JP"}, "ja"},
      {{"zh"}, "en"},
      {{}, "en"},
      {{"en-GB", "de"}, "en"},
      {{"fil-PH"}, "fil"},
      {{"fi-FI", "ko"}, "ko"},  // "fi" is not a prefix match for "fil"
      {{"es-419"}, "es"},
      {{"english", "fr-CA"}, "fr"},  // a candidate must be followed by "-"
      {{"DE-de", "ko-KR"}, "ko"},    // the comparison is exact
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bestSupportedLanguageCode(c.preferred), c.code)
        << c.preferred.join(',').toStdString();
  }
}

}  // namespace
}  // namespace zephro
