#include "app/shell/PopoverPlacement.h"

#include <algorithm>

namespace zephro {
namespace {

constexpr int kScreenMargin = 24;
constexpr int kHeightWithoutScreen = 576;
constexpr int kGapToTray = 4;

}  // namespace

QPoint popoverPosition(QPoint anchor, QSize popover, QRect available) {
  const bool trayAtBottom = anchor.y() > available.center().y();
  int x = anchor.x() - popover.width() / 2;
  int y = trayAtBottom ? anchor.y() - kGapToTray - popover.height() : anchor.y() + kGapToTray;
  // A popover larger than the screen keeps its top-left corner on it.
  x = std::max(available.left(), std::min(x, available.right() + 1 - popover.width()));
  y = std::max(available.top(), std::min(y, available.bottom() + 1 - popover.height()));
  return {x, y};
}

int popoverMaximumHeight(const QRect* available) {
  return available ? available->height() - kScreenMargin : kHeightWithoutScreen;
}

}  // namespace zephro
