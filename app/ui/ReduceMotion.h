#pragma once

#include <QString>
#include <optional>

namespace zephro {

// What the desktop says about animations, gathered from where each desktop keeps it.
struct MotionSettings {
  // ZEPHRO_REDUCE_MOTION: "1" forces reduced motion, "0" forces full motion.
  std::optional<QString> override;
  // KDE's [KDE] AnimationDurationFactor from kdeglobals; 0 turns animations off.
  std::optional<double> kdeAnimationDurationFactor;
  // GNOME's org.gnome.desktop.interface enable-animations.
  std::optional<bool> gnomeEnableAnimations;
};

// True when the settings ask for still pictures instead of motion.
[[nodiscard]] bool reducesMotion(const MotionSettings& settings);

// This desktop's settings: the environment, the user's kdeglobals, and gsettings where it
// is installed (asked once, with a short time limit, so a missing dconf never stalls).
[[nodiscard]] MotionSettings desktopMotionSettings();

// reducesMotion(desktopMotionSettings()), read once per process.
[[nodiscard]] bool desktopReducesMotion();

}  // namespace zephro
