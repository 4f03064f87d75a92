// Draws the status item's picture for each display case at 2x, and the symbol catalog as
// a contact sheet, into PNG files for the docs and for review by eye:
//   zephro-status-pictures OUTPUT_DIR
#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QTextStream>
#include <cstdio>

#include "app/shell/StatusPicture.h"
#include "app/ui/SymbolCatalog.h"

namespace {

using zephro::FanInfoDTO;
using zephro::StatusReading;

struct Case {
  const char* file;
  bool temperature;
  bool rpm;
  bool icon;
};

constexpr Case kCases[] = {
    {"status-item-icon.png", false, false, true},
    {"status-item-temperature.png", true, false, true},
    {"status-item-rpm.png", false, true, true},
    {"status-item-both.png", true, true, false},
};

// Two fans at work and 51.5 °C.
StatusReading sample(const Case& shown) {
  StatusReading reading;
  reading.showTemperature = shown.temperature;
  reading.showRPM = shown.rpm;
  reading.showIcon = shown.icon;
  reading.celsius = 51.5;
  reading.fans = {FanInfoDTO(0, 2200.4, 1200, 6000, zephro::FanMode::system),
                  FanInfoDTO(1, 2150, 1200, 6000, zephro::FanMode::system)};
  return reading;
}

// The picture on a light and on a dark panel, in each panel's text colour.
QImage onPanels(const StatusReading& reading, const zephro::SymbolCatalog& symbols) {
  constexpr int kScale = 2;
  const QImage light =
      zephro::drawStatusPicture(reading, QColor(0x20, 0x20, 0x20), kScale, symbols).image;
  const QImage dark =
      zephro::drawStatusPicture(reading, QColor(0xf0, 0xf0, 0xf0), kScale, symbols).image;
  constexpr int kMargin = 8;
  QImage sheet(light.width() + 2 * kMargin, 2 * (light.height() + 2 * kMargin),
               QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&sheet);
  const int half = sheet.height() / 2;
  painter.fillRect(0, 0, sheet.width(), half, QColor(0xe8, 0xe8, 0xe8));
  painter.fillRect(0, half, sheet.width(), half, QColor(0x2a, 0x2a, 0x2e));
  painter.drawImage(kMargin, kMargin, light);
  painter.drawImage(kMargin, half + kMargin, dark);
  return sheet;
}

QImage contactSheet(const zephro::SymbolCatalog& symbols) {
  constexpr int kColumns = 8;
  constexpr int kCellWidth = 150;
  constexpr int kCellHeight = 70;
  const auto table = zephro::SymbolCatalog::table();
  const int rows = static_cast<int>((table.size() + kColumns - 1) / kColumns);
  QImage sheet(kColumns * kCellWidth, rows * kCellHeight, QImage::Format_ARGB32_Premultiplied);
  sheet.fill(Qt::white);
  QPainter painter(&sheet);
  painter.setPen(Qt::black);
  QFont label;
  label.setPixelSize(10);
  for (std::size_t i = 0; i < table.size(); ++i) {
    const QString name =
        QString::fromLatin1(table[i].name.data(), static_cast<qsizetype>(table[i].name.size()));
    const int x = static_cast<int>(i % kColumns) * kCellWidth;
    const int y = static_cast<int>(i / kColumns) * kCellHeight;
    painter.setFont(symbols.font(name, 32));
    painter.drawText(QRect(x, y + 4, kCellWidth, 40), Qt::AlignCenter, symbols.glyph(name));
    painter.setFont(label);
    painter.drawText(QRect(x, y + 48, kCellWidth, 16), Qt::AlignCenter, name);
  }
  return sheet;
}

}  // namespace

int main(int argc, char** argv) {
  const QGuiApplication app(argc, argv);
  QTextStream err(stderr);
  if (argc != 2) {
    err << "usage: zephro-status-pictures OUTPUT_DIR\n";
    return 2;
  }
  const QDir output(QString::fromLocal8Bit(argv[1]));
  if (!output.mkpath(QStringLiteral("."))) {
    err << "cannot create " << output.path() << "\n";
    return 1;
  }
  const auto& symbols = zephro::SymbolCatalog::shared();
  QTextStream out(stdout);
  for (const Case& shown : kCases) {
    const QString path = output.filePath(QString::fromLatin1(shown.file));
    if (!onPanels(sample(shown), symbols).save(path)) {
      err << "cannot write " << path << "\n";
      return 1;
    }
    out << path << "\n";
  }
  const QString sheet = output.filePath(QStringLiteral("symbols.png"));
  if (!contactSheet(symbols).save(sheet)) {
    err << "cannot write " << sheet << "\n";
    return 1;
  }
  out << sheet << "\n";
  return 0;
}
