#include "app/shell/StatusPicture.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <algorithm>
#include <cmath>

#include "app/ui/SymbolCatalog.h"
#include "app/viewmodel/StatusText.h"

namespace zephro {

namespace {

using namespace status_picture;

// The outline's width in logical pixels, and how much of the panel it hides.
constexpr double kOutlineWidth = 1.5;
constexpr int kOutlineAlpha = 170;

QString textFamily() {
  static const QString family = [] {
    QFontDatabase::addApplicationFont(QStringLiteral(":/zephro/fonts/DejaVuSans-Bold.ttf"));
    const int id =
        QFontDatabase::addApplicationFont(QStringLiteral(":/zephro/fonts/DejaVuSans.ttf"));
    return QFontDatabase::applicationFontFamilies(id).value(0, QStringLiteral("DejaVu Sans"));
  }();
  return family;
}

// Text is shaped at a large pixel size and scaled to the size asked for: fonts take only
// whole pixel sizes, and point sizes would depend on the screen's dots per inch.
constexpr int kShapingSize = 100;

QFont textFont(bool bold) {
  QFont font(textFamily());
  font.setPixelSize(kShapingSize);
  // DejaVu Sans has no medium face; the nearest, its book weight, is what gets drawn.
  font.setWeight(bold ? QFont::Bold : QFont::Medium);
  return font;
}

// One size of the text face, measured and drawn in logical pixels.
struct TextFace {
  QFont font;
  double scale;

