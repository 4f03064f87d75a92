// Draws the status item's picture for each display case at true scale, as each kind of tray
// host shows it on a light and on a dark panel, and the symbol catalog as a contact sheet,
// into PNG files for the docs and for review by eye:
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

// One panel strip per appearance, light above dark, each holding the picture as a square
// host, a wide host and a labelled host show it (the label in the panel's own font).
QImage onPanels(const StatusReading& reading, const zephro::SymbolCatalog& symbols) {
  using zephro::TrayShape;
  constexpr int kPanelHeight = 28;
  constexpr int kGap = 16;
  constexpr int kWidth = 300;
  QImage sheet(kWidth, 2 * kPanelHeight, QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&sheet);
  for (const bool dark : {false, true}) {
    const int top = dark ? kPanelHeight : 0;
    painter.fillRect(0, top, kWidth, kPanelHeight,
                     dark ? QColor(0x2a, 0x2a, 0x2e) : QColor(0xe8, 0xe8, 0xe8));
    int x = kGap / 2;
    for (const TrayShape shape : {TrayShape::square, TrayShape::wide, TrayShape::labelled}) {
      const auto picture = zephro::drawStatusPicture(reading, {shape, dark}, 1, symbols);
      const int y = top + (kPanelHeight - picture.image.height()) / 2;
      painter.drawImage(x, y, picture.image);
      x += picture.image.width() + 4;
      if (shape == TrayShape::labelled && !picture.text.isEmpty()) {
        painter.setPen(dark ? Qt::white : QColor(0x1c, 0x1c, 0x1e));
        const QString label = QString(picture.text).replace(u'\n', u' ');
        painter.drawText(QRect(x, top, kWidth - x, kPanelHeight), Qt::AlignVCenter, label);
      }
      x += kGap;
    }
  }
  return sheet;
}

QImage contactSheet(const zephro::SymbolCatalog& symbols) {
  constexpr int kColumns = 8;
  constexpr int kCellWidth = 190;
  constexpr int kCellHeight = 64;
  // At twice the pixels, where a reader sees whether two pictures differ.
  constexpr int kRatio = 2;
  const auto table = zephro::SymbolCatalog::table();
  const int rows = static_cast<int>((table.size() + kColumns - 1) / kColumns);
  QImage sheet(kColumns * kCellWidth * kRatio, rows * kCellHeight * kRatio,
               QImage::Format_ARGB32_Premultiplied);
  sheet.setDevicePixelRatio(kRatio);
  sheet.fill(Qt::white);
  QPainter painter(&sheet);
  painter.setPen(Qt::black);
  QFont label;
  label.setPixelSize(10);
  painter.setFont(label);
  for (std::size_t i = 0; i < table.size(); ++i) {
    const QString name =
        QString::fromLatin1(table[i].name.data(), static_cast<qsizetype>(table[i].name.size()));
    const int x = static_cast<int>(i % kColumns) * kCellWidth;
    const int y = static_cast<int>(i / kColumns) * kCellHeight;
    symbols.paint(painter, name, QRectF(x + (kCellWidth - 24) / 2.0, y + 8, 24, 24), Qt::black);
    painter.drawText(QRect(x, y + 40, kCellWidth, 16), Qt::AlignCenter, name);
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
