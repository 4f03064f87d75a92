#include "app/shell/StatusPicture.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "app/ui/SymbolCatalog.h"
#include "app/viewmodel/StatusText.h"

namespace zephro {

namespace {

using namespace status_picture;

// Pictures are made at 72 dots per inch, so that a font's point size is its size in
// logical pixels, as the geometry is given.
constexpr int kDotsPerMeter = 2835;

QString textFamily() {
  static const QString family = [] {
    const int id =
        QFontDatabase::addApplicationFont(QStringLiteral(":/zephro/fonts/DejaVuSans.ttf"));
    return QFontDatabase::applicationFontFamilies(id).value(0, QStringLiteral("DejaVu Sans"));
  }();
  return family;
}

QFont textFont(double size) {
  QFont font(textFamily());
  font.setPointSizeF(size);
  // DejaVu Sans has no medium face; the nearest, its book weight, is what gets drawn.
  font.setWeight(QFont::Medium);
  return font;
}

double iconWidth(const StatusLayout& layout) {
  return layout.iconShown ? kIconSize + kIconGap : 0;
}

// The fan glyph, its ink centred in the icon square whose top left corner is origin:
// the two icon fonts place their glyphs differently within the line.
void drawIcon(QPainter& painter, const SymbolCatalog& symbols, QPointF origin) {
  const QString symbol = QString::fromUtf16(kSymbol);
  const QString glyph = symbols.glyph(symbol);
  const QFont font = symbols.font(symbol, static_cast<int>(kIconSize));
  const QRectF ink = QFontMetricsF(font, painter.device()).tightBoundingRect(glyph);
  painter.setFont(font);
  painter.drawText(QPointF(origin.x() + (kIconSize - ink.width()) / 2 - ink.left(),
                           origin.y() + (kIconSize - ink.height()) / 2 - ink.top()),
                   glyph);
}

void drawText(QPainter& painter, const StatusLayout& layout, const SymbolCatalog& symbols) {
  const QFont font = textFont(layout.fontSize);
  constexpr int flags = Qt::AlignLeft | Qt::AlignTop;
  const QSizeF measured =
      QFontMetricsF(font, painter.device()).boundingRect(QRectF(), flags, layout.text).size();
  const double textWidth = std::ceil(measured.width());
  const double x = std::max(0.0, (layout.size.width() - (textWidth + iconWidth(layout))) / 2);
  if (layout.iconShown) drawIcon(painter, symbols, QPointF(x, (kHeight - kIconSize) / 2));
  painter.setFont(font);
  painter.drawText(QRectF(x + iconWidth(layout), (kHeight - measured.height()) / 2, textWidth,
                          measured.height()),
                   flags, layout.text);
}

}  // namespace

StatusLayout layoutStatusPicture(const StatusReading& reading) {
  StatusLayout layout;
  const bool hasText = reading.showRPM || reading.showTemperature;
  layout.iconShown = !hasText || reading.showIcon;
  if (!hasText) {
    layout.size = QSizeF(kHeight, kHeight);
    return layout;
  }
  const QString temperature = temperatureText(reading.celsius, reading.useFahrenheit);
  const QString rpm = fanSpeedText(highestFanSpeed(reading.fans));
  double baseWidth = kBothWidth;
  if (reading.showRPM && reading.showTemperature) {
    layout.text = temperature + u'\n' + rpm;
    layout.fontSize = kTwoLineFontSize;
  } else if (reading.showTemperature) {
    layout.text = temperature;
    layout.fontSize = kOneLineFontSize;
    baseWidth = kTemperatureWidth;
  } else {
    layout.text = rpm;
    layout.fontSize = kOneLineFontSize;
    baseWidth = kRPMWidth;
  }
  layout.size = QSizeF(baseWidth + iconWidth(layout), kHeight);
  return layout;
}

StatusPicture drawStatusPicture(const StatusReading& reading, const QColor& color,
                                double devicePixelRatio, const SymbolCatalog& symbols) {
  const StatusLayout layout = layoutStatusPicture(reading);
  QImage image((layout.size * devicePixelRatio).toSize(), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(devicePixelRatio);
  image.setDotsPerMeterX(kDotsPerMeter);
  image.setDotsPerMeterY(kDotsPerMeter);
  image.fill(Qt::transparent);

  QPainter painter(&image);
  painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
  painter.setPen(color);
  if (layout.text.isEmpty()) {
    drawIcon(painter, symbols, QPointF((kHeight - kIconSize) / 2, (kHeight - kIconSize) / 2));
  } else {
    drawText(painter, layout, symbols);
  }
  painter.end();
  return {image, layout.text};
}

}  // namespace zephro
