#include <gtest/gtest.h>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QImage>
#include <QPainter>
#include <QRawFont>
#include <QRegularExpression>
#include <QTextLayout>
#include <QtQml/QQmlExtensionPlugin>

#include <map>
#include <numeric>
#include <regex>
#include <set>

#include "app/ui/AppLanguage.h"
#include "app/ui/LocalizedFormat.h"
#include "app/ui/SymbolCatalog.h"
#include "platform/bundle/StringsTable.h"
#include "tests/support/TempDir.h"

Q_IMPORT_QML_PLUGIN(Zephro_UiPlugin)

namespace zephro {
namespace {

namespace fs = std::filesystem;

// How often a text uses each of three arguments. The arguments are texts, which number
// placeholders show as they are, so "%2$@ … %1$ld" and "%ld … %@" read the same.
std::string argumentsUsed(const std::string& value) {
  const QStringList markers{"{1}", "{2}", "{3}"};
  const QString text = localizedFormat(QString::fromStdString(value), {"{1}", "{2}", "{3}"});
  std::string used;
  for (const QString& marker : markers) used += std::to_string(text.count(marker));
  return used;
}

// The placeholders the tables write; anything else after a '%' (such as "100% sure", which
// reads as "% s") takes an argument no caller passes.
bool onlyKnownPlaceholders(const std::string& value) {
  static const QRegularExpression known(QStringLiteral(R"(%(?:[1-9]\$)?(?:@|l?d)|%%)"));
  return !QString::fromStdString(value).remove(known).contains(u'%');
}

// English is the reference: it holds every key the sources look up, and every other language
// holds exactly its keys, each using the arguments English uses.
TEST(StringTablesTest, EveryLanguageHasExactlyTheKeysAndPlaceholdersOfTheSources) {
  std::map<std::string, bundle::StringsTable> tables;
  std::set<std::string> languages, folders;
  for (const auto& entry : fs::directory_iterator(testing::sourcePath("app/resources"))) {
    if (entry.path().extension() != ".lproj") continue;
    folders.insert(entry.path().stem().string());
    tables.emplace(entry.path().stem().string(),
                   bundle::StringsTable::load(entry.path() / "Localizable.strings"));
  }
  for (const AppLanguage language : kAllAppLanguages) {
    if (language != AppLanguage::system) languages.insert(rawValue(language).toStdString());
  }
  ASSERT_EQ(folders, languages) << "one lproj folder per language, and no other";

  const auto& reference = tables.at("en");
  std::string sources;
  for (const auto& entry : fs::recursive_directory_iterator(testing::sourcePath("app"))) {
    const fs::path extension = entry.path().extension();
    if (extension == ".qml" || extension == ".cpp" || extension == ".h") {
      sources += testing::readFile(entry.path());
    }
  }
  static const std::regex lookup(
      R"re(\b(?:string|format|text|systemString)\(\s*(?:QStringLiteral\()?"([A-Za-z][a-z0-9]*(?:_[a-z0-9]+)+)")re");
  for (auto it = std::sregex_iterator(sources.begin(), sources.end(), lookup);
       it != std::sregex_iterator(); ++it) {
    EXPECT_NE(reference.find((*it)[1].str()), nullptr) << "missing key " << (*it)[1];
  }
  for (const auto& [code, table] : tables) {
    SCOPED_TRACE(code);
    EXPECT_FALSE(table.error().has_value())
        << "line " << table.error()->line << ": " << table.error()->message;
    for (const auto& [key, value] : table.entries()) {
      EXPECT_NE(reference.find(key), nullptr) << "extra key " << key;
    }
    for (const auto& [key, referenceValue] : reference.entries()) {
      const std::string value = table.find(key) ? *table.find(key) : "";
      EXPECT_FALSE(value.empty()) << "missing or empty key " << key;
      EXPECT_TRUE(onlyKnownPlaceholders(value)) << key << " = " << value;
      EXPECT_EQ(argumentsUsed(value), argumentsUsed(referenceValue)) << key << " = " << value;
    }
  }
}

// Whether the application's font, with fontconfig's fallbacks, draws every character of
// `text` as a glyph rather than as the missing-glyph box (glyph 0).
bool drawnWithoutBoxes(const QString& text) {
  for (const QString& line : text.split(u'\n')) {
    QTextLayout layout(line, QFont());
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    for (const QGlyphRun& run : layout.glyphRuns()) {
      if (run.glyphIndexes().contains(0)) return false;
    }
  }
  return true;
}

// Japanese, Chinese and Korean need a font beyond the application's own (fonts-noto-cjk):
// every language's name in the menu and every text of its table is drawn as glyphs.
TEST(StringTablesTest, EveryLanguageIsDrawnWithoutMissingGlyphs) {
  for (const AppLanguage language : kAllAppLanguages) {
    EXPECT_TRUE(drawnWithoutBoxes(nativeName(language))) << nativeName(language).toStdString();
    if (language == AppLanguage::system) continue;
    const std::string code = rawValue(language).toStdString();
    const auto table = bundle::StringsTable::load(testing::sourcePath("app/resources") /
                                                  (code + ".lproj") / "Localizable.strings");
    for (const auto& [key, value] : table.entries()) {
      EXPECT_TRUE(drawnWithoutBoxes(QString::fromStdString(value))) << code << ": " << value;
    }
  }
}

QString fmt(const char* format, const QVariantList& arguments) {
  return localizedFormat(QString::fromUtf8(format), arguments);
}

// Every placeholder kind the tables use is filled; wrong or missing arguments never crash. Kinds
// no table may use (StringTablesTest) only have to stay bounded, which the fuzzer's corpus checks.
TEST(LocalizedFormatTest, FillsPlaceholdersSafely) {
  EXPECT_EQ(fmt("%d|%ld|%lld|%qd|%zd", {1, -2, Q_INT64_C(-9000000000), 6, 7}),
            "1|-2|-9000000000|6|7");
  EXPECT_EQ(fmt("Downloading Update… %ld%% %@", {57, QVariant()}),
            "Downloading Update… 57% (null)");
  EXPECT_EQ(fmt("Update %@ Available, %@ [%6@] [%.2@]", {"1.2.3", true, "ab", "Zephro"}),
            "Update 1.2.3 Available, true [    ab] [Ze]");
  EXPECT_EQ(fmt("%c%C%c", {65, 0x1F300, 0xD800}), "A🌀\uFFFD");
  // Positional arguments may be reordered and repeated.
  EXPECT_EQ(fmt("%2$@ läuft mit %1$ld U/min", {2400, "Lüfter"}), "Lüfter läuft mit 2400 U/min");
  EXPECT_EQ(fmt("%1$@ %1$@", {"again"}), "again again");
  EXPECT_EQ(localizedFormat(QString("%ld RPM, %@"), 2400, QString("57°C")), "2400 RPM, 57°C");
  // A placeholder without its argument stays visible as written; extras are ignored.
  EXPECT_EQ(fmt("%1$ld to %2$ld RPM", {1200}), "1200 to %2$ld RPM");
  EXPECT_EQ(fmt("Version %@", {"1.0", 5}), "Version 1.0");
  // An argument of the wrong kind shows as its text; decimals are cut for integers.
  EXPECT_EQ(fmt("Fan %ld %ld%% %ld", {"two", 99.9, -1e300}), "Fan two 99% -1e+300");
  // What is not a placeholder is copied as it is, and never reads past the end.
  // "% s" is a space-flagged text placeholder, which is why the tables write "%%".
  EXPECT_EQ(fmt("100% sure", {"!"}), "100!ure");
  EXPECT_EQ(fmt("%y %n %0$d %*d ends with %l", {1, 2}), "%y %n %0$d %*d ends with %l");
  EXPECT_EQ(fmt("%99999d|%.99999f|%99999999999$d", {1, 2.0, 3}), "%99999d|%.99999f|%99999999999$d");
  EXPECT_EQ(fmt("%1000d", {1}).size(), 1000);
}

TEST(SymbolCatalogTest, EveryNameUsedIsKnownAndNoOtherIs) {
  const SymbolCatalog& catalog = SymbolCatalog::shared();
  // Loaded from the application's resources, not merely found among the system's fonts.
  ASSERT_EQ(catalog.family(IconFont::materialIcons), "Material Icons");
  ASSERT_EQ(catalog.family(IconFont::materialDesignIcons), "Material Design Icons");

  std::set<std::string_view> seen;
  for (const SymbolGlyph& entry : SymbolCatalog::table()) {
    EXPECT_TRUE(seen.insert(entry.name).second) << entry.name << " is in the table twice";
    // The status item draws its glyph as text, in the font and never in a substitute.
    const QString name = QString::fromStdString(std::string(entry.name));
    if (entry.form != SymbolForm::glyph) continue;
    EXPECT_EQ(QRawFont::fromFont(catalog.font(name, 24)).familyName(), catalog.family(entry.font))
        << entry.name;
    EXPECT_EQ(catalog.glyph(name), SymbolCatalog::text(entry.codepoint)) << entry.name;
  }
  // The icon chooser offers each symbol once and only symbols of the table.
  std::set<std::string_view> chooser;
  for (const SymbolSection& section : SymbolCatalog::pickerSections()) {
    for (const std::string_view name : section.symbols) {
      EXPECT_TRUE(chooser.insert(name).second) << name << " is offered twice";
      EXPECT_TRUE(SymbolCatalog::find(QString::fromStdString(std::string(name)))) << name;
    }
  }
  EXPECT_EQ(chooser.size(), 64U);
  // A misspelled name in a view would draw nothing: every dotted name the QML spells out is known.
  static const QRegularExpression dotted(
      QStringLiteral(R"re("([a-z0-9]*[a-z][a-z0-9]*(?:\.[a-z0-9]+)+)")re"));
  for (const auto& file : fs::recursive_directory_iterator(testing::sourcePath("app"))) {
    if (file.path().extension() != ".qml") continue;
    auto names = dotted.globalMatch(QString::fromStdString(testing::readFile(file.path())));
    while (names.hasNext()) {
      const QString name = names.next().captured(1);
      EXPECT_TRUE(catalog.contains(name)) << name.toStdString() << " in " << file.path();
    }
  }
  for (const char* name : {"", "fan", "Fan.fill", "fan.fill ", "no.such.symbol", "🔥"}) {
    const QString qname = QString::fromUtf8(name);
    EXPECT_FALSE(catalog.contains(qname)) << name;
    EXPECT_TRUE(catalog.path(qname).isEmpty() && catalog.glyph(qname).isEmpty()) << name;
  }
}

// A symbol's picture as the views paint it, 24 pixels square: the coverage of each pixel.
std::vector<int> rendered(const QString& name) {
  QImage image(24, 24, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  SymbolCatalog::shared().paint(painter, name, QRectF(0, 0, 24, 24), Qt::black);
  painter.end();
  std::vector<int> coverage;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) coverage.push_back(qAlpha(image.pixel(x, y)));
  }
  return coverage;
}

// Each name is its own picture: no two symbols look alike, a plain symbol and its ".fill" twin
// included, and none is a speck or a solid block.
TEST(SymbolCatalogTest, EverySymbolIsADistinctPictureOfSensibleSize) {
  std::vector<std::pair<std::string, std::vector<int>>> pictures;
  for (const SymbolGlyph& entry : SymbolCatalog::table()) {
    const std::string name(entry.name);
    const std::vector<int> coverage = rendered(QString::fromStdString(name));
    // Ink in pixels, and the side of the square the solid pixels span.
    const double ink = std::accumulate(coverage.begin(), coverage.end(), 0.0) / 255;
    int left = 24, right = -1, top = 24, bottom = -1;
    for (int i = 0; i < 24 * 24; ++i) {
      if (coverage[i] < 128) continue;
      left = std::min(left, i % 24), right = std::max(right, i % 24);
      top = std::min(top, i / 24), bottom = std::max(bottom, i / 24);
    }
    EXPECT_GE(ink, 24.0) << name;
    EXPECT_LE(ink, 24 * 24 * 0.6) << name;
    EXPECT_GE(std::max(right - left, bottom - top) + 1, 12) << name;
    pictures.emplace_back(name, coverage);
  }
  for (auto a = pictures.begin(); a != pictures.end(); ++a) {
    for (auto b = a + 1; b != pictures.end(); ++b) {
      int apart = 0;
      for (int i = 0; i < 24 * 24; ++i) apart += std::abs(a->second[i] - b->second[i]) >= 128;
      EXPECT_GE(apart, 12) << a->first << " and " << b->first << " look alike";
    }
  }
}

}  // namespace
}  // namespace zephro
