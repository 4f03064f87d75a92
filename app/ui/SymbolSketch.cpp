#include "app/ui/SymbolSketch.h"

#include <QPainterPathStroker>
#include <QTransform>
#include <cmath>
#include <numbers>

namespace zephro {

namespace {

// The finer square's scale: half a unit there is a fortieth of a design unit.
constexpr double kFine = 20;

// Where each font's baseline sits below the top of its design square, in ems: Material
// Icons stands on the square's bottom, Material Design Icons an eighth of an em higher.
constexpr std::array kBaseline{1.0, 0.875};

}  // namespace

SymbolSketch::SymbolSketch(const std::array<QRawFont, 2>& fonts) : fonts_(fonts) {
  ink_.setFillRule(Qt::WindingFill);
}

QPainterPath SymbolSketch::glyph(IconFont font, char32_t codepoint, const QRectF& box) const {
  const auto index = static_cast<std::size_t>(font);
  const QRawFont& face = fonts_.at(index);
  const QList<quint32> glyphs = face.glyphIndexesForString(QString::fromUcs4(&codepoint, 1));
  if (glyphs.size() != 1 || glyphs.front() == 0) return {};
  const double em = face.pixelSize();
  QTransform toBox;
  toBox.translate(box.x(), box.y());
  toBox.scale(box.width() / em, box.height() / em);
  toBox.translate(0, kBaseline.at(index) * em);
  QPainterPath path = toBox.map(face.pathForGlyph(glyphs.front()));
  // The fonts draw holes as contours turning the other way.
  path.setFillRule(Qt::WindingFill);
  return path;
}

void SymbolSketch::add(const QPainterPath& shape) {
  ink_ = ink_.united(fine(shape));
}

void SymbolSketch::cut(const QPainterPath& shape) {
  ink_ = ink_.subtracted(fine(shape));
}

void SymbolSketch::outline(const QPainterPath& shape, double weight) {
  ink_ = ink_.united(fine(shape).intersected(stroke(shape, 2 * weight)));
}

void SymbolSketch::line(const QPainterPath& path, double weight) {
  ink_ = ink_.united(stroke(path, weight));
}

void SymbolSketch::cutLine(const QPainterPath& path, double weight) {
  ink_ = ink_.subtracted(stroke(path, weight));
}

QPainterPath SymbolSketch::picture() const {
  return QTransform::fromScale(1 / kFine, 1 / kFine).map(ink_);
}

QPainterPath SymbolSketch::fine(const QPainterPath& path) {
  QPainterPath scaled = QTransform::fromScale(kFine, kFine).map(path);
  scaled.setFillRule(path.fillRule());
  return scaled;
}

QPainterPath SymbolSketch::stroke(const QPainterPath& path, double weight) {
  QPainterPathStroker stroker;
  stroker.setWidth(weight * kFine);
  stroker.setCapStyle(Qt::RoundCap);
  stroker.setJoinStyle(Qt::RoundJoin);
  QPainterPath outline = stroker.createStroke(fine(path));
  outline.setFillRule(Qt::WindingFill);
  return outline;
}

QPainterPath circle(double x, double y, double radius) {
  return ellipse(x, y, radius, radius);
}

QPainterPath ellipse(double x, double y, double radiusX, double radiusY) {
  QPainterPath path;
  path.addEllipse(QPointF(x, y), radiusX, radiusY);
  return path;
}

QPainterPath box(double x, double y, double width, double height, double radius) {
  QPainterPath path;
  path.addRoundedRect(QRectF(x, y, width, height), radius, radius);
  return path;
}

QPainterPath polyline(std::initializer_list<QPointF> points) {
  QPainterPath path;
  for (const QPointF& point : points) {
    if (path.elementCount() == 0) {
      path.moveTo(point);
    } else {
      path.lineTo(point);
    }
  }
  return path;
}

QPainterPath polygon(std::initializer_list<QPointF> points) {
  QPainterPath path = polyline(points);
  path.closeSubpath();
  return path;
}

QPainterPath arc(QPointF centre, double radius, double startDegrees, double sweepDegrees) {
  QPainterPath path;
  path.arcMoveTo(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius),
                 startDegrees);
  path.arcTo(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius), startDegrees,
             sweepDegrees);
  return path;
}

QPointF polar(QPointF centre, double radius, double degrees) {
  const double radians = degrees * std::numbers::pi / 180;
  return {centre.x() + radius * std::cos(radians), centre.y() - radius * std::sin(radians)};
}

}  // namespace zephro
