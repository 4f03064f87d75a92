#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <filesystem>
#include <functional>

#include "app/ui/AppLanguage.h"
#include "platform/bundle/Bundle.h"

class QQmlEngine;
class QJSEngine;

namespace zephro {

class UserDefaults;

// Holds the interface language the user chose, keeps it under "appLanguage" and answers
// every lookup of a user-visible text from that language's string table. A change of
// language is stored before anyone is told, and everyone who shows text is told at once,
// so open windows redraw without a restart. Main thread only.
class LocalizationManager : public QObject {
  Q_OBJECT
  QML_NAMED_ELEMENT(Localization)
  QML_SINGLETON

  /// The chosen language as its raw value ("system", "en", "fil", ...); unknown texts are ignored.
  Q_PROPERTY(
      QString language READ languageRawValue WRITE setLanguageRawValue NOTIFY languageChanged)
  /// The lproj code of the table that answers lookups ("de" for system on a German desktop).
  Q_PROPERTY(QString languageCode READ languageCode NOTIFY languageChanged)
  /// What the language row shows for the chosen language.
  Q_PROPERTY(QString languageName READ languageName NOTIFY languageChanged)
  /// The raw values of all languages, in the order of the language list.
  Q_PROPERTY(QStringList languages READ languages CONSTANT)
  /// Grows with every change of the answering table; a binding that reads it, as in
  /// `Localization.revision, Localization.string("popover_about")`, follows language changes.
  Q_PROPERTY(int revision READ revision NOTIFY languageChanged)

 public:
  using PreferredLanguages = std::function<QStringList()>;

  // resourceRoot is the application's resource folder; empty means the one found next to the
  // executable, in the development tree or under the install prefix.
  explicit LocalizationManager(UserDefaults& defaults,
                               PreferredLanguages preferredLanguages = systemPreferredLanguages,
                               std::filesystem::path resourceRoot = {}, QObject* parent = nullptr);

  // The one instance the application's views and services share, made on first use with
  // the standard user defaults.
  [[nodiscard]] static LocalizationManager& shared();
  // Hands QML the shared instance; the engine never owns it.
  [[nodiscard]] static LocalizationManager* create(QQmlEngine* qmlEngine, QJSEngine* jsEngine);
  // The desktop's preferred languages, as language tags (de-DE rather than de_DE).
  [[nodiscard]] static QStringList systemPreferredLanguages();

  [[nodiscard]] AppLanguage language() const { return language_; }
  // Stores the raw value under "appLanguage", then resolves the table again.
  void setLanguage(AppLanguage language);

  [[nodiscard]] QString languageRawValue() const { return rawValue(language_); }
  void setLanguageRawValue(const QString& raw);
  [[nodiscard]] const QString& languageCode() const { return languageCode_; }
  [[nodiscard]] QString languageName() const { return displayName(language_); }
  [[nodiscard]] QStringList languages() const;
  [[nodiscard]] int revision() const { return revision_; }

  // A language's name in the language list: its own name, or "language_system" looked up.
  [[nodiscard]] QString displayName(AppLanguage language) const;
  [[nodiscard]] Q_INVOKABLE QString displayName(const QString& raw) const;

  // The bundle lookups are made in: the chosen language's lproj folder, or the application's
  // resources as a whole when that folder is missing.
  [[nodiscard]] const bundle::Bundle& bundle() const { return bundle_; }

  // The text for key in the current language; the key itself when the table lacks it.
  [[nodiscard]] Q_INVOKABLE QString string(const QString& key) const;
  // The text for key in the desktop's own choice among the tables, whatever language the user
  // picked here: for the few literal texts that follow the system (the popover's title and
  // its approval hint).
  [[nodiscard]] Q_INVOKABLE QString systemString(const QString& key) const;
  // The looked-up text with its placeholders filled (see localizedFormat).
  [[nodiscard]] Q_INVOKABLE QString format(const QString& key, const QVariantList& arguments) const;

 signals:
  void languageChanged();

 private:
  [[nodiscard]] AppLanguage storedLanguage() const;
  // Picks the bundle for the current language; true when the answering table changed.
  bool resolveBundle();

  UserDefaults& defaults_;
  PreferredLanguages preferredLanguages_;
  std::filesystem::path resourceRoot_;
  AppLanguage language_ = AppLanguage::system;
  QString languageCode_;
  bundle::Bundle mainBundle_;
  bundle::Bundle bundle_;
  int revision_ = 0;
};

}  // namespace zephro
