# shellcheck shell=bash
# What the desktop tests share: a fresh home, a virtual display, the real zephro against
# the development helper on its emulated laptop, the status item read back from the
# watcher, and the panel's screenshot measured by measure.py.
#
# A host script, called with ZEPHRO OUTPUT_DIR, sources this file and calls
# desktop_init HOST "$@". Every process started here is stopped on exit.
# ZEPHRO_DESKTOP_SCREENSHOTS=DIR copies the panel's screenshot to DIR/tray-HOST.png.

desktop_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
desktop_pids=()
desktop_scratch=()
# Set by a failed check that lets the later ones run; desktop_finish exits with it.
desktop_failed=0

desktop_log() {
  printf '%s: %s\n' "$desktop_host" "$*"
}

desktop_fail() {
  desktop_log "FAIL: $*" >&2
  exit 1
}

# Runs CONDITION... until it succeeds; fails with WHAT after SECONDS. Only a deadline
# that nothing meets fails, so a slow machine waits longer and passes.
desktop_wait() {
  local what=$1 seconds=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || desktop_fail "no $what after ${seconds} s"
    sleep 0.3
  done
}

# Last started, first stopped: zephro hands the fans back while its display is still there.
desktop_stop() {
  local i pid
  for ((i = ${#desktop_pids[@]} - 1; i >= 0; i--)); do
    pid=${desktop_pids[i]}
    kill -TERM "$pid" 2>/dev/null || continue
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  done
  rm -rf "${desktop_scratch[@]}"
  # The helper that zephro's launch check started is not zephro's child.
  local record="$XDG_RUNTIME_DIR/zephro/helper-registration" helper
  if [ -f "$record" ]; then
    helper=$(sed -n 's/^pid=\([0-9]*\)$/\1/p' "$record")
    case "$(readlink "/proc/${helper:-0}/exe" 2>/dev/null || true)" in
      */com.zephro.helper) kill -TERM "$helper" ;;
    esac
  fi
}

# desktop_init HOST ZEPHRO OUTPUT_DIR ARGS...: runs the calling script again on a session
# bus of its own, then lays out a fresh home with Zephro set to show the temperature.
desktop_init() {
  desktop_host=$1
  desktop_zephro=$2
  desktop_out=$3
  shift 3
  # The bus starts the services it activates (xfconfd) with its own environment, so the
  # fresh home is set before the bus is.
  export HOME="$desktop_out/home" XDG_CONFIG_HOME="$desktop_out/config"
  export XDG_DATA_HOME="$desktop_out/data" XDG_CACHE_HOME="$desktop_out/cache"
  export XDG_RUNTIME_DIR="$desktop_out/runtime" NO_AT_BRIDGE=1
  unset DISPLAY WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE SWAYSOCK
  if [ -z "${ZEPHRO_DESKTOP_OWN_BUS:-}" ]; then
    rm -rf "$desktop_out"
    mkdir -p "$desktop_out"/{home,config/zephro,data,cache,runtime}
    chmod 0700 "$desktop_out/runtime"
    ZEPHRO_DESKTOP_OWN_BUS=1 exec dbus-run-session -- "$0" "$desktop_zephro" "$desktop_out" "$@"
  fi
  cat >"$XDG_CONFIG_HOME/zephro/com.zephro.app.json" <<'EOF'
{"showTempInMenuBar": true, "showRPMInMenuBar": false, "showIconInMenuBar": true,
 "hasSeenOnboarding": true}
EOF
  trap desktop_stop EXIT
}

# A folder outside the build tree, which another user can reach whatever the tree's
# permissions; removed on exit.
desktop_scratch_dir() {
  desktop_scratch+=("$(mktemp -d "${TMPDIR:-/tmp}/zephro-desktop.XXXXXX")")
  chmod 0755 "${desktop_scratch[-1]}"
}

# desktop_start NAME COMMAND...: in the background, its output in NAME.log.
desktop_start() {
  local name=$1
  shift
  "$@" >"$desktop_out/$name.log" 2>&1 &
  desktop_pids+=("$!")
}

desktop_start_xvfb() {
  local fd_file="$desktop_out/xvfb.display"
  desktop_start xvfb Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fd_file"
  desktop_wait "display from Xvfb" 60 test -s "$fd_file"
  DISPLAY=":$(head -n 1 "$fd_file")"
  export DISPLAY
}

# desktop_start_zephro QT_PLATFORM: the real application, which starts its helper.
desktop_start_zephro() {
  desktop_start zephro env QT_QPA_PLATFORM="$1" \
    LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$desktop_dir/../lsan.supp}" \
    "$desktop_zephro" --service-manager development
  desktop_zephro_pid=${desktop_pids[-1]}
}

desktop_has_name() {
  gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.NameHasOwner "$1" | grep -q true
}

desktop_registered_items() {
  gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
    -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
    RegisteredStatusNotifierItems 2>/dev/null
}

desktop_pid_of() {
  gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.GetConnectionUnixProcessID "$1" 2>/dev/null |
    sed -n 's/^(uint32 \([0-9]*\),)$/\1/p'
}

# Zephro's entry in the watcher's list: the one whose bus name, before the item's path
# ("NAME/PATH", GNOME's "NAME@PATH"), belongs to zephro's process. desktop_item_bus is
# that name.
desktop_find_item() {
  local items entry
  items=$(desktop_registered_items) || return 1
  for entry in $(grep -o "'[^']*'" <<<"$items" | tr -d "'"); do
    if [ "$(desktop_pid_of "${entry%%[/@]*}")" = "$desktop_zephro_pid" ]; then
      desktop_item=$entry
      desktop_item_bus=${entry%%[/@]*}
      return 0
    fi
  done
  return 1
}

desktop_item_property() {
  gdbus call --session -d "$desktop_item_bus" -o /StatusNotifierItem \
    -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$1"
}

# The whole degrees of the reading the item shows ("52°C" → 52), from its label or else its
# description; fails while it has none.
desktop_shown_temperature() {
  { desktop_item_property XAyatanaLabel; desktop_item_property IconAccessibleDesc; } 2>/dev/null |
    grep -o '[0-9]\+°' | head -n 1 | tr -d '°' | grep .
}

# Until the helper's first answer the item reads 0 °C, which the emulated laptop never is.
desktop_has_temperature() {
  local degrees
  degrees=$(desktop_shown_temperature 2>/dev/null) && [ "$degrees" != 0 ]
}

desktop_wait_for_item() {
  desktop_wait "Zephro item in the watcher's RegisteredStatusNotifierItems" 120 desktop_find_item
  desktop_log "registered: $desktop_item"
  desktop_wait "temperature in Zephro's item" 120 desktop_has_temperature
  desktop_log "accessible description: $(desktop_item_property IconAccessibleDesc)"
}

# desktop_panel_steady TAKE REGION: TAKE FILE writes a screenshot; true once the panel
# region has something drawn and two screenshots a second apart are the same, so that the
# panel has drawn what the item shows.
desktop_panel_steady() {
  local take=$1 region=$2 shot="$desktop_out/screen.png" previous="$desktop_out/screen-previous.png"
  "$take" "$previous"
  sleep 1
  "$take" "$shot"
  cmp -s "$shot" "$previous" && /usr/bin/python3 "$desktop_dir/measure.py" --drawn "$shot" "$region"
}

# desktop_measure TAKE X Y WIDTH HEIGHT: a steady screenshot, the panel region cut out of
# it, and the reading in it checked against the temperature the item shows before and after.
desktop_measure() {
  local take=$1 region="$2,$3,$4,$5" before after
  before=$(desktop_shown_temperature)
  desktop_wait "steady screenshot with something drawn on the panel" 120 \
    desktop_panel_steady "$take" "$region"
  after=$(desktop_shown_temperature)
  /usr/bin/python3 "$desktop_dir/measure.py" "$desktop_host" "$desktop_out/screen.png" "$region" \
    "$desktop_out/tray-$desktop_host.png" "$before" "$after" || desktop_failed=1
  if [ -n "${ZEPHRO_DESKTOP_SCREENSHOTS:-}" ]; then
    mkdir -p "$ZEPHRO_DESKTOP_SCREENSHOTS"
    cp "$desktop_out/tray-$desktop_host.png" "$ZEPHRO_DESKTOP_SCREENSHOTS/"
  fi
}

desktop_x_screenshot() {
  /usr/bin/python3 -c 'import sys, os; from PIL import ImageGrab
ImageGrab.grab(xdisplay=os.environ["DISPLAY"]).save(sys.argv[1])' "$1"
}

desktop_finish() {
  exit "$desktop_failed"
}
