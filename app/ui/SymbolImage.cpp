#include "app/ui/SymbolImage.h"

#include <QPainter>
#include <QPainterPathStroker>
#include <QTransform>

#include "app/ui/SymbolCatalog.h"

namespace zephro {

namespace {

// The picture a unit of its 24 heavier, as a font's synthetic bold thickens its glyphs. Path
// operations flatten curves to half a unit, so they work on a copy twenty times the size.
QPainterPath emboldened(const QPainterPath& picture) {
  constexpr double kFine = 20;
  const QPainterPath large = QTransform::fromScale(kFine, kFine).map(picture);
  QPainterPathStroker stroker;
  stroker.setWidth(kFine);
  stroker.setCapStyle(Qt::RoundCap);
  stroker.setJoinStyle(Qt::RoundJoin);
  return QTransform::fromScale(1 / kFine, 1 / kFine).map(large.united(stroker.createStroke(large)));
}

}  // namespace

SymbolImage::SymbolImage(QQuickItem* parent) : QQuickPaintedItem(parent) {
  setAntialiasing(true);
  setImplicitSize(size_, size_);
}

void SymbolImage::paint(QPainter* painter) {
  const SymbolCatalog& catalog = SymbolCatalog::shared();
  const QRectF box(width() / 2 - size_ / 2, height() / 2 - size_ / 2, size_, size_);
  if (!bold_) {
    catalog.paint(*painter, name_, box, color_);
    return;
  }
  QTransform transform;
  transform.translate(box.x(), box.y());
  transform.scale(size_ / 24, size_ / 24);
  painter->setRenderHint(QPainter::Antialiasing);
  painter->fillPath(transform.map(emboldened(catalog.path(name_))), color_);
}

void SymbolImage::setName(const QString& name) {
  if (name == name_) return;
  name_ = name;
  emit nameChanged();
  update();
}

void SymbolImage::setColor(const QColor& color) {
  if (color == color_) return;
  color_ = color;
  emit colorChanged();
  update();
}

void SymbolImage::setSize(qreal size) {
  if (size == size_) return;
  size_ = size;
  setImplicitSize(size_, size_);
  emit sizeChanged();
  update();
}

void SymbolImage::setBold(bool bold) {
  if (bold == bold_) return;
  bold_ = bold;
  emit boldChanged();
  update();
}

}  // namespace zephro
