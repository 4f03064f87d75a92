#pragma once

#include <QPalette>
#include <QString>
#include <array>
#include <optional>

namespace zephro {

class UserDefaults;

// The colour appearance the user picked for the application's own surfaces,
// stored under "appearanceMode" as its raw value.
enum class AppearanceMode {
  system,  // follow the desktop
  light,
  dark,
};

inline constexpr std::array allAppearanceModes{AppearanceMode::system, AppearanceMode::light,
                                               AppearanceMode::dark};

[[nodiscard]] QString rawValue(AppearanceMode mode);
// Any text other than the three raw values reads as system.
[[nodiscard]] AppearanceMode appearanceModeFromRaw(const QString& raw);
// The stored mode; a missing or unknown text reads as system and is left as it is.
[[nodiscard]] AppearanceMode currentAppearanceMode(const UserDefaults& defaults);

// An on-screen appearance: a light or a dark palette.
enum class Appearance {
  light,
  dark,
};

// The application-wide appearance the mode asks for; none means follow the desktop.
[[nodiscard]] std::optional<Appearance> applicationAppearance(AppearanceMode mode);
// The popover's appearance, given the application's effective appearance.
[[nodiscard]] Appearance popoverAppearance(AppearanceMode mode, Appearance effective);

// Whether a palette reads as dark: its window is darker than the text on it.
// A palette with no contrast between the two is taken as light.
[[nodiscard]] Appearance appearanceOfPalette(const QPalette& palette);
// The application's palettes for the two appearances.
[[nodiscard]] QPalette paletteFor(Appearance appearance);

// Sets the application-wide palette for the mode: the light or dark palette, or
// back to the desktop's own palette for system. Needs a QGuiApplication.
void applyApplicationAppearance(AppearanceMode mode);
// The application's current effective appearance, read from its palette.
[[nodiscard]] Appearance effectiveApplicationAppearance();

}  // namespace zephro
