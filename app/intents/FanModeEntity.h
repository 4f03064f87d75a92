#pragma once

#include <QDBusArgument>
#include <QList>
#include <QLocale>
#include <QMetaType>
#include <QString>
#include <QStringList>

namespace zephro {

class UserDefaults;

// One choice for the set-fan-mode action: "system", "max", or a preset's or a curve's
// upper-case UUID text, with the name shown and spoken. There is no entity for manual mode;
// presets and curves take its place.
struct FanModeEntity {
  QString id;
  QString name;

  friend bool operator==(const FanModeEntity&, const FanModeEntity&) = default;
};

// The entities as automation sees them, rebuilt from storage on every question.
class FanModeEntityQuery {
 public:
  explicit FanModeEntityQuery(const UserDefaults& defaults, const QLocale& locale = QLocale());

  // Auto and Max, then one entity per stored preset, then per stored curve, in stored order.
  [[nodiscard]] QList<FanModeEntity> allEntities() const;
  [[nodiscard]] QList<FanModeEntity> suggestedEntities() const { return allEntities(); }
  // The entities among identifiers, in the order of allEntities(); unknown ones are dropped.
  [[nodiscard]] QList<FanModeEntity> entities(const QStringList& identifiers) const;
  // The entities whose name or synonyms contain the folded text or are contained in it;
  // every entity for an empty or blank text.
  [[nodiscard]] QList<FanModeEntity> entities(const QString& matching) const;

  // Diacritics folded away, lower-cased in the locale, white space trimmed: "  Máx\n" is "max".
  [[nodiscard]] static QString fold(const QString& text, const QLocale& locale);

 private:
  const UserDefaults& defaults_;
  QLocale locale_;
};

QDBusArgument& operator<<(QDBusArgument& argument, const FanModeEntity& entity);
const QDBusArgument& operator>>(const QDBusArgument& argument, FanModeEntity& entity);

}  // namespace zephro

Q_DECLARE_METATYPE(zephro::FanModeEntity)
