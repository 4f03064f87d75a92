#include "app/ui/AppLanguage.h"

namespace zephro {

namespace {

constexpr auto kFallbackCode = "en";

}  // namespace

QString rawValue(AppLanguage language) {
  switch (language) {
    case AppLanguage::system:
      return QStringLiteral("system");
    case AppLanguage::english:
      return QStringLiteral("en");
    case AppLanguage::filipino:
      return QStringLiteral("fil");
    case AppLanguage::spanish:
      return QStringLiteral("es");
    case AppLanguage::french:
      return QStringLiteral("fr");
    case AppLanguage::german:
      return QStringLiteral("de");
    case AppLanguage::japanese:
      return QStringLiteral("ja");
    case AppLanguage::chineseSimplified:
      return QStringLiteral("zh-Hans");
    case AppLanguage::korean:
      return QStringLiteral("ko");
  }
  return QStringLiteral("system");
}

std::optional<AppLanguage> appLanguageFromRawValue(QStringView raw) {
  for (const AppLanguage language : kAllAppLanguages) {
    if (rawValue(language) == raw) return language;
  }
  return std::nullopt;
}

QString nativeName(AppLanguage language) {
  switch (language) {
    case AppLanguage::system:
      return {};
    case AppLanguage::english:
      return QStringLiteral("English");
    case AppLanguage::filipino:
      return QStringLiteral("Filipino");
    case AppLanguage::spanish:
      return QStringLiteral("Español");
    case AppLanguage::french:
      return QStringLiteral("Français");
    case AppLanguage::german:
      return QStringLiteral("Deutsch");
    case AppLanguage::japanese:
      return QStringLiteral("日本語");
    case AppLanguage::chineseSimplified:
      return QStringLiteral("简体中文");
    case AppLanguage::korean:
      return QStringLiteral("한국어");
  }
  return {};
}

QString bestSupportedLanguageCode(const QStringList& preferredLanguages) {
  for (const QString& preferred : preferredLanguages) {
    for (const AppLanguage language : kAllAppLanguages) {
      if (language == AppLanguage::system) continue;
      QString code = rawValue(language);
      if (preferred == code || preferred.startsWith(code + u'-')) return code;
    }
  }
  return QString::fromLatin1(kFallbackCode);
}

}  // namespace zephro
