#!/usr/bin/env bash
# Zephro under headless sway with waybar's tray as the StatusNotifierItem host, as a
# Wayland client: registered with the watcher, its temperature legible in the bar, and the
# popover, once the item is activated, a floating window of its 320-px panel's width.
#   sway.sh ZEPHRO OUTPUT_DIR
# shellcheck disable=SC2317 # the functions below run through desktop_wait
set -euo pipefail
# shellcheck source=tests/desktop/lib.sh
source "$(dirname "$0")/lib.sh"
desktop_init waybar "$@"

# Waybar's own settings of the tray and the bar, with nothing else in the bar.
bar_height=30
cat >"$desktop_out/waybar.json" <<JSON
{"position": "top", "height": $bar_height, "modules-right": ["tray"], "tray": {"spacing": 10}}
JSON
# sway refuses to run as root, so there it runs as nobody, in folders of its own; as
# another user it could not reach this session bus either, so waybar is started here.
desktop_scratch_dir
sway_dir=${desktop_scratch[-1]}
mkdir -m 0700 "$sway_dir/runtime"
printf 'output HEADLESS-1 resolution 1280x800\nxwayland disable\n' >"$sway_dir/sway.conf"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  chown nobody:nogroup "$sway_dir/runtime"
fi
desktop_start sway env WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
  XDG_RUNTIME_DIR="$sway_dir/runtime" HOME="$sway_dir" "${as_user[@]}" sway -c "$sway_dir/sway.conf"
sway_socket() {
  SWAYSOCK=$(find "$sway_dir/runtime" -maxdepth 1 -name 'sway-ipc.*.sock' | head -n 1)
  # An absolute path: the clients keep this test's own runtime folder.
  WAYLAND_DISPLAY=$(find "$sway_dir/runtime" -maxdepth 1 -name 'wayland-[0-9]' | head -n 1)
  [ -n "$SWAYSOCK" ] && [ -n "$WAYLAND_DISPLAY" ] &&
    SWAYSOCK=$SWAYSOCK swaymsg -t get_version >/dev/null 2>&1
}
desktop_wait "sway answering on its socket" 120 sway_socket
export SWAYSOCK WAYLAND_DISPLAY
desktop_start waybar waybar -c "$desktop_out/waybar.json" -s /etc/xdg/waybar/style.css
desktop_wait "StatusNotifierWatcher from waybar" 120 desktop_has_name org.kde.StatusNotifierWatcher
desktop_start_zephro wayland
desktop_wait_for_item

desktop_measure grim 0 0 1280 "$bar_height"

# The popover's window in sway's tree: "floating <width>" or "tiled <width>".
popover_window() {
  swaymsg -t get_tree | /usr/bin/python3 -c '
import json, sys
def walk(node, floating):
    if node.get("pid") == int(sys.argv[1]) and node.get("visible"):
        print("floating" if floating else "tiled", node["rect"]["width"], node.get("app_id"))
        return True
    return any(walk(child, False) for child in node.get("nodes", [])) or \
        any(walk(child, True) for child in node.get("floating_nodes", []))
sys.exit(0 if walk(json.load(sys.stdin), False) else 1)' "$desktop_zephro_pid"
}
gdbus call --session -d "$desktop_item_bus" -o /StatusNotifierItem \
  -m org.kde.StatusNotifierItem.Activate 0 0 >/dev/null
has_popover() { popover_window >/dev/null; }
desktop_wait "visible window of Zephro in sway's tree" 120 has_popover
read -r placement width app_id < <(popover_window)
desktop_log "popover: $placement window $width px wide (app_id $app_id)"
grim "$desktop_out/popover.png"
# The panel is 320 px; where the desktop composites, the window adds 8 px of shadow on
# each side, and sway its border.
if [ "$placement" != floating ] || [ "$width" -lt 320 ] || [ "$width" -gt 344 ]; then
  desktop_log "FAIL: the popover is not a floating window of the popover's width"
  desktop_failed=1
fi
desktop_finish
