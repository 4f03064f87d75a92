#pragma once

#include <QStringList>

namespace zephro {

class FanControlViewModel;

// Runs Zephro as the desktop's tray application until it quits: one instance per
// user, the status item, the popover, updates, and every way out through the quit
// coordinator. Needs a QApplication. Returns the exit code.
[[nodiscard]] int runTrayApplication(FanControlViewModel& viewModel, const QStringList& arguments);

}  // namespace zephro
