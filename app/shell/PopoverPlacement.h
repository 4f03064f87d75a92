#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace zephro {

// Where the popover goes for a click on the tray at `anchor`: centred under it when
// the tray is at the top of the screen, above it when at the bottom, and always
// inside the screen's available area.
[[nodiscard]] QPoint popoverPosition(QPoint anchor, QSize popover, QRect available);

// The tallest the popover may grow before it scrolls: the available height less a
// margin, or a fixed height without a screen.
[[nodiscard]] int popoverMaximumHeight(const QRect* available);

}  // namespace zephro
