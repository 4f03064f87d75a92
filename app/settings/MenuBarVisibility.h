#pragma once

namespace zephro {

class UserDefaults;

// Whether the status item shows any text: the highest fan speed or the temperature.
[[nodiscard]] bool isMenuBarTextVisible(const UserDefaults& defaults);

// Keeps something in the menu bar: with both texts off, the icon is switched back on.
void ensureMenuBarIconVisible(UserDefaults& defaults);

}  // namespace zephro
