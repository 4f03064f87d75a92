// A damaged translation's placeholders each add at most their width limit or one argument.
#include <cstdlib>

#include "app/ui/LocalizedFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QString format =
      QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QVariantList arguments{
      42, QStringLiteral("text"), -1.5, QVariant(), Q_INT64_C(-9223372036854775807) - 1, 1e300};
  if (zephro::localizedFormat(format, arguments).size() > (format.size() + 1) * 1100) std::abort();
  return 0;
}
