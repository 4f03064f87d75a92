#!/usr/bin/env bash
# Zephro's item in xfce4-panel's systray (its StatusNotifierItem host) on Xvfb: registered
# with the watcher, and its temperature legible in the panel.
#   xfce.sh ZEPHRO OUTPUT_DIR
set -euo pipefail
# shellcheck source=tests/desktop/lib.sh
source "$(dirname "$0")/lib.sh"
desktop_init xfce "$@"

# One panel as Xfce's default has it (top, 26 px, dark), holding only the systray.
panel_size=26
channel="$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml"
mkdir -p "$channel"
cat >"$channel/xfce4-panel.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="dark-mode" type="bool" value="true"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="icon-size" type="uint" value="16"/>
      <property name="size" type="uint" value="$panel_size"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
XML

desktop_start_xvfb
desktop_start xfce4-panel xfce4-panel --disable-wm-check
desktop_wait "StatusNotifierWatcher from xfce4-panel" 120 \
  desktop_has_name org.kde.StatusNotifierWatcher
desktop_start_zephro xcb
desktop_wait_for_item
desktop_measure desktop_x_screenshot 0 0 1280 "$panel_size"
desktop_finish
