#include "app/intents/FanModeEntity.h"

#include <algorithm>
#include <array>

#include "app/presets/CurveStore.h"
#include "app/presets/PresetStore.h"

namespace zephro {
namespace {

struct BuiltIn {
  const char* id;
  const char* name;
  std::array<const char*, 8> synonyms;
};

// Only the text search uses the synonyms; presets and curves have none.
constexpr std::array<BuiltIn, 2> kBuiltIns{{
    {"system", "Auto", {"auto", "automatic", "system", "default", "normal", "quiet"}},
    {"max",
     "Max",
     {"max", "maximum", "full", "full blast", "full speed", "turbo", "boost", "high"}},
}};

bool eitherContains(const QString& a, const QString& b) {
  return a.contains(b) || b.contains(a);
}

bool synonymMatches(const QString& id, const QString& query) {
  const auto builtIn = std::find_if(kBuiltIns.begin(), kBuiltIns.end(),
                                    [&](const BuiltIn& b) { return id == QLatin1String(b.id); });
  if (builtIn == kBuiltIns.end()) return false;
  return std::any_of(builtIn->synonyms.begin(), builtIn->synonyms.end(), [&](const char* synonym) {
    return synonym != nullptr && eitherContains(QString::fromLatin1(synonym), query);
  });
}

}  // namespace

FanModeEntityQuery::FanModeEntityQuery(const UserDefaults& defaults, const QLocale& locale)
    : defaults_(defaults), locale_(locale) {}

QList<FanModeEntity> FanModeEntityQuery::allEntities() const {
  QList<FanModeEntity> entities;
  for (const auto& builtIn : kBuiltIns) {
    entities.append({QString::fromLatin1(builtIn.id), QString::fromLatin1(builtIn.name)});
  }
  for (const auto& preset : PresetStore::loadStoredPresets(defaults_)) {
    entities.append({preset.idText(), preset.name});
  }
  for (const auto& curve : CurveStore::loadStoredCurves(defaults_)) {
    entities.append({curve.idText(), curve.name});
  }
  return entities;
}

QList<FanModeEntity> FanModeEntityQuery::entities(const QStringList& identifiers) const {
  QList<FanModeEntity> found;
  for (auto& entity : allEntities()) {
    if (identifiers.contains(entity.id)) found.append(std::move(entity));
  }
  return found;
}

QList<FanModeEntity> FanModeEntityQuery::entities(const QString& matching) const {
  const QString query = fold(matching, locale_);
  auto all = allEntities();
  if (query.isEmpty()) return all;
  QList<FanModeEntity> found;
  for (auto& entity : all) {
    // Names are folded as the query is, so that a preset named "Café" is found by its name.
    if (eitherContains(fold(entity.name, locale_), query) || synonymMatches(entity.id, query)) {
      found.append(std::move(entity));
    }
  }
  return found;
}

QString FanModeEntityQuery::fold(const QString& text, const QLocale& locale) {
  // Decomposed, a letter's diacritics are marks of their own, and dropping them leaves the
  // letter: "á" becomes "a".
  const QString decomposed = text.normalized(QString::NormalizationForm_KD);
  QString folded;
  folded.reserve(decomposed.size());
  for (const QChar c : decomposed) {
    if (c.category() != QChar::Mark_NonSpacing) folded.append(c);
  }
  return locale.toLower(folded).trimmed();
}

QDBusArgument& operator<<(QDBusArgument& argument, const FanModeEntity& entity) {
  argument.beginStructure();
  argument << entity.id << entity.name;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, FanModeEntity& entity) {
  argument.beginStructure();
  argument >> entity.id >> entity.name;
  argument.endStructure();
  return argument;
}

}  // namespace zephro
