#include "app/ui/AppLanguage.h"

#include <gtest/gtest.h>

namespace zephro {
namespace {

TEST(AppLanguageTest, OnlyTheExactStoredCodesAreLanguages) {
  for (const AppLanguage language : kAllAppLanguages) {
    EXPECT_EQ(appLanguageFromRawValue(rawValue(language)), language);
  }
  for (const char* unknown : {"xx", "", "EN", "zh-hans", "zh"}) {
    EXPECT_EQ(appLanguageFromRawValue(QString::fromUtf8(unknown)), std::nullopt) << unknown;
  }
}

TEST(AppLanguageTest, SystemMatchesTheFirstPreferredLanguageWithASupportedPrefix) {
  struct Case {
    QStringList preferred;
    const char* code;
  };
  const std::vector<Case> cases{
      {{"pt-BR", "de-DE"}, "de"},   {{"zh-Hans-CN"}, "zh-Hans"}, {{"zh-Hant-TW"}, "en"}, {{}, "en"},
      {{"fi-FI", "ko"}, "ko"},       // "fi" is not a prefix match for "fil"
      {{"english", "fr-CA"}, "fr"},  // a candidate must be followed by "-"
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bestSupportedLanguageCode(c.preferred), c.code)
        << c.preferred.join(',').toStdString();
  }
}

}  // namespace
}  // namespace zephro
