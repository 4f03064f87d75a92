#include "app/ui/LocalizedFormat.h"

#include <gtest/gtest.h>

#include <limits>

namespace zephro {
namespace {

QString fmt(const char* format, const QVariantList& arguments) {
  return localizedFormat(QString::fromUtf8(format), arguments);
}

TEST(LocalizedFormatTest, FillsIntegerPlaceholdersOfEveryLength) {
  EXPECT_EQ(fmt("Fan %ld", {1}), "Fan 1");
  EXPECT_EQ(fmt("%d|%i|%ld|%lld|%hd|%qd|%zd", {1, -2, 3, Q_INT64_C(-9000000000), 5, 6, 7}),
            "1|-2|3|-9000000000|5|6|7");
  EXPECT_EQ(fmt("%lu %llu %u", {4000000000u, std::numeric_limits<qulonglong>::max(), -1}),
            "4000000000 18446744073709551615 18446744073709551615");
  EXPECT_EQ(fmt("%x %X %#x %o %#o", {255, 255, 255, 8, 8}), "ff FF 0xff 10 010");
  EXPECT_EQ(
      fmt("[%5ld] [%-5ld] [%05ld] [%+ld] [% ld] [%.3ld] [%05ld]", {42, 42, 42, 42, 42, 7, -42}),
      "[   42] [42   ] [00042] [+42] [ 42] [007] [-0042]");
  EXPECT_EQ(fmt("Downloading Update… %ld%%", {57}), "Downloading Update… 57%");
  EXPECT_EQ(fmt("%'ld", {1234567}), "1234567");
}

TEST(LocalizedFormatTest, FillsTextDecimalAndCharacterPlaceholders) {
  EXPECT_EQ(fmt("Update %@ Available", {QStringLiteral("1.2.3")}), "Update 1.2.3 Available");
  EXPECT_EQ(fmt("%@ and %@", {7, true}), "7 and true");
  EXPECT_EQ(fmt("[%6@] [%-6s] [%.2@]",
                {QStringLiteral("ab"), QStringLiteral("cd"), QStringLiteral("Zephro")}),
            "[    ab] [cd    ] [Ze]");
  EXPECT_EQ(fmt("%f %.1f %.0f %e %g %08.2f", {1.5, 2.26, 2.7, 1234.5, 0.0001, -3.14159}),
            "1.500000 2.3 3 1.234500e+03 0.0001 -0003.14");
  EXPECT_EQ(fmt("%c%c%C", {65, QStringLiteral("日本"), 0x1F300}), "A日🌀");
  EXPECT_EQ(fmt("%c", {0xD800}), "\uFFFD");
  EXPECT_EQ(fmt("%@", {QVariant()}), "(null)");
}

TEST(LocalizedFormatTest, PositionalArgumentsCanBeReordered) {
  EXPECT_EQ(fmt("Between %1$ld and %2$ld RPM", {1200, 5800}), "Between 1200 and 5800 RPM");
  EXPECT_EQ(fmt("%2$@ läuft mit %1$ld U/min", {2400, QStringLiteral("Lüfter")}),
            "Lüfter läuft mit 2400 U/min");
  EXPECT_EQ(fmt("%1$@ %1$@", {QStringLiteral("again")}), "again again");
}

TEST(LocalizedFormatTest, WrongOrMissingArgumentsNeverCrash) {
  // A placeholder without its argument stays visible as written.
  EXPECT_EQ(fmt("Fan %ld", {}), "Fan %ld");
  EXPECT_EQ(fmt("%1$ld to %2$ld RPM", {1200}), "1200 to %2$ld RPM");
  EXPECT_EQ(fmt("%3$@", {1, 2}), "%3$@");
  // Extra arguments are ignored.
  EXPECT_EQ(fmt("Version %@", {QStringLiteral("1.0"), 5}), "Version 1.0");
  // An argument of the wrong kind shows as its text; decimals are cut for integers.
  EXPECT_EQ(fmt("Fan %ld", {QStringLiteral("two")}), "Fan two");
  EXPECT_EQ(fmt("Fan %ld", {QStringLiteral("12")}), "Fan 12");
  EXPECT_EQ(fmt("%ld%%", {99.9}), "99%");
  EXPECT_EQ(fmt("%ld", {-1e300}), "-1e+300");
  EXPECT_EQ(fmt("%.1f", {QStringLiteral("warm")}), "warm");
  // What is not a placeholder is copied as it is, and never reads past the end.
  EXPECT_EQ(fmt("100%!", {1}), "100%!");
  // "% s" is a space-flagged text placeholder, which is why the tables write "%%".
  EXPECT_EQ(fmt("100% sure", {}), "100% sure");
  EXPECT_EQ(fmt("100% sure", {QStringLiteral("!")}), "100!ure");
  EXPECT_EQ(fmt("%y %n %0$d %*d", {1, 2}), "%y %n %0$d %*d");
  EXPECT_EQ(fmt("ends with %", {1}), "ends with %");
  EXPECT_EQ(fmt("ends with %l", {1}), "ends with %l");
  EXPECT_EQ(fmt("%99999d|%.99999f|%99999999999$d", {1, 2.0, 3}), "%99999d|%.99999f|%99999999999$d");
  EXPECT_EQ(fmt("%1000d", {1}).size(), 1000);
}

TEST(LocalizedFormatTest, VariadicCallsTakeTheCallersValues) {
  EXPECT_EQ(localizedFormat(QStringLiteral("%ld RPM, %@"), 2400, QStringLiteral("57°C")),
            "2400 RPM, 57°C");
  EXPECT_EQ(localizedFormat(QStringLiteral("Saved %%")), "Saved %");
}

}  // namespace
}  // namespace zephro
