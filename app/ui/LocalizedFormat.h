#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>

namespace zephro {

// Fills a looked-up text's placeholders the way the string tables write them: %@ (any
// value as text), %d %i %u %ld %lld %lu %llu %x %X %o (integers), %f %e %g (decimals,
// always with a "." point), %s, %c, %% and positional forms such as %1$@ and %2$ld, with the
// usual flags, width and precision. It never fails: a placeholder without a matching
// argument stays as written, so a translation mistake shows instead of crashing, and an
// argument of the wrong kind is shown as its text.
[[nodiscard]] QString localizedFormat(const QString& format, const QVariantList& arguments);

template <typename... Arguments>
[[nodiscard]] QString localizedFormat(const QString& format, const Arguments&... arguments) {
  return localizedFormat(format, QVariantList{QVariant::fromValue(arguments)...});
}

}  // namespace zephro
