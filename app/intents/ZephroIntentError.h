#pragma once

#include <QString>
#include <stdexcept>

namespace zephro {

class LocalizationManager;

// The error every automation action fails with. Its description is what the person who
// ran the action reads, in the interface language.
class ZephroIntentError : public std::runtime_error {
 public:
  enum class Kind { presetNotFound, appNotReady, helperUnreachable };

  [[nodiscard]] static ZephroIntentError presetNotFound(QString name);
  [[nodiscard]] static ZephroIntentError appNotReady();
  [[nodiscard]] static ZephroIntentError helperUnreachable();

  [[nodiscard]] Kind kind() const { return kind_; }
  // The preset's name, for presetNotFound; empty otherwise.
  [[nodiscard]] const QString& presetName() const { return presetName_; }

  // The key looked up in the interface language, the name filled in for presetNotFound.
  [[nodiscard]] QString localizedDescription(const LocalizationManager& localization) const;
  // The D-Bus error name callers see, such as "com.zephro.Intents1.Error.AppNotReady".
  [[nodiscard]] QString busErrorName() const;

 private:
  ZephroIntentError(Kind kind, QString presetName);

  Kind kind_;
  QString presetName_;
};

}  // namespace zephro
