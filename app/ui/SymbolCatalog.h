#pragma once

#include <QtQml/qqmlregistration.h>
#include <QFont>
#include <QObject>
#include <QString>
#include <QStringView>
#include <QVariantList>
#include <array>
#include <optional>
#include <span>
#include <string_view>

class QQmlEngine;
class QJSEngine;

namespace zephro {

// The two icon fonts the application bundles: Material Icons draws nearly every symbol,
// Material Design Icons the few the first lacks (a plain fan).
enum class IconFont { materialIcons, materialDesignIcons };

// One symbol name the program uses and the glyph that draws it.
struct SymbolGlyph {
  std::string_view name;
  IconFont font;
  char32_t codepoint;
};

// A section of the preset editor's icon chooser: its identifier ("Airflow") and its
// symbol names in order.
struct SymbolSection {
  std::string_view id;
  std::span<const std::string_view> symbols;
};

// Stands in for the system's symbol images: each symbol name the program uses maps to a
// glyph of a bundled icon font, and every other name is unknown, as the system answers
// "no image" for a name it does not know. The fonts are loaded into the application's
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
  // The glyph's text in its font; empty for an unknown name.
  [[nodiscard]] Q_INVOKABLE QString glyph(const QString& name) const;
  // The family to draw glyph(name) in; empty for an unknown name.
  [[nodiscard]] Q_INVOKABLE QString fontFamily(const QString& name) const;

  // The loaded family of one of the bundled fonts; empty when it failed to load.
  [[nodiscard]] QString family(IconFont font) const;
  // A font that draws the symbol's glyph at pixelSize and never substitutes another font
  // for it. An unknown name gives the default font.
  [[nodiscard]] QFont font(QStringView name, int pixelSize) const;

  [[nodiscard]] QStringList names() const;
  [[nodiscard]] QVariantList pickerSectionList() const;

  // The glyph's codepoint as text.
  [[nodiscard]] static QString text(char32_t codepoint);

 private:
  std::array<QString, 2> families_;
};

}  // namespace zephro
