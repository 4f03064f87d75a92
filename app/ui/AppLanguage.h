#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <array>
#include <optional>

namespace zephro {

// The interface languages the application ships, in the order the language list shows them.
// Stored and passed around as its raw value, which is also the name of its lproj folder.
enum class AppLanguage {
  system,
  english,
  filipino,
  spanish,
  french,
  german,
  japanese,
  chineseSimplified,
  korean,
};

inline constexpr std::array kAllAppLanguages{
    AppLanguage::system,   AppLanguage::english,
    AppLanguage::filipino, AppLanguage::spanish,
    AppLanguage::french,   AppLanguage::german,
    AppLanguage::japanese, AppLanguage::chineseSimplified,
    AppLanguage::korean,
};

[[nodiscard]] QString rawValue(AppLanguage language);

// The case with this raw value (exact, case-sensitive), or nothing.
[[nodiscard]] std::optional<AppLanguage> appLanguageFromRawValue(QStringView raw);

// The language's name in its own script ("Deutsch", "日本語"). Empty for `system`, whose
// name is the looked-up "language_system" text.
[[nodiscard]] QString nativeName(AppLanguage language);

// The lproj code that `system` stands for: the first preferred language that equals a
// supported code, or starts with one followed by "-" ("en-GB" gives "en", "zh-Hans-CN"
// gives "zh-Hans", "zh-Hant-TW" gives nothing); "en" when none fits.
[[nodiscard]] QString bestSupportedLanguageCode(const QStringList& preferredLanguages);

}  // namespace zephro
