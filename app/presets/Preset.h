#pragma once

#include <QMetaType>
#include <QString>
#include <QUuid>
#include <cstdint>
#include <optional>

#include "app/presets/PresetMode.h"

namespace zephro {

// A named, user-made fan setting. Equal when all five fields are equal.
struct Preset {
  Q_GADGET
  Q_PROPERTY(QString id READ idText CONSTANT)
  Q_PROPERTY(QString name MEMBER name CONSTANT)
  Q_PROPERTY(QString mode READ modeText CONSTANT)
  Q_PROPERTY(qint64 value MEMBER value CONSTANT)
  /// The icon: a symbol name or one emoji; empty when none was chosen.
  Q_PROPERTY(QString symbol READ symbolText CONSTANT)

 public:
  QUuid id;
  QString name;
  PresetMode mode = PresetMode::percentage;
  std::int64_t value = 0;
  std::optional<QString> symbol;

  // The canonical upper-case hyphenated form, as stored and as Shortcuts shows it.
  [[nodiscard]] QString idText() const;
  [[nodiscard]] QString modeText() const { return rawValue(mode); }
  [[nodiscard]] QString symbolText() const { return symbol.value_or(QString()); }

  friend bool operator==(const Preset&, const Preset&) = default;
};

// The canonical upper-case hyphenated text of a UUID.
[[nodiscard]] QString uuidText(const QUuid& id);
// Parses exactly the 36-character hyphenated form, in either case.
[[nodiscard]] std::optional<QUuid> uuidFromText(const QString& text);

}  // namespace zephro
