#include "app/ui/LocalizedFormat.h"

#include <gtest/gtest.h>

#include <limits>

namespace zephro {
namespace {

QString fmt(const char* format, const QVariantList& arguments) {
  return localizedFormat(QString::fromUtf8(format), arguments);
}

TEST(LocalizedFormatTest, FillsEveryPlaceholderKindTheTablesUse) {
  EXPECT_EQ(fmt("%d|%ld|%lld|%qd|%zd", {1, -2, Q_INT64_C(-9000000000), 6, 7}),
            "1|-2|-9000000000|6|7");
  EXPECT_EQ(fmt("%llu %u %x %#o", {std::numeric_limits<qulonglong>::max(), -1, 255, 8}),
            "18446744073709551615 18446744073709551615 ff 010");
  EXPECT_EQ(fmt("[%5ld] [%-5ld] [%05ld] [%+ld] [%.3ld]", {42, 42, -42, 42, 7}),
            "[   42] [42   ] [-0042] [+42] [007]");
  EXPECT_EQ(fmt("Downloading Update… %ld%%", {57}), "Downloading Update… 57%");
  EXPECT_EQ(fmt("Update %@ Available, %@", {QStringLiteral("1.2.3"), true}),
            "Update 1.2.3 Available, true");
  EXPECT_EQ(fmt("[%6@] [%.2@]", {QStringLiteral("ab"), QStringLiteral("Zephro")}), "[    ab] [Ze]");
  EXPECT_EQ(fmt("%.1f %e %08.2f", {2.26, 1234.5, -3.14159}), "2.3 1.234500e+03 -0003.14");
  EXPECT_EQ(fmt("%c%C%c", {65, 0x1F300, 0xD800}), "A🌀\uFFFD");
  EXPECT_EQ(fmt("%@", {QVariant()}), "(null)");
  // Positional arguments may be reordered and repeated.
  EXPECT_EQ(fmt("%2$@ läuft mit %1$ld U/min", {2400, QStringLiteral("Lüfter")}),
            "Lüfter läuft mit 2400 U/min");
  EXPECT_EQ(fmt("%1$@ %1$@", {QStringLiteral("again")}), "again again");
  EXPECT_EQ(localizedFormat(QStringLiteral("%ld RPM, %@"), 2400, QStringLiteral("57°C")),
            "2400 RPM, 57°C");
}

TEST(LocalizedFormatTest, WrongOrMissingArgumentsNeverCrash) {
  // A placeholder without its argument stays visible as written; extras are ignored.
  EXPECT_EQ(fmt("%1$ld to %2$ld RPM", {1200}), "1200 to %2$ld RPM");
  EXPECT_EQ(fmt("Version %@", {QStringLiteral("1.0"), 5}), "Version 1.0");
  // An argument of the wrong kind shows as its text; decimals are cut for integers.
  EXPECT_EQ(fmt("Fan %ld", {QStringLiteral("two")}), "Fan two");
  EXPECT_EQ(fmt("%ld%%", {99.9}), "99%");
  EXPECT_EQ(fmt("%ld", {-1e300}), "-1e+300");
  // What is not a placeholder is copied as it is, and never reads past the end.
  // "% s" is a space-flagged text placeholder, which is why the tables write "%%".
  EXPECT_EQ(fmt("100% sure", {QStringLiteral("!")}), "100!ure");
  EXPECT_EQ(fmt("%y %n %0$d %*d", {1, 2}), "%y %n %0$d %*d");
  EXPECT_EQ(fmt("ends with %l", {1}), "ends with %l");
  EXPECT_EQ(fmt("%99999d|%.99999f|%99999999999$d", {1, 2.0, 3}), "%99999d|%.99999f|%99999999999$d");
  EXPECT_EQ(fmt("%1000d", {1}).size(), 1000);
}

}  // namespace
}  // namespace zephro
