#pragma once

#include <QString>

namespace zephro {

// User-perceived characters (extended grapheme clusters), not bytes or UTF-16 units: what
// a person counts, so an emoji or a flag is one character.
[[nodiscard]] qsizetype characterCount(const QString& text);
// The first `count` user-perceived characters of text; all of it when it has fewer.
[[nodiscard]] QString firstCharacters(const QString& text, qsizetype count);

}  // namespace zephro
