#include "app/ui/SymbolCatalog.h"

#include <gtest/gtest.h>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QRawFont>
#include <QRegularExpression>
#include <QtQml/QQmlExtensionPlugin>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "tests/support/TempDir.h"

Q_IMPORT_QML_PLUGIN(Zephro_UiPlugin)

namespace zephro {
namespace {

namespace fs = std::filesystem;

// Whether drawing the text in the font leaves any ink: a glyph can exist and still be empty.
bool drawsInk(const QFont& font, const QString& text) {
  QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  const QImage blank = image.copy();
  QPainter painter(&image);
  painter.setFont(font);
  painter.drawText(image.rect(), Qt::AlignCenter, text);
  painter.end();
  return image != blank;
}

// The symbol names in the application's QML, with the file each is in. A name is any text
// literal shaped like one ("fan.fill"), any literal passed to the catalog, and any literal
// bound to a property that holds a symbol name (name, symbol, symbolName), such as both
// sides of `name: current ? "largecircle.fill.circle" : "circle"`.
std::multimap<std::string, std::string> namesUsedInQml() {
  static const QRegularExpression dotted(
      QStringLiteral(R"re("([a-z0-9]*[a-z][a-z0-9]*(?:\.[a-z0-9]+)+)")re"));
  static const QRegularExpression call(QStringLiteral(R"re(Symbols\.\w+\(\s*"([^"]*)")re"));
  static const QRegularExpression binding(
      QStringLiteral(R"re((?<![\w.])(?:name|symbol|symbolName)\s*:([^\n]*))re"));
  static const QRegularExpression literal(QStringLiteral(R"re("([^"]*)")re"));
  std::multimap<std::string, std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(testing::sourcePath("app"))) {
    if (entry.path().extension() != ".qml") continue;
    const QString text = QString::fromStdString(testing::readFile(entry.path()));
    const auto add = [&](const QRegularExpression& pattern, const QString& where) {
      auto matches = pattern.globalMatch(where);
      while (matches.hasNext()) {
        names.emplace(matches.next().captured(1).toStdString(), entry.path().string());
      }
    };
    add(dotted, text);
    add(call, text);
    auto bindings = binding.globalMatch(text);
    while (bindings.hasNext()) add(literal, bindings.next().captured(1));
  }
  return names;
}

TEST(SymbolCatalogTest, EveryNameDrawsAGlyphOfItsBundledFont) {
  const SymbolCatalog& catalog = SymbolCatalog::shared();
  // Loaded from the application's resources, not merely found among the system's fonts.
  ASSERT_EQ(catalog.family(IconFont::materialIcons), "Material Icons");
  ASSERT_EQ(catalog.family(IconFont::materialDesignIcons), "Material Design Icons");

  std::set<std::string_view> seen;
  for (const SymbolGlyph& entry : SymbolCatalog::table()) {
    const std::string name = std::string(entry.name);
    EXPECT_TRUE(seen.insert(entry.name).second) << name << " is in the table twice";
    const QString qname = QString::fromStdString(name);
    const QFont font = catalog.font(qname, 24);
    EXPECT_EQ(QRawFont::fromFont(font).familyName(), catalog.family(entry.font)) << name;
    EXPECT_TRUE(QFontMetricsF(font).inFontUcs4(entry.codepoint)) << name;
    EXPECT_TRUE(drawsInk(font, catalog.glyph(qname))) << name;
    EXPECT_EQ(catalog.fontFamily(qname), catalog.family(entry.font)) << name;
  }
}

TEST(SymbolCatalogTest, EveryNameTheApplicationUsesIsInTheTable) {
  const SymbolCatalog& catalog = SymbolCatalog::shared();
  for (const auto& [name, file] : namesUsedInQml()) {
    EXPECT_TRUE(catalog.contains(QString::fromStdString(name))) << name << " in " << file;
  }

  // The icon chooser offers each symbol once, and only symbols of the table.
  std::set<std::string_view> chooser;
  for (const SymbolSection& section : SymbolCatalog::pickerSections()) {
    for (const std::string_view name : section.symbols) {
      EXPECT_TRUE(chooser.insert(name).second) << name << " is offered twice";
      EXPECT_TRUE(SymbolCatalog::find(QString::fromStdString(std::string(name)))) << name;
    }
  }
  EXPECT_FALSE(chooser.empty());
}

TEST(SymbolCatalogTest, UnknownNamesHaveNoImage) {
  const SymbolCatalog& catalog = SymbolCatalog::shared();
  for (const char* name : {"", "fan", "Fan.fill", "fan.fill ", "no.such.symbol", "🔥"}) {
    const QString qname = QString::fromUtf8(name);
    EXPECT_FALSE(catalog.contains(qname)) << name;
    EXPECT_TRUE(catalog.glyph(qname).isEmpty()) << name;
    EXPECT_TRUE(catalog.fontFamily(qname).isEmpty()) << name;
  }
}

}  // namespace
}  // namespace zephro
