#pragma once

#include <QtQml/qqmlregistration.h>
#include <QColor>
#include <QQuickPaintedItem>
#include <QString>

namespace zephro {

// One symbol of the catalog, painted in one colour, size pixels square in the middle of the
// item however large the item is made, as text keeps its size in a stretched label.
// SymbolGlyph (QML) gives it the text colour.
class SymbolImage : public QQuickPaintedItem {
  Q_OBJECT
  QML_ELEMENT

  /// The symbol's name; an unknown one paints nothing.
  Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
  /// The colour the picture is filled with.
  Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
  /// The side of the square the symbol is drawn in, and the item's implicit size.
  Q_PROPERTY(qreal size READ size WRITE setSize NOTIFY sizeChanged)
  /// Thickens every line by a little, as a bold weight of a font would.
  Q_PROPERTY(bool bold READ bold WRITE setBold NOTIFY boldChanged)

 public:
  explicit SymbolImage(QQuickItem* parent = nullptr);

  void paint(QPainter* painter) override;

  [[nodiscard]] QString name() const { return name_; }
  void setName(const QString& name);
  [[nodiscard]] QColor color() const { return color_; }
  void setColor(const QColor& color);
  [[nodiscard]] qreal size() const { return size_; }
  void setSize(qreal size);
  [[nodiscard]] bool bold() const { return bold_; }
  void setBold(bool bold);

 signals:
  void nameChanged();
  void colorChanged();
  void sizeChanged();
  void boldChanged();

 private:
  QString name_;
  QColor color_{Qt::black};
  qreal size_ = 13;
  bool bold_ = false;
};

}  // namespace zephro