  TextFace(double size, bool bold) : font(textFont(bold)), scale(size / kShapingSize) {}
  [[nodiscard]] double advance(const QString& text) const {
    return QFontMetricsF(font).horizontalAdvance(text) * scale;
  }
  [[nodiscard]] double ascent() const { return QFontMetricsF(font).ascent() * scale; }
  [[nodiscard]] double lineHeight() const { return QFontMetricsF(font).height() * scale; }
  void addText(QPainterPath& path, QPointF baseline, const QString& text) const {
    QPainterPath shaped;
    shaped.addText(QPointF(), font, text);
    path.addPath(
        QTransform::fromTranslate(baseline.x(), baseline.y()).scale(scale, scale).map(shaped));
  }
};

QColor ink(const TrayHost& host) {
  return host.darkPanel ? QColor(0xff, 0xff, 0xff) : QColor(0x1c, 0x1c, 0x1e);
}

QColor outline(const TrayHost& host) {
  QColor colour = host.darkPanel ? QColor(0, 0, 0) : QColor(0xff, 0xff, 0xff);
  colour.setAlpha(kOutlineAlpha);
  return colour;
}

// The speed in thousands, with one decimal below ten thousand: "2.2k", "12k".
QString compactSpeedText(long long rpm) {
  constexpr double kThousand = 1000;
  constexpr long long kTenThousand = 10000;
  const double thousands = std::trunc(static_cast<double>(rpm) / (kThousand / 10)) / 10;
  return QString::number(thousands, 'f', rpm < kTenThousand ? 1 : 0) + u'k';
}

double iconWidth(const StatusLayout& layout) {
  return layout.iconShown ? kIconSize + kIconGap : 0;
}

// Outline first, then the ink over it, so the outline only rings the shapes.
void paintOutlined(QPainter& painter, const QPainterPath& path, const TrayHost& host) {
  painter.strokePath(
      path, QPen(outline(host), 2 * kOutlineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.fillPath(path, ink(host));
}

// The fan glyph, its ink centred in the icon square whose top left corner is origin:
// the two icon fonts place their glyphs differently within the line.
void drawIcon(QPainter& painter, const SymbolCatalog& symbols, QPointF origin,
              const TrayHost& host) {
  const QString symbol = QString::fromUtf16(kSymbol);
  const QString glyph = symbols.glyph(symbol);
  const QFont font = symbols.font(symbol, static_cast<int>(kIconSize));
  const QRectF inkBox = QFontMetricsF(font, painter.device()).tightBoundingRect(glyph);
  QPainterPath path;
  path.addText(QPointF(origin.x() + (kIconSize - inkBox.width()) / 2 - inkBox.left(),
                       origin.y() + (kIconSize - inkBox.height()) / 2 - inkBox.top()),
               font, glyph);
  paintOutlined(painter, path, host);
}

// Lines of text, each centred in the band that starts at left, the block centred
// vertically.
void drawLines(QPainter& painter, const TextFace& face, const QStringList& lines, double left,
               double width, const TrayHost& host) {
  const double blockHeight = face.lineHeight() * static_cast<double>(lines.size());
  double baseline = (kHeight - blockHeight) / 2 + face.ascent();
  QPainterPath path;
  for (const QString& line : lines) {
    face.addText(path, QPointF(left + (width - face.advance(line)) / 2, baseline), line);
    baseline += face.lineHeight();
  }
  paintOutlined(painter, path, host);
}

// The widest line, in whole pixels: DejaVu's digits share one width, so the picture only
// changes width when the number of digits does.
double textWidth(const StatusLayout& layout) {
  const TextFace face(layout.fontSize, true);
  double widest = 0;
  for (const QString& line : layout.drawnText.split(u'\n')) {
    widest = std::max(widest, face.advance(line));
  }
  return std::ceil(widest);
}

void drawWide(QPainter& painter, const StatusLayout& layout, const SymbolCatalog& symbols,
              const TrayHost& host) {
  const double width = textWidth(layout);
  const double x = std::max(0.0, (layout.size.width() - (width + iconWidth(layout))) / 2);
  if (layout.iconShown) drawIcon(painter, symbols, QPointF(x, (kHeight - kIconSize) / 2), host);
  drawLines(painter, TextFace(layout.fontSize, true), layout.drawnText.split(u'\n'),
            x + iconWidth(layout), width, host);
}

// The text as large as fits the square, bold, so that it reads when the host scales the
// square down to its panel.
void drawSquare(QPainter& painter, const StatusLayout& layout, const TrayHost& host) {
  const double room = kHeight - 2 * kSquareMargin;
  const double fitting =
      layout.fontSize * room / TextFace(layout.fontSize, true).advance(layout.drawnText);
  drawLines(painter, TextFace(std::min(layout.fontSize, fitting), true), {layout.drawnText},
            kSquareMargin, room, host);
}

}  // namespace

TrayShape trayShapeOf(const QString& program) {
  if (program == u"waybar") return TrayShape::wide;
  if (program == u"gnome-shell" || program.startsWith(u"ayatana-indicator") ||
      program.startsWith(u"indicator-appli")) {
    return TrayShape::labelled;
  }
  return TrayShape::square;
}

bool panelIsAlwaysDark(const QString& program) {
  return program == u"gnome-shell";
}

std::optional<bool> panelIsDarkByDefault(const QString& program) {
  // Xfce's systray runs in the panel or, as an external plugin, in a wrapper process that
  // names itself panel-N-systray.
  if (program == u"xfce4-panel" ||
      (program.startsWith(u"panel-") && program.endsWith(u"-systray")) || program == u"waybar") {
    return true;
  }
  return std::nullopt;
}

StatusLayout layoutStatusPicture(const StatusReading& reading, TrayShape shape) {
  StatusLayout layout;
  const bool hasText = reading.showRPM || reading.showTemperature;
  layout.iconShown = !hasText || reading.showIcon;
  layout.size = QSizeF(kHeight, kHeight);
  if (!hasText) return layout;
  const QString temperature = temperatureText(reading.celsius, reading.useFahrenheit);
  const long long speed = highestFanSpeed(reading.fans);
  const QString rpm = fanSpeedText(speed);
  if (reading.showRPM && reading.showTemperature) {
    layout.text = temperature + u'\n' + rpm;
    layout.fontSize = kTwoLineFontSize;
  } else {
    layout.text = reading.showTemperature ? temperature : rpm;
    layout.fontSize = kOneLineFontSize;
  }
  switch (shape) {
    case TrayShape::wide:
      layout.drawnText = layout.text;
      layout.size = QSizeF(textWidth(layout) + 2 * kOutlineWidth + iconWidth(layout), kHeight);
      break;
    case TrayShape::square:
      // The unit letter goes: "52°" is the temperature wherever it is read.
      layout.drawnText = reading.showTemperature ? temperature.chopped(1) : compactSpeedText(speed);
      layout.fontSize = kSquareMaxFontSize;
      layout.iconShown = false;
      break;
    case TrayShape::labelled:
      layout.iconShown = true;
      layout.fontSize = 0;
      break;
  }
  return layout;
}

StatusPicture drawStatusPicture(const StatusReading& reading, const TrayHost& host,
                                double devicePixelRatio, const SymbolCatalog& symbols) {
  const StatusLayout layout = layoutStatusPicture(reading, host.shape);
  QImage image((layout.size * devicePixelRatio).toSize(), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(devicePixelRatio);
  image.fill(Qt::transparent);

  QPainter painter(&image);
  painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
  if (layout.drawnText.isEmpty()) {
    drawIcon(painter, symbols, QPointF((kHeight - kIconSize) / 2, (kHeight - kIconSize) / 2), host);
  } else if (host.shape == TrayShape::square) {
    drawSquare(painter, layout, host);
  } else {
    drawWide(painter, layout, symbols, host);
  }
  painter.end();
  return {image, layout.text};
}

}  // namespace zephro
