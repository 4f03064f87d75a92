#pragma once

#include <QtQml/qqmlregistration.h>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QObject>
#include <QPainterPath>
#include <QRawFont>
#include <QString>
#include <QStringView>
#include <QVariantList>
#include <array>
#include <optional>
#include <span>
#include <string_view>

#include "app/ui/SymbolSketch.h"

class QQmlEngine;
class QJSEngine;
class QPainter;

namespace zephro {

// How a symbol is drawn: a font's glyph as the font draws it, the glyph's plain form (its
// inner outline, for a name whose ".fill" twin is the glyph itself), or a drawing of the
// catalog's own where neither font has the object.
enum class SymbolForm { glyph, outlinedGlyph, drawing };

using SymbolDrawing = void (*)(SymbolSketch&);

// One symbol name the program uses and how it is drawn.
struct SymbolGlyph {
  std::string_view name;
  SymbolForm form;
  IconFont font;
  char32_t codepoint;
  SymbolDrawing draw;
};

// A section of the preset editor's icon chooser: its identifier ("Airflow") and its
// symbol names in order.
struct SymbolSection {
  std::string_view id;
  std::span<const std::string_view> symbols;
};

// Stands in for the system's symbol images: each symbol name the program uses maps to a
// picture drawn from the bundled icon fonts, and every other name is unknown, as the system
// answers "no image" for a name it does not know. The fonts are loaded into the application's
// font database on construction, so a QGuiApplication must exist. Main thread only.
class SymbolCatalog : public QObject {
  Q_OBJECT
  QML_NAMED_ELEMENT(Symbols)
  QML_SINGLETON

  /// Every symbol name the catalog knows, in table order.
  Q_PROPERTY(QStringList names READ names CONSTANT)
  /// The icon chooser's sections: a list of {id: "Airflow", symbols: ["fan.fill", ...]}.
  Q_PROPERTY(QVariantList pickerSections READ pickerSectionList CONSTANT)

 public:
  explicit SymbolCatalog(QObject* parent = nullptr);

  // The one instance the views and the status item share, made on first use.
  [[nodiscard]] static SymbolCatalog& shared();
  // Hands QML the shared instance; the engine never owns it.
  [[nodiscard]] static SymbolCatalog* create(QQmlEngine* qmlEngine, QJSEngine* jsEngine);

  // The whole table, and the icon chooser's four sections.
  [[nodiscard]] static std::span<const SymbolGlyph> table();
  [[nodiscard]] static std::span<const SymbolSection> pickerSections();
  // The table's entry for name, or nothing for a name the program does not use.
  [[nodiscard]] static std::optional<SymbolGlyph> find(QStringView name);

  // Whether name is a known symbol (the system would return an image for it).
  [[nodiscard]] Q_INVOKABLE bool contains(const QString& name) const;
  // The symbol's picture in the fonts' 24-unit design square, ready to fill; empty for an
  // unknown name.
  [[nodiscard]] QPainterPath path(QStringView name) const;
  // Fills the symbol's picture in colour, its design square scaled to the shorter side of box
  // and centred in it.
  void paint(QPainter& painter, QStringView name, const QRectF& box, const QColor& colour) const;

  // The text of a symbol drawn as a font draws it; empty for any other name.
  [[nodiscard]] QString glyph(const QString& name) const;

  // The loaded family of one of the bundled fonts; empty when it failed to load.
  [[nodiscard]] QString family(IconFont font) const;
  // A font that draws glyph(name) at pixelSize and never substitutes another font for it.
  // A name without a glyph gives the default font.
  [[nodiscard]] QFont font(QStringView name, int pixelSize) const;

  [[nodiscard]] QStringList names() const;
  [[nodiscard]] QVariantList pickerSectionList() const;

  // The glyph's codepoint as text.
  [[nodiscard]] static QString text(char32_t codepoint);

 private:
  std::array<QString, 2> families_;
  // The fonts' faces at the size the sketches work in.
  std::array<QRawFont, 2> faces_;
  // Pictures already drawn, by name: drawing one takes a few boolean operations on paths.
  mutable QHash<QString, QPainterPath> pictures_;
};

}  // namespace zephro
