#pragma once

#include <QPainterPath>
#include <QPointF>
#include <QRawFont>
#include <QRectF>
#include <array>
#include <initializer_list>

namespace zephro {

// The two icon fonts the application bundles: Material Icons draws most symbols, Material
// Design Icons the few the first lacks (a plain fan).
enum class IconFont { materialIcons, materialDesignIcons };

// A symbol's picture under construction, in the icon fonts' 24-unit design square, y down:
// shapes are added and cut away one after another, as a designer builds an icon. The
// boolean operations flatten curves to half a unit of the space they work in, so they work
// in a finer copy of the square and the result is scaled back.
class SymbolSketch {
 public:
  // fonts holds each IconFont's face, in enum order.
  explicit SymbolSketch(const std::array<QRawFont, 2>& fonts);

  // The glyph of a font, its design square fitted into box; empty when the font lacks it.
  [[nodiscard]] QPainterPath glyph(IconFont font, char32_t codepoint,
                                   const QRectF& box = QRectF(0, 0, 24, 24)) const;

  void add(const QPainterPath& shape);
  void cut(const QPainterPath& shape);
  // The shape's inner rim, weight wide: the plain form of a filled shape. Parts thinner than
  // twice the weight stay whole.
  void outline(const QPainterPath& shape, double weight);
  // A line of the given weight along path, with round ends and joins.
  void line(const QPainterPath& path, double weight);
  // Clears a band around path, so that what is drawn there next stands apart.
  void cutLine(const QPainterPath& path, double weight);

  // The picture so far, in design units.
  [[nodiscard]] QPainterPath picture() const;

 private:
  [[nodiscard]] static QPainterPath fine(const QPainterPath& path);
  [[nodiscard]] static QPainterPath stroke(const QPainterPath& path, double weight);

  const std::array<QRawFont, 2>& fonts_;
  QPainterPath ink_;
};

// Shapes in design units.
[[nodiscard]] QPainterPath circle(double x, double y, double radius);
[[nodiscard]] QPainterPath ellipse(double x, double y, double radiusX, double radiusY);
[[nodiscard]] QPainterPath box(double x, double y, double width, double height, double radius = 0);
// An open path through points.
[[nodiscard]] QPainterPath polyline(std::initializer_list<QPointF> points);
// A closed path through points.
[[nodiscard]] QPainterPath polygon(std::initializer_list<QPointF> points);
// Part of a circle, from startDegrees (anticlockwise from three o'clock) sweeping sweepDegrees.
[[nodiscard]] QPainterPath arc(QPointF centre, double radius, double startDegrees,
                               double sweepDegrees);
// The point at radius from centre, degrees anticlockwise from three o'clock.
[[nodiscard]] QPointF polar(QPointF centre, double radius, double degrees);

}  // namespace zephro
