#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstddef>
#include <optional>

#include "app/presets/Preset.h"

namespace zephro {

// The preset list as stored: a compact UTF-8 JSON array of
// {"id","name","mode","value"[,"symbol"]} objects, keys in that order, strings
// escaped as the platform's JSON encoder does by default (including "\/").
[[nodiscard]] QByteArray encodePresets(const QList<Preset>& presets);

// What could be read back from stored preset data.
struct DecodedPresets {
  // Every entry that decoded, in stored order.
  QList<Preset> presets;
  // Entries in the stored array; 0 when the data was no JSON array at all.
  std::size_t entryCount = 0;
  // Why something was left out: the first unreadable entry, or why nothing could be read.
  std::optional<QString> problem;

  [[nodiscard]] bool isComplete() const { return !problem.has_value(); }
  [[nodiscard]] std::size_t droppedCount() const {
    return entryCount - std::size_t(presets.size());
  }
};

// Keeps every entry that decodes; an entry with a missing or mistyped key, an
// unknown mode or an id that is no UUID is left out and named in the problem.
[[nodiscard]] DecodedPresets decodePresets(const QByteArray& data);

}  // namespace zephro
