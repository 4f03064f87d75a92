// Fills arbitrary format texts, as a damaged or careless translation could hold them, with
// a fixed mix of arguments. It must never crash, read out of bounds or ask for huge output.
#include <QString>
#include <QVariantList>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "app/ui/LocalizedFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QString format =
      QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QVariantList arguments{
      42, QStringLiteral("text"), -1.5, QVariant(), Q_INT64_C(-9223372036854775807) - 1, 1e300};
  const QString text = zephro::localizedFormat(format, arguments);
  // Each placeholder adds at most its width limit or one argument's text.
  if (text.size() > (format.size() + 1) * 1100) std::abort();
  return 0;
}
