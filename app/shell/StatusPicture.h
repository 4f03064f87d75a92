#pragma once

#include <QColor>
#include <QImage>
#include <QSizeF>
#include <QString>
#include <vector>

#include "protocol/FanInfoDTO.h"

namespace zephro {

class SymbolCatalog;

// What the status item shows, read from the settings and the view model's last values.
struct StatusReading {
  bool showRPM = false;          // "showRPMInMenuBar"
  bool showTemperature = false;  // "showTempInMenuBar"
  bool showIcon = true;          // "showIconInMenuBar" as stored; forced on without text
  bool useFahrenheit = false;    // "useFahrenheit"
  std::vector<FanInfoDTO> fans;  // the highest currentRPM is shown
  double celsius = 0;            // systemTemperature
};

// The status item's picture geometry, in logical pixels (a font size of 11 is 11 pixels).
namespace status_picture {
inline constexpr double kHeight = 22;
inline constexpr double kIconGap = 4;
// The fan glyph's square; hosts scale the whole picture, so only proportions matter.
inline constexpr double kIconSize = 18;
inline constexpr double kOneLineFontSize = 11;
inline constexpr double kTwoLineFontSize = 9.5;
inline constexpr double kTemperatureWidth = 36;
inline constexpr double kRPMWidth = 60;
inline constexpr double kBothWidth = 54;
// The glyph the item shows.
inline constexpr const char16_t* kSymbol = u"fan.fill";
}  // namespace status_picture

// How one reading is laid out, before anything is drawn.
struct StatusLayout {
  bool iconShown = false;
  // "", "52°C", "2200 RPM" or "52°C\n2200 RPM" (temperature on top).
  QString text;
  double fontSize = 0;
  // The picture's size; with no text it is the icon alone, centred in a square as tall
  // as the pictures with text, so that a host scaling them all keeps the icon's size.
  QSizeF size;
};

[[nodiscard]] StatusLayout layoutStatusPicture(const StatusReading& reading);

// The picture and its text, for the tooltip and the label beside it.
struct StatusPicture {
  QImage image;  // at the device pixel ratio asked for
  QString text;
};

// Draws the status item's picture at devicePixelRatio (1 or 2 for the tray's two sizes):
// the fan glyph and the text, all in colour, as a template picture takes the colour of
// the panel's text. The text font is the bundled DejaVu Sans, whose digits all have one
// width, so the text does not jitter as the numbers change.
[[nodiscard]] StatusPicture drawStatusPicture(const StatusReading& reading, const QColor& color,
                                              double devicePixelRatio,
                                              const SymbolCatalog& symbols);

}  // namespace zephro
