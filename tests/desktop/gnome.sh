#!/usr/bin/env bash
# Zephro's item in GNOME Shell's top bar, shown by the AppIndicator extension, with the
# shell as the X11 compositor of Xvfb: registered with the watcher the extension runs, its
# temperature legible beside its icon on the black bar, its menu opening the popover under
# the item and quitting Zephro, and nothing about it in the shell's log: no JavaScript
# error, no warning from the extension.
#   gnome.sh ZEPHRO OUTPUT_DIR
# shellcheck disable=SC2317 # the functions below run through desktop_wait
set -euo pipefail
# shellcheck source=tests/desktop/lib.sh
source "$(dirname "$0")/lib.sh"
desktop_init gnome "$@"

extension=ubuntu-appindicators@ubuntu.com
bar_height=32
# The bar right of the clock, where the extension puts items, left of the system menu.
bar_right=760

# The shell asks the system bus for logind, accounts, power and networks: a bus of its own,
# which starts none of them, answers at once that they are not there, whatever the machine
# runs.
cat >"$desktop_out/system-bus.conf" <<XML
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$XDG_RUNTIME_DIR/system-bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
XML
desktop_start system-bus dbus-daemon --nofork --config-file="$desktop_out/system-bus.conf"
desktop_wait "system bus socket" 60 test -S "$XDG_RUNTIME_DIR/system-bus"
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/system-bus"

# The extension on; the first-login welcome, the animations, the one-time notice that the
# screen cannot lock without GDM and notification banners (root is warned against at each
# start) off. dconf's service, which the session bus starts, keeps the settings in the
# fresh home.
gsettings set org.gnome.shell enabled-extensions "['$extension']"
gsettings set org.gnome.shell welcome-dialog-last-shown-version '999'
gsettings set org.gnome.desktop.interface enable-animations false
gsettings set org.gnome.desktop.notifications show-banners false
mkdir -p "$XDG_DATA_HOME/gnome-shell"
touch "$XDG_DATA_HOME/gnome-shell/lock-warning-shown"

desktop_start_xvfb
desktop_start gnome-shell env XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=x11 \
  gnome-shell --x11 --replace
desktop_wait "StatusNotifierWatcher from the AppIndicator extension" 180 \
  desktop_has_name org.kde.StatusNotifierWatcher

desktop_start_zephro xcb
desktop_wait_for_item

# The shell opens the overview as it starts up, where the bar is transparent; on the
# desktop it is black. Closed, and still closed a second later, once the start-up is over.
shell_overview() {
  gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
    -m "org.freedesktop.DBus.Properties.$1" org.gnome.Shell OverviewActive "${@:2}" 2>/dev/null
}
overview_closed() {
  shell_overview Set '<false>' >/dev/null && sleep 1 && shell_overview Get | grep -q false
}
desktop_wait "overview closed" 120 overview_closed
desktop_measure desktop_x_screenshot "$bar_right" 0 $((1280 - bar_right)) "$bar_height"

# A click on the item opens the extension's menu of it, and the menu's first entry the
# popover, under the bar at the item.
item_left=$(/usr/bin/python3 -c 'import sys
sys.path.insert(0, sys.argv[1])
import measure
print(measure.panel_region(sys.argv[2], sys.argv[3])[2][0])' \
  "$desktop_dir" "$desktop_out/screen.png" "$bar_right,0,$((1280 - bar_right)),$bar_height")
item_x=$((bar_right + item_left + 8))
xdotool mousemove "$item_x" $((bar_height / 2)) click 1
# The box, X Y WIDTH HEIGHT, around what the menu changed below the bar.
menu_open() {
  desktop_x_screenshot "$desktop_out/menu.png"
  menu_box=$(/usr/bin/python3 -c 'import sys
from PIL import Image, ImageChops
top = int(sys.argv[3])
shots = [Image.open(f).convert("RGB") for f in sys.argv[1:3]]
box = ImageChops.difference(*(s.crop((0, top, *s.size)) for s in shots)).getbbox()
print(box[0], box[1] + top, box[2] - box[0], box[3] - box[1]) if box else sys.exit(1)' \
    "$desktop_out/screen.png" "$desktop_out/menu.png" "$bar_height")
}
desktop_wait "the extension's menu of the item" 60 menu_open
read -r menu_x menu_y menu_width menu_height <<<"$menu_box"
desktop_log "menu: ${menu_width}x$menu_height at $menu_x,$menu_y"
# Two entries: the first one's middle is a quarter of the way down.
xdotool mousemove $((menu_x + menu_width / 2)) $((menu_y + menu_height / 4)) click 1
popover_window() {
  xdotool search --onlyvisible --pid "$desktop_zephro_pid" 2>/dev/null | head -n 1 | grep .
}
has_popover() { popover_window >/dev/null; }
desktop_wait "Zephro's popover on screen" 60 has_popover
eval "$(xdotool getwindowgeometry --shell "$(popover_window)")"
desktop_log "popover: ${WIDTH}x$HEIGHT at $X,$Y; item at x $item_x"
desktop_x_screenshot "$desktop_out/popover.png"
# The panel is 320 px and its shadow up to 12 px a side; it hangs a few pixels under the bar.
if [ "$WIDTH" -lt 320 ] || [ "$WIDTH" -gt 344 ] || [ "$Y" -lt "$bar_height" ] ||
  [ "$Y" -gt $((bar_height + 12)) ] || [ "$X" -gt "$item_x" ] || [ $((X + WIDTH)) -lt "$item_x" ]; then
  desktop_log "FAIL: the popover is not a panel under the bar at the item"
  desktop_failed=1
fi

# Its second entry quits Zephro, which hands the fans back as on any quit. The menu takes
# the focus from the popover, which closes.
xdotool mousemove "$item_x" $((bar_height / 2)) click 1
menu_alone() { ! popover_window >/dev/null && menu_open; }
desktop_wait "the extension's menu of the item, the popover closed" 60 menu_alone
read -r menu_x menu_y menu_width menu_height <<<"$menu_box"
xdotool mousemove $((menu_x + menu_width / 2)) $((menu_y + menu_height * 3 / 4)) click 1
zephro_ended() { [[ "$(ps -o stat= -p "$desktop_zephro_pid")" != [^Z]* ]]; }
desktop_wait "Zephro's end after its menu's quit entry" 60 zephro_ended
status=0
wait "$desktop_zephro_pid" || status=$?
quit_line='[Zephro] Successfully set mode to system on termination.'
if [ "$status" -ne 0 ] || ! grep -qF "$quit_line" "$desktop_out/zephro.log"; then
  desktop_log "FAIL: Zephro ended with status $status; its log should have: $quit_line"
  desktop_failed=1
else
  desktop_log "quit from the menu: status 0, the fans handed back"
fi

# The extension reports a faulty item as JavaScript errors, unhandled promise rejections
# or warnings of its own.
if complaints=$(grep -E 'JS ERROR|Unhandled promise rejection|AppIndicators-(WARNING|CRITICAL)' \
  "$desktop_out/gnome-shell.log"); then
  desktop_log "FAIL: the shell's log has:"
  printf '%s\n' "$complaints" >&2
  desktop_failed=1
else
  desktop_log "the shell's log has no JavaScript error nor warning from the extension"
fi
desktop_finish
