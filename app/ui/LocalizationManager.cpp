#include "app/ui/LocalizationManager.h"

#include <QJSEngine>
#include <QLocale>
#include <QQmlEngine>
#include <string>
#include <vector>

#include "app/ui/LocalizedFormat.h"
#include "platform/defaults/UserDefaults.h"

namespace zephro {

namespace {

QString languageKey() {
  return QString::fromLatin1(defaults::appLanguage.name);
}

std::vector<std::string> toStdStrings(const QStringList& list) {
  std::vector<std::string> out;
  out.reserve(static_cast<std::size_t>(list.size()));
  for (const QString& item : list) out.push_back(item.toStdString());
  return out;
}

std::filesystem::path applicationResources(std::filesystem::path injected) {
  if (!injected.empty()) return injected;
  return bundle::Bundle::findResourceRoot(bundle::Bundle::resourceRootCandidates())
      .value_or(std::filesystem::path());
}

}  // namespace

LocalizationManager::LocalizationManager(UserDefaults& defaults,
                                         PreferredLanguages preferredLanguages,
                                         std::filesystem::path resourceRoot, QObject* parent)
    : QObject(parent),
      defaults_(defaults),
      preferredLanguages_(preferredLanguages ? std::move(preferredLanguages)
                                             : PreferredLanguages(systemPreferredLanguages)),
      resourceRoot_(applicationResources(std::move(resourceRoot))),
      mainBundle_(resourceRoot_),
      bundle_(resourceRoot_) {
  language_ = storedLanguage();
  resolveBundle();
}

LocalizationManager& LocalizationManager::shared() {
  static LocalizationManager instance(UserDefaults::standard());
  return instance;
}

LocalizationManager* LocalizationManager::create(QQmlEngine*, QJSEngine*) {
  LocalizationManager& instance = shared();
  QJSEngine::setObjectOwnership(&instance, QJSEngine::CppOwnership);
  return &instance;
}

QStringList LocalizationManager::systemPreferredLanguages() {
  QStringList languages = QLocale::system().uiLanguages();
  for (QString& language : languages) language.replace(u'_', u'-');
  return languages;
}

void LocalizationManager::setLanguage(AppLanguage language) {
  // Written first, so whoever reacts to the change already reads the new value back.
  defaults_.setString(languageKey(), rawValue(language));
  const bool languageChanged = language != language_;
  language_ = language;
  const bool tableChanged = resolveBundle();
  if (languageChanged || tableChanged) {
    ++revision_;
    emit this->languageChanged();
  }
}

void LocalizationManager::setLanguageRawValue(const QString& raw) {
  if (const auto language = appLanguageFromRawValue(raw)) setLanguage(*language);
}

QStringList LocalizationManager::languages() const {
  QStringList raws;
  for (const AppLanguage language : kAllAppLanguages) raws << rawValue(language);
  return raws;
}

QString LocalizationManager::displayName(AppLanguage language) const {
  if (language == AppLanguage::system) return string(QStringLiteral("language_system"));
  return nativeName(language);
}

QString LocalizationManager::displayName(const QString& raw) const {
  const auto language = appLanguageFromRawValue(raw);
  return language ? displayName(*language) : QString();
}

QString LocalizationManager::string(const QString& key) const {
  const std::string utf8Key = key.toStdString();
  return QString::fromStdString(bundle_.localizedString(utf8Key, utf8Key));
}

QString LocalizationManager::systemString(const QString& key) const {
  const std::string utf8Key = key.toStdString();
  return QString::fromStdString(mainBundle_.localizedString(utf8Key, utf8Key));
}

QString LocalizationManager::format(const QString& key, const QVariantList& arguments) const {
  return localizedFormat(string(key), arguments);
}

AppLanguage LocalizationManager::storedLanguage() const {
  const auto stored = defaults_.string(languageKey());
  if (!stored) return AppLanguage::system;
  return appLanguageFromRawValue(*stored).value_or(AppLanguage::system);
}

bool LocalizationManager::resolveBundle() {
  const QString code = language_ == AppLanguage::system
                           ? bestSupportedLanguageCode(preferredLanguages_())
                           : rawValue(language_);
  mainBundle_ = bundle::Bundle(resourceRoot_, toStdStrings(preferredLanguages_()));
  const auto folder = mainBundle_.pathForResource(code.toStdString(), "lproj");
  const auto localized = folder ? bundle::Bundle::atPath(*folder) : std::nullopt;
  const bundle::Bundle& chosen = localized ? *localized : mainBundle_;
  const bool changed = code != languageCode_ || chosen.bundlePath() != bundle_.bundlePath() ||
                       chosen.preferredLocalization() != bundle_.preferredLocalization();
  languageCode_ = code;
  bundle_ = chosen;
  return changed;
}

}  // namespace zephro
