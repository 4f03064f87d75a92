#pragma once

#include <QColor>
#include <QImage>
#include <QSizeF>
#include <QString>
#include <optional>
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

// How a tray host draws an item, learnt from the program that runs its watcher.
enum class TrayShape {
  square,    // a square icon scaled to the panel: xfce's systray, KDE Plasma, LXQt, XEmbed trays
  wide,      // the picture at its own size: waybar
  labelled,  // a square icon and the label text beside it: GNOME's AppIndicator, Ayatana panels
};

struct TrayHost {
  TrayShape shape = TrayShape::square;
  bool darkPanel = true;
};

// The host a watcher's program stands for; hosts not known here get square icons, which
// every host draws legibly.
[[nodiscard]] TrayShape trayShapeOf(const QString& program);
// GNOME's top bar is dark whatever the desktop's colour scheme.
[[nodiscard]] bool panelIsAlwaysDark(const QString& program);
// Whether the panel is dark as the host ships it (Xfce's and waybar's are), for when the
// desktop states no colour scheme; empty for hosts that follow the desktop's palette.
[[nodiscard]] std::optional<bool> panelIsDarkByDefault(const QString& program);

// The status item's picture geometry, in logical pixels (a font size of 11 is 11 pixels).
namespace status_picture {
inline constexpr double kHeight = 22;
inline constexpr double kIconGap = 4;
// The fan glyph's square; hosts scale the whole picture, so only proportions matter.
inline constexpr double kIconSize = 18;
// Hosts scale the picture to their icon size, often 16 pixels: the text is bold and as tall
// as the lines allow.
inline constexpr double kOneLineFontSize = 15;
inline constexpr double kTwoLineFontSize = 10;
// A square host scales its icon to about this size, so its text is set as large as fits.
inline constexpr double kSquareMaxFontSize = 16;
inline constexpr double kSquareMargin = 1;
// The glyph the item shows.
inline constexpr const char16_t* kSymbol = u"fan.fill";
}  // namespace status_picture

// How one reading is laid out, before anything is drawn.
struct StatusLayout {
  bool iconShown = false;
  // The reading: "", "52°C", "2200 RPM" or "52°C\n2200 RPM" (temperature on top).
  QString text;
  // What the picture draws of it: the reading, or in a square the temperature's number
  // ("52°") or else the speed in thousands ("2.2k"); nothing beside a label.
  QString drawnText;
  // In a square, the largest size tried; the text is set smaller until it fits.
  double fontSize = 0;
  // The picture's size; with no text it is the icon alone, centred in a square as tall
  // as the pictures with text, so that a host scaling them all keeps the icon's size.
  QSizeF size;
};

[[nodiscard]] StatusLayout layoutStatusPicture(const StatusReading& reading, TrayShape shape);

// The picture and its text, for the tooltip and the label beside it.
struct StatusPicture {
  QImage image;  // at the device pixel ratio asked for
  QString text;
};

// Draws the status item's picture for host at devicePixelRatio (1 or 2 for the tray's two
// sizes): the fan glyph and the text in the panel's ink, ringed by a thin outline of the
// opposite tone so that it stays legible on a panel whose colour was guessed wrong. The
// text font is the bundled DejaVu Sans, whose digits all have one width, so the text does
// not jitter as the numbers change.
[[nodiscard]] StatusPicture drawStatusPicture(const StatusReading& reading, const TrayHost& host,
                                              double devicePixelRatio,
                                              const SymbolCatalog& symbols);

}  // namespace zephro
