#include "app/ui/SymbolCatalog.h"

#include <gtest/gtest.h>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
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

std::string str(std::string_view view) {
  return std::string(view);
}

// Whether drawing the text in the font leaves any ink: a glyph can exist and still be empty.
bool drawsInk(const QFont& font, const QString& text) {
  QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(image.rect(), Qt::AlignCenter, text);
  painter.end();
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (qAlpha(image.pixel(x, y)) != 0) return true;
    }
  }
  return false;
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
    const std::string name = str(entry.name);
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

  // The icon chooser: its four sections hold 64 symbols, each one once and each in the table.
  std::set<std::string_view> chooser;
  std::vector<std::string> ids;
  for (const SymbolSection& section : SymbolCatalog::pickerSections()) {
    ids.push_back(str(section.id));
    for (const std::string_view name : section.symbols) {
      EXPECT_TRUE(chooser.insert(name).second) << name << " is offered twice";
      EXPECT_TRUE(SymbolCatalog::find(QString::fromStdString(str(name)))) << name;
    }
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"Airflow", "Devices", "People", "Objects"}));
  EXPECT_EQ(chooser.size(), 64U);
}

TEST(SymbolCatalogTest, UnknownNamesHaveNoImage) {
  const SymbolCatalog& catalog = SymbolCatalog::shared();
  for (const char* name : {"", "fan", "Fan.fill", "fan.fill ", "no.such.symbol", "🔥"}) {
    const QString qname = QString::fromUtf8(name);
    EXPECT_FALSE(catalog.contains(qname)) << name;
    EXPECT_TRUE(catalog.glyph(qname).isEmpty()) << name;
    EXPECT_TRUE(catalog.fontFamily(qname).isEmpty()) << name;
  }
  EXPECT_EQ(catalog.glyph(QStringLiteral("fan.fill")), QString(QChar(0xf210)));
}

TEST(SymbolCatalogTest, QmlReachesTheSharedCatalog) {
  QQmlEngine engine;
  engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
  QQmlComponent component(&engine);
  component.setData(R"(
    import QtQml
    import Zephro.Ui
    QtObject {
      property string glyph: Symbols.glyph("wind")
      property string family: Symbols.fontFamily("wind")
      property bool unknown: Symbols.contains("wind.fill")
      property int sections: Symbols.pickerSections.length
      property string firstChoice: Symbols.pickerSections[0].symbols[0]
    })",
                    QUrl());
  const std::unique_ptr<QObject> object(component.create());
  ASSERT_TRUE(object) << component.errorString().toStdString();
  EXPECT_EQ(object->property("glyph").toString(), QString(QChar(0xefd8)));
  EXPECT_EQ(object->property("family").toString(), "Material Icons");
  EXPECT_FALSE(object->property("unknown").toBool());
  EXPECT_EQ(object->property("sections").toInt(), 4);
  EXPECT_EQ(object->property("firstChoice").toString(), "fan.fill");
  // The engine must not take the shared instance with it.
  EXPECT_EQ(engine.objectOwnership(&SymbolCatalog::shared()), QQmlEngine::CppOwnership);
}

}  // namespace
}  // namespace zephro
