#!/usr/bin/env bash
# Zephro's item in lxqt-panel's Status Notifier plugin on Xvfb, without the rest of the
# LXQt session: registered with the watcher, and its temperature legible in the panel.
#   lxqt.sh ZEPHRO OUTPUT_DIR
set -euo pipefail
# shellcheck source=tests/desktop/lib.sh
source "$(dirname "$0")/lib.sh"
desktop_init lxqt "$@"

# One panel at the top holding only the plugin, at the panel's default sizes.
panel_size=32
mkdir -p "$XDG_CONFIG_HOME/lxqt"
cat >"$XDG_CONFIG_HOME/lxqt/panel.conf" <<INI
[General]
__userfile__=true

[panel1]
plugins=statusnotifier
position=Top
desktop=0
panelSize=$panel_size
iconSize=22

[statusnotifier]
type=statusnotifier
INI

desktop_start_xvfb
# startlxqt adds /usr/share to the configuration folders: LXQt's default theme is there.
desktop_start lxqt-panel env XDG_CONFIG_DIRS=/etc/xdg:/usr/share lxqt-panel
desktop_wait "StatusNotifierWatcher from lxqt-panel" 120 \
  desktop_has_name org.kde.StatusNotifierWatcher
desktop_start_zephro xcb
desktop_wait_for_item
desktop_measure desktop_x_screenshot 0 0 1280 "$panel_size"
desktop_finish
