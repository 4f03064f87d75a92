#pragma once

namespace zephro {

class UserDefaults;

// Whether the status item shows any text: the highest fan speed or the temperature.
[[nodiscard]] bool isMenuBarTextVisible(const UserDefaults& defaults);

// Keeps something in the menu bar: with both texts off, the icon is switched back on.
void ensureMenuBarIconVisible(UserDefaults& defaults);

// Whether the status item draws its icon: as stored, and always when there is no text,
// so a stale "off" can never leave the item empty.
[[nodiscard]] bool isMenuBarIconShown(const UserDefaults& defaults);

}  // namespace zephro
