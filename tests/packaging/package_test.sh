#!/usr/bin/env bash
# Builds the Debian packages with scripts/package and checks them as a user's machine would
# meet them: what they hold and with which modes, their control fields, what the helper's
# maintainer scripts do on install, upgrade, removal and purge, lintian, the units under
# systemd-analyze, the desktop, AppStream and polkit files, and the application started
# from the unpacked packages with the source and build trees out of sight; then packages
# signed with release keys, and a build whose release anchor does not match its key.
#
#   package_test.sh SOURCE_DIR PACKAGE_BUILD_DIR VERSION
#
# Exits 77 (skipped) when a tool it needs is missing; scripts/install-deps installs them.
set -euo pipefail

src=$(cd "$1" && pwd)
build=$2
version=$3
here=$(cd "$(dirname "$0")" && pwd)

for tool in dpkg-deb dpkg-shlibdeps lintian systemd-analyze appstreamcli desktop-file-validate \
  xmllint unshare dbus-daemon timeout; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is missing (scripts/install-deps installs it)"
    exit 77
  fi
done
if [ ! -f /usr/share/polkit-1/policyconfig-1.dtd ]; then
  echo "SKIPPED: polkit's policy DTD is missing (polkitd; scripts/install-deps installs it)"
  exit 77
fi
if ! unshare -m true 2>/dev/null; then
  echo "SKIPPED: no mount namespaces here (unshare -m), which the install checks run in"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zephro-package-test.XXXXXX")
# The release builds may still run beside a check that failed: they end before the folder goes.
trap 'wait; rm -rf "$work"' EXIT

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
check() {
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else fail "$what"; fi
}

echo "== building the packages (tree $build)"
ZEPHRO_PACKAGE_BUILD=$build "$src/scripts/package" --no-install-deps "$work/debs"
arch=$(dpkg --print-architecture)
app_deb=$work/debs/zephro_${version}_${arch}.deb
helper_deb=$work/debs/zephro-helper_${version}_${arch}.deb
debs=("$work"/debs/*.deb)
if [ ! -f "$app_deb" ] || [ ! -f "$helper_deb" ] || [ "${#debs[@]}" -ne 2 ]; then
  echo "FAIL: expected exactly zephro and zephro-helper $version, got: ${debs[*]##*/}"
  exit 1
fi
root=$work/root
dpkg-deb -x "$helper_deb" "$root"
dpkg-deb -x "$app_deb" "$root"

# lintian and the two release builds each keep a core busy for a minute or more, while the
# checks below mostly wait on the programs they start: they run beside those checks, and
# their results are read at the end.
lintian --fail-on error --display-info "$app_deb" "$helper_deb" >"$work/lintian.txt" 2>&1 &
lintian_pid=$!

# Keys made with the packaged zephro-codesign, as a release's would be. The same tree
# relinks, and so re-signs, only the signed executables.
keys=$work/release-keys
codesign=$root/usr/bin/zephro-codesign
mkdir -p "$keys"
(cd "$keys" && "$codesign" keygen anchor.key anchor.pub && "$codesign" keygen team.key team.pub &&
  "$codesign" certify --anchor-key anchor.key --team-id Q7K2M9T4XW --team-key team.pub team.cert &&
  "$codesign" keygen stranger.key stranger.pub) >/dev/null
release_options=(-DZEPHRO_RELEASE_TEAM_KEY="$keys/team.key"
  -DZEPHRO_RELEASE_TEAM_CERTIFICATE="$keys/team.cert")
# One after the other, since they share the build tree; each leaves its exit status.
release_builds() {
  local status=0
  ZEPHRO_PACKAGE_BUILD=$build "$src/scripts/package" --no-install-deps "$work/release-debs" \
    "${release_options[@]}" -DZEPHRO_RELEASE_ANCHOR_KEY="$keys/anchor.pub" >"$work/release.log" 2>&1 ||
    status=$?
  echo "$status" >"$work/release.status"
  status=0
  ZEPHRO_PACKAGE_BUILD=$build "$src/scripts/package" --no-install-deps "$work/stranger" \
    "${release_options[@]}" -DZEPHRO_RELEASE_ANCHOR_KEY="$keys/stranger.pub" >"$work/stranger.log" 2>&1 ||
    status=$?
  echo "$status" >"$work/stranger.status"
}
release_builds &
release_pid=$!

echo "== contents"
# Every packaged file matches a line of the list and every line matches a packaged file.
check_contents() {
  local deb=$1 list=$2 ok=0 path pattern matched
  local -a patterns files
  mapfile -t patterns < <(grep -v -e '^#' -e '^$' "$list")
  mapfile -t files < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./||' | grep -v '/$')
  for path in "${files[@]}"; do
    matched=0
    for pattern in "${patterns[@]}"; do
      # shellcheck disable=SC2053
      if [[ $path == $pattern ]]; then matched=1; break; fi
    done
    if [ "$matched" -eq 0 ]; then echo "  ${deb##*/} holds unexpected $path"; ok=1; fi
  done
  for pattern in "${patterns[@]}"; do
    matched=0
    for path in "${files[@]}"; do
      # shellcheck disable=SC2053
      if [[ $path == $pattern ]]; then matched=1; break; fi
    done
    if [ "$matched" -eq 0 ]; then echo "  ${deb##*/} lacks $pattern"; ok=1; fi
  done
  return "$ok"
}
check "zephro holds what tests/packaging/zephro.contents lists" \
  check_contents "$app_deb" "$here/zephro.contents"
check "zephro-helper holds what tests/packaging/zephro-helper.contents lists" \
  check_contents "$helper_deb" "$here/zephro-helper.contents"

# dpkg-deb -c: "MODE OWNER/GROUP SIZE DATE TIME ./PATH"
mode_of() { dpkg-deb -c "$1" | awk -v p="./$2" '$6 == p { print $1 " " $2 }'; }
expect_mode() {
  local deb=$1 path=$2 want=$3 got
  got=$(mode_of "$deb" "$path")
  [ "$got" = "$want" ] || { echo "  $path is '$got', not '$want'"; return 1; }
}
check "executables are root's and mode 0755" eval '
  expect_mode "$app_deb" usr/bin/zephro "-rwxr-xr-x root/root" &&
  expect_mode "$app_deb" usr/bin/zephroctl "-rwxr-xr-x root/root" &&
  expect_mode "$helper_deb" usr/libexec/zephro/com.zephro.helper "-rwxr-xr-x root/root" &&
  expect_mode "$helper_deb" usr/libexec/zephro/zephro-helper-units "-rwxr-xr-x root/root"'
check "the anchor key, units and polkit action are root's and read-only to others" eval '
  expect_mode "$helper_deb" usr/share/zephro/anchor.pub "-rw-r--r-- root/root" &&
  expect_mode "$helper_deb" usr/share/zephro/systemd/com.zephro.helper.service "-rw-r--r-- root/root" &&
  expect_mode "$helper_deb" usr/share/polkit-1/actions/com.zephro.helper-units.policy "-rw-r--r-- root/root" &&
  expect_mode "$helper_deb" usr/share/polkit-1/actions/com.zephro.helper.policy "-rw-r--r-- root/root"'
no_setid_or_writable() {
  local modes
  modes=$(dpkg-deb -c "$1" | awk '{ print $1 }')
  ! grep -q -e '^...[sS]' -e '^......[sS]' -e '^........w' <<<"$modes"
}
check "nothing is set-id or writable by others" eval \
  'no_setid_or_writable "$app_deb" && no_setid_or_writable "$helper_deb"'

echo "== control fields"
app_depends=$(dpkg-deb -f "$app_deb" Depends)
helper_depends=$(dpkg-deb -f "$helper_deb" Depends)
echo "zephro Depends: $app_depends"
echo "zephro-helper Depends: $helper_depends"
depends_on() {
  local depends=$1 package=$2
  [[ ", $depends," == *", $package "* || ", $depends," == *", $package,"* ]]
}
for package in "zephro-helper (= $version)" libc6 libqt6core6 libqt6quick6 libqt6dbus6 pkexec \
  qt6-qpa-plugins libqt6svg6 qml6-module-qtquick qml6-module-qtquick-controls \
  qml6-module-qtquick-templates qml6-module-qtquick-layouts qml6-module-qtqml \
  qml6-module-qtqml-models qml6-module-qtqml-workerscript gstreamer1.0-plugins-base \
  gstreamer1.0-plugins-good gstreamer1.0-libav fonts-noto-color-emoji fonts-noto-cjk; do
  check "zephro depends on $package" depends_on "$app_depends" "$package"
done
for package in libc6 libsodium23 libsystemd0 systemd; do
  check "zephro-helper depends on $package" depends_on "$helper_depends" "$package"
done
check "the helper's package pulls in no Qt" eval '[[ $helper_depends != *qt* ]]'
for deb in "$app_deb" "$helper_deb"; do
  description=$(dpkg-deb -f "$deb" Description)
  check "${deb##*/} says it carries development signing" \
    eval '[[ $description == *"development signing: "* ]]'
done
mkdir -p "$work/control/app" "$work/control/helper"
dpkg-deb -e "$app_deb" "$work/control/app"
dpkg-deb -e "$helper_deb" "$work/control/helper"
no_maintainer_scripts() {
  local script
  for script in preinst postinst prerm postrm; do [ ! -e "$1/$script" ] || return 1; done
}
check "the application's package has no maintainer scripts" \
  no_maintainer_scripts "$work/control/app"

echo "== maintainer scripts (in a mount namespace, with a recording systemctl)"
# /run, /etc/systemd/system, /var/lib, /usr/libexec and /usr/sbin are private tmpfs mounts
# there; the recording systemctl answers is-enabled from a flag file, a recording
# zephro-helper-units stands in for the one the package installs, and policy-rc.d (which
# deb-systemd-invoke asks) allows or forbids as a file says.
cat >"$work/maintainer-scripts.sh" <<'SCRIPT'
set -eu
control=$1 log=$2
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /etc/systemd/system
mount -t tmpfs tmpfs /var/lib
mount -t tmpfs tmpfs /usr/libexec
mount -t tmpfs tmpfs /usr/sbin
mkdir -p /run/systemd/system /run/fake /usr/libexec/zephro
cat >/usr/sbin/policy-rc.d <<EOF
#!/bin/sh
exit \$(cat /run/fake/policy 2>/dev/null || echo 0)
EOF
cat >/run/fake/systemctl <<EOF
#!/bin/sh
echo "systemctl \$*" >>"$log"
[ "\$1" = is-enabled ] || [ "\$2" = is-enabled ] || exit 0
[ -e /run/fake/enabled ]
EOF
cat >/usr/libexec/zephro/zephro-helper-units <<EOF
#!/bin/sh
echo "zephro-helper-units \$*" >>"$log"
EOF
chmod +x /run/fake/systemctl /usr/libexec/zephro/zephro-helper-units /usr/sbin/policy-rc.d
export PATH=/run/fake:$PATH

register() {
  echo "[Socket]" >/etc/systemd/system/com.zephro.helper.socket
  echo "[Service]" >/etc/systemd/system/com.zephro.helper.service
  mkdir -p /etc/systemd/system/sockets.target.wants /var/lib/zephro
  ln -sf ../com.zephro.helper.socket /etc/systemd/system/sockets.target.wants/
  echo '{}' >/var/lib/zephro/state.json
}
step() { echo "--- $*" >>"$log"; }

step "fresh install"
"$control/postinst" configure ""
step "upgrade, registered and enabled"
register
touch /run/fake/enabled
"$control/postinst" configure 0.7
step "upgrade, registered but disabled"
rm /run/fake/enabled
"$control/postinst" configure 0.7
step "upgrade, prerm"
"$control/prerm" upgrade 0.9
step "remove, forbidden by policy-rc.d"
echo 101 >/run/fake/policy
"$control/prerm" remove
rm /run/fake/policy
step "remove"
"$control/prerm" remove
"$control/postrm" remove
ls -A /etc/systemd/system /var/lib/zephro >>"$log"
step "purge"
"$control/postrm" purge
ls -A /etc/systemd/system /var/lib >>"$log"
step "end"
SCRIPT
log=$work/maintainer-scripts.log
: >"$log"
unshare -m sh "$work/maintainer-scripts.sh" "$work/control/helper" "$log" ||
  fail "the maintainer scripts failed"
section() { sed -n "/^--- $1\$/,/^--- /p" "$log" | sed '1d;$d'; }
expected_section() {
  local name=$1 want=$2 got
  got=$(section "$name")
  [ "$got" = "$want" ] || { printf '  %s:\n%s\n  instead of:\n%s\n' "$name" "$got" "$want"; return 1; }
}
check "a fresh install enables nothing and asks systemd nothing" \
  expected_section "fresh install" ""
check "an upgrade refreshes a registration the user made" \
  expected_section "upgrade, registered and enabled" \
  "systemctl is-enabled --quiet com.zephro.helper.socket
zephro-helper-units install"
check "an upgrade leaves a disabled registration alone" \
  expected_section "upgrade, registered but disabled" \
  "systemctl is-enabled --quiet com.zephro.helper.socket"
check "an upgrade does not stop the helper before the new one is unpacked" \
  expected_section "upgrade, prerm" ""
check "removing under a policy-rc.d that forbids it stops nothing" \
  expected_section "remove, forbidden by policy-rc.d" ""
check "removing stops the helper and keeps the registration until purge" \
  expected_section "remove" \
  "systemctl stop com.zephro.helper.socket com.zephro.helper.service
/etc/systemd/system:
com.zephro.helper.service
com.zephro.helper.socket
sockets.target.wants

/var/lib/zephro:
state.json"
check "purging disables and deletes the registered units and the helper's state" \
  expected_section "purge" \
  "systemctl stop com.zephro.helper.socket com.zephro.helper.service
systemctl --no-reload disable com.zephro.helper.socket com.zephro.helper.service
systemctl daemon-reload
/etc/systemd/system:
sockets.target.wants

/var/lib:"

echo "== the installed tree"

# systemd-analyze reads copies of the units whose ExecStart names the unpacked helper, so
# that it checks the packaged executable.
units=$root/usr/share/zephro/systemd
mkdir -p "$work/units"
for unit in com.zephro.helper.socket com.zephro.helper.service; do
  sed "s|/usr/libexec/zephro/|$root/usr/libexec/zephro/|g" "$units/$unit" >"$work/units/$unit"
done
verify_units() {
  local out
  out=$(systemd-analyze verify --man=no "$work/units/com.zephro.helper.socket" \
    "$work/units/com.zephro.helper.service" 2>&1) || { echo "$out"; return 1; }
  [ -z "$out" ] || { echo "$out"; return 1; }
}
check "the helper's units pass systemd-analyze verify without a warning" verify_units
exposure=$(systemd-analyze security --offline=yes "$work/units/com.zephro.helper.service" 2>&1 |
  sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' || true)
echo "systemd-analyze security: overall exposure ${exposure:-unknown}"
# The helper needs root, CAP_SYS_PTRACE, CAP_DAC_READ_SEARCH and AF_UNIX; everything
# else is taken away, which keeps the exposure at about 1.2.
check "the service's exposure stays at 1.5 or below" eval \
  'systemd-analyze security --offline=yes --threshold=15 "$work/units/com.zephro.helper.service" >/dev/null'
check "the service runs the packaged helper with --smc auto" \
  grep -qx 'Environment="ZEPHRO_HELPER_OPTIONS=--smc auto"' "$units/com.zephro.helper.service"
check "the units install nowhere systemd would load them by themselves" \
  eval '[ ! -e "$root/etc" ] && [ ! -e "$root/usr/lib/systemd" ] && [ ! -e "$root/lib" ]'

check "the desktop entry validates" \
  desktop-file-validate "$root/usr/share/applications/com.zephro.app.desktop"
desktop=$root/usr/share/applications/com.zephro.app.desktop
check "the desktop entry is D-Bus activatable, starts /usr/bin/zephro and has its actions" eval '
  grep -qx "DBusActivatable=true" "$desktop" && grep -qx "Exec=/usr/bin/zephro" "$desktop" &&
  grep -qx "Actions=auto;max;" "$desktop" &&
  grep -qx "Exec=/usr/bin/zephroctl mode max" "$desktop"'
check "the session-bus service starts /usr/bin/zephro" \
  grep -qx "Exec=/usr/bin/zephro" "$root/usr/share/dbus-1/services/com.zephro.app.service"
metainfo=$root/usr/share/metainfo/com.zephro.app.metainfo.xml
check "the AppStream metainfo validates" appstreamcli validate --no-net "$metainfo"
check "the metainfo's newest release is $version" eval \
  '[ "$(xmllint --xpath "string(//releases/release[1]/@version)" "$metainfo")" = "$version" ]'
policy=$root/usr/share/polkit-1/actions/com.zephro.helper-units.policy
check "the polkit action is valid policy configuration" \
  xmllint --noout --dtdvalid /usr/share/polkit-1/policyconfig-1.dtd "$policy"
check "pkexec of the packaged zephro-helper-units shows the named action, kept a few minutes" eval '
  [ "$(xmllint --xpath "string(//annotate[@key=\"org.freedesktop.policykit.exec.path\"])" "$policy")" = \
    /usr/libexec/zephro/zephro-helper-units ] &&
  [ "$(xmllint --xpath "string(//defaults/allow_active)" "$policy")" = auth_admin_keep ] &&
  [ -n "$(xmllint --xpath "string(//action/message)" "$policy")" ]'
control=$root/usr/share/polkit-1/actions/com.zephro.helper.policy
check "the fan-control action is valid and, unwidened, lets only the active session's user" eval '
  xmllint --noout --dtdvalid /usr/share/polkit-1/policyconfig-1.dtd "$control" &&
  [ "$(xmllint --xpath "string(//action/@id)" "$control")" = com.zephro.helper.control ] &&
  [ "$(xmllint --xpath "string(//defaults/allow_active)" "$control")" = yes ] &&
  [ "$(xmllint --xpath "string(//defaults/allow_inactive)" "$control")" = no ] &&
  [ "$(xmllint --xpath "string(//defaults/allow_any)" "$control")" = no ]'
check "the unit hands the fans back however the helper ended" \
  grep -qx 'ExecStopPost=/usr/libexec/zephro/com.zephro.helper $ZEPHRO_HELPER_OPTIONS --release-fans' \
  "$root/usr/share/zephro/systemd/com.zephro.helper.service"
for package in zephro zephro-helper; do
  changelog_head=$(zcat "$root/usr/share/doc/$package/changelog.gz" | sed -n 1p)
  check "$package's changelog starts at $version" \
    eval '[[ $changelog_head == "zephro ($version) "* ]]'
done
# One setting names the maintainer: the control files and the changelogs' trailers agree.
maintainer=$(sed -n 's/^ZEPHRO_PACKAGE_MAINTAINER:STRING=//p' "$build/CMakeCache.txt")
changelog_maintainer() {
  zcat "$root/usr/share/doc/$1/changelog.gz" >"$work/changelog.$1"
  dpkg-parsechangelog -l "$work/changelog.$1" -S Maintainer
}
check "the packages and their changelogs name the configured maintainer, $maintainer" eval '
  [ -n "$maintainer" ] &&
  [ "$(dpkg-deb -f "$app_deb" Maintainer)" = "$maintainer" ] &&
  [ "$(dpkg-deb -f "$helper_deb" Maintainer)" = "$maintainer" ] &&
  [ "$(changelog_maintainer zephro)" = "$maintainer" ] &&
  [ "$(changelog_maintainer zephro-helper)" = "$maintainer" ]'

# "PATTERNS -> LICENCE" for each Files paragraph of a machine-readable copyright file, then
# "no text: LICENCE" for a licence named with its text nowhere in the file.
copyright_licences() {
  awk '
    function flush() {
      if (files != "") {
        print files " -> " licence
        if (body) texts[licence] = 1; else named[licence] = 1
      } else if (licence != "" && body) texts[licence] = 1
      files = ""; licence = ""; body = 0; field = ""
    }
    /^$/ { flush(); next }
    /^[^ \t]/ {
      field = $0; sub(/:.*/, "", field)
      value = $0; sub(/^[^:]*:[ \t]*/, "", value)
      if (field == "Files") files = value
      if (field == "License") { licence = value; body = 0 }
      next
    }
    field == "License" { body = 1 }
    END { flush(); for (l in named) if (!(l in texts)) print "no text: " l }
  ' "$1"
}
expect_copyright() {
  local file=$1 want=$2 got
  [ "$(sed -n 1p "$file")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
    { echo "  $file is not in the machine-readable format"; return 1; }
  got=$(copyright_licences "$file")
  [ "$got" = "$want" ] || { printf '  %s:\n%s\n  instead of:\n%s\n' "$file" "$got" "$want"; return 1; }
}
zephro_licences="* -> GPL-3.0-or-later
nlohmann/* -> MIT"
check "zephro's copyright file: Zephro under GPL-3.0-or-later, each compiled-in piece under its own licence" \
  expect_copyright "$root/usr/share/doc/zephro/copyright" "$zephro_licences
app/shell/fonts/DejaVuSans*.ttf -> Bitstream-Vera
app/ui/fonts/MaterialIcons-Regular.ttf -> Apache-2.0
app/ui/fonts/materialdesignicons-webfont.ttf -> OFL-1.1 and CC-BY-4.0"
check "zephro-helper's copyright file: Zephro under GPL-3.0-or-later and the JSON library it compiles in" \
  expect_copyright "$root/usr/share/doc/zephro-helper/copyright" "$zephro_licences"
check "the unit installer copies the packaged units" \
  grep -qx "shipped='/usr/share/zephro/systemd'" "$root/usr/libexec/zephro/zephro-helper-units"
check "the packaged executables still carry valid signatures" \
  "$root/usr/bin/zephro-codesign" verify --anchor "$root/usr/share/zephro/anchor.pub" \
  --requirement 'anchor apple generic and identifier "com.zephro.app" and certificate leaf[subject.OU] = "Q7K2M9T4XW"' \
  "$root/usr/bin/zephro"

echo "== the unpacked application on the emulated machine"
# The clips the onboarding pages name (app/ui/onboarding/OnboardingPage.h) are packaged.
mapfile -t clips < <(sed -n 's/.*OnboardingVideo{"\([^"]*\)", "\([^"]*\)"}.*/\1.\2/p' \
  "$src/app/ui/onboarding/OnboardingPage.h")
clips_packaged() {
  local clip
  [ "${#clips[@]}" -gt 0 ] || return 1
  for clip in "${clips[@]}"; do
    [ -s "$root/usr/share/zephro/onboarding/$clip" ] || { echo "  $clip is missing"; return 1; }
  done
}
check "the onboarding pages' clips are packaged (${#clips[@]} named)" clips_packaged

# Run in a mount namespace where the source and build trees (and any installed Zephro) are
# empty, so that everything it finds comes from the unpacked packages.
cat >"$work/run-installed.sh" <<'SCRIPT'
set -eu
root=$1 work=$2
shift 2
for hidden in "$@" /usr/share/zephro /usr/libexec/zephro; do
  if [ -d "$hidden" ]; then mount -t tmpfs tmpfs "$hidden"; fi
done
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_CACHE_HOME=$work/home/.cache XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=offscreen
export LANG=C.UTF-8
unset ZEPHRO_SERVICE_MANAGER ZEPHRO_HELPER_SOCKET ZEPHRO_BUNDLE_INFO
mkdir -p "$HOME" && mkdir -m 0700 "$XDG_RUNTIME_DIR"
bus=$(dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=${bus%%
*}
bus_pid=${bus##*
}
timeout -s TERM 60 "$root/usr/bin/zephro" --headless --service-manager development \
  --popover-picture "$work/popover.png" >"$work/zephro.out" 2>&1 &
zephro=$!
# Until a status line shows the emulated fans; the timeout above ends a run that never does.
while kill -0 "$zephro" 2>/dev/null; do
  if grep -q '^connected | .* RPM' "$work/zephro.out" && [ -s "$work/popover.png" ]; then break; fi
  sleep 0.5
done
kill -TERM "$zephro" 2>/dev/null || true
wait "$zephro" || true

# The tray application, in German, driven by the unpacked zephroctl: its answers come from
# the unpacked German string table. It finds the helper the headless run registered.
LANG=de_DE.UTF-8 LANGUAGE=de timeout -s TERM 60 "$root/usr/bin/zephro" \
  --service-manager development >"$work/tray.out" 2>&1 &
zephro=$!
: >"$work/zephroctl.out"
while kill -0 "$zephro" 2>/dev/null; do
  if "$root/usr/bin/zephroctl" status >"$work/zephroctl.out" 2>&1; then break; fi
  sleep 0.5
done
set +e
"$root/usr/bin/zephroctl" mode Nowhere >"$work/zephroctl-mode.out" 2>&1
echo "exit $?" >>"$work/zephroctl-mode.out"
set -e
kill -TERM "$zephro" 2>/dev/null || true
wait "$zephro" || true
kill "$bus_pid" 2>/dev/null || true
# The development helper outlives the application, as it does for the demo: stop it, if
# the recorded process is still the helper.
pid=$(sed -n 's/^pid=//p' "$XDG_RUNTIME_DIR/zephro/helper-registration" 2>/dev/null || true)
if [ -n "$pid" ]; then
  exe=$(readlink "/proc/$pid/exe" || true)
  echo "$exe" >"$work/helper.exe"
  if [ "$exe" = "$root/usr/libexec/zephro/com.zephro.helper" ]; then kill -TERM "$pid"; fi
fi
cp "$XDG_RUNTIME_DIR/zephro/helper.log" "$work/helper.log" 2>/dev/null || true
SCRIPT
hide=("$src")
case "$(cd "$build" 2>/dev/null && pwd)" in
  "$src"/*) ;;
  *) hide+=("$build") ;;
esac
unshare -m sh "$work/run-installed.sh" "$root" "$work" "${hide[@]}" || true
echo "  zephro printed:"
sed 's/^/    /' "$work/zephro.out"
check "it connects and shows the emulated machine's fans" \
  grep -q '^connected | [0-9]*°C | [0-9]* RPM$' "$work/zephro.out"
check "it drew the popover" test -s "$work/popover.png"
check "the helper it started is the unpacked one" \
  grep -qx "$root/usr/libexec/zephro/com.zephro.helper" "$work/helper.exe"
check "nothing was reported missing" eval \
  '! grep -i -e "missing" -e "not found" -e "cannot" -e "failed" "$work/zephro.out" "$work/tray.out"'
echo "  zephroctl status printed: $(cat "$work/zephroctl.out")"
check "the tray application answers zephroctl from the German string table" \
  grep -q '^Deine Lüfter drehen mit [0-9.]* U/min, die Systemtemperatur beträgt [0-9]*°C.$' \
  "$work/zephroctl.out"
echo "  zephroctl mode Nowhere printed: $(cat "$work/zephroctl-mode.out")"
check "an unknown preset is refused in German, with zephroctl's exit code for it" \
  eval '[ "$(cat "$work/zephroctl-mode.out")" = "Die Voreinstellung „Nowhere“ gibt es nicht mehr.
exit 3" ]'

echo "== the helper confined as its unit confines it"
# The unit's /proc view (ProtectProc=invisible, ProcSubset=pid) and capability bounding set
# (CAP_SYS_PTRACE, CAP_DAC_READ_SEARCH), with no new privileges: the helper, as root, must
# still check and serve the application run by another user.
cat >"$work/confined.sh" <<'SCRIPT'
set -eu
root=$1 work=$2
mount -t proc -o subset=pid,hidepid=invisible proc /proc
share=$root/usr/share/zephro
mkdir -m 0755 "$work/confined" "$work/confined/socket"
ZEPHRO_HELPER_SOCKET=$work/confined/socket/helper.sock \
  setpriv --bounding-set -all,+sys_ptrace,+dac_read_search --no-new-privs \
  "$root/usr/libexec/zephro/com.zephro.helper" --anchor-key "$share/anchor.pub" \
  --smc "emulated:$share/machines/macbookpro16-1.json,state=$work/confined/state.json" \
  >"$work/confined/helper.log" 2>&1 &
helper=$!
while [ ! -S "$work/confined/socket/helper.sock" ] && kill -0 "$helper" 2>/dev/null; do sleep 0.2; done
chmod 0666 "$work/confined/socket/helper.sock"
grep '^CapBnd' "/proc/$helper/status" >"$work/confined/capabilities"
# The development backend takes a recorded registration as a running helper.
home=$work/confined/home runtime=$work/confined/runtime
mkdir -p "$home" "$runtime/zephro"
echo "pid=$helper" >"$runtime/zephro/helper-registration"
chown -R nobody "$home" "$runtime"
chmod 0700 "$runtime" "$runtime/zephro"
setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$home" \
  XDG_RUNTIME_DIR="$runtime" ZEPHRO_HELPER_SOCKET="$work/confined/socket/helper.sock" \
  QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 timeout -s TERM 60 "$root/usr/bin/zephro" --headless \
  --service-manager development >"$work/confined/zephro.out" 2>&1 &
zephro=$!
while kill -0 "$zephro" 2>/dev/null; do
  if grep -q '^connected | .* RPM' "$work/confined/zephro.out"; then break; fi
  sleep 0.5
done
kill -TERM "$zephro" 2>/dev/null || true
wait "$zephro" || true
kill -TERM "$helper"
wait "$helper" || true
SCRIPT
if id nobody >/dev/null 2>&1 && command -v setpriv >/dev/null; then
  # The other user only passes through the work folder, to the unpacked application.
  chmod 0711 "$work"
  unshare -m sh "$work/confined.sh" "$root" "$work" || fail "the confined helper's run failed"
  chmod 0700 "$work"
  check "the helper runs with only CAP_SYS_PTRACE and CAP_DAC_READ_SEARCH" \
    grep -qx $'CapBnd:\t0000000000080004' "$work/confined/capabilities"
  check "it serves another user's application with only process folders in /proc" \
    grep -q '^connected | [0-9]*°C | [0-9]* RPM$' "$work/confined/zephro.out"
else
  echo "  (not run: it needs the nobody user and setpriv)"
fi

echo "== release archive"
release=$work/debs/zephro-${version}-linux-${arch}.tar.xz
check "the release archive holds only the application's files" eval \
  '[ -z "$(tar -tJf "$release" | sed "s|^\./||" | grep -v -e "/$" -e "^$" -e "^bin/zephro$" -e "^bin/zephroctl$" -e "^share/zephro/" -e "^share/doc/zephro/")" ]'
mkdir -p "$work/release" "$work/home" && tar -xJf "$release" -C "$work/release"
check "--install-for-user lays it out in ~/.local/lib/zephro and links it" eval \
  'HOME=$work/home "$work/release/bin/zephro" --install-for-user >/dev/null &&
   [ "$(readlink "$work/home/.local/lib/zephro/current")" = "$version" ] &&
   [ -f "$work/home/.local/lib/zephro/$version/zephro-manifest.json" ] && [ -L "$work/home/.local/bin/zephro" ]'

echo "== lintian"
if wait "$lintian_pid"; then
  echo "ok: lintian finds no errors"
else
  fail "lintian finds errors"
fi
sed 's/^/  /' "$work/lintian.txt"

echo "== release signing"
wait "$release_pid"
if [ "$(cat "$work/release.status")" = 0 ]; then
  release_root=$work/release-root
  dpkg-deb -x "$work/release-debs/zephro-helper_${version}_${arch}.deb" "$release_root"
  dpkg-deb -x "$work/release-debs/zephro_${version}_${arch}.deb" "$release_root"
  check "the release packages install the release anchor" \
    cmp "$keys/anchor.pub" "$release_root/usr/share/zephro/anchor.pub"
  check "the released application is signed by the release team" \
    "$codesign" verify --anchor "$keys/anchor.pub" "$release_root/usr/bin/zephro"
  check "and not by the build tree's development team" eval \
    '! "$codesign" verify --anchor "$root/usr/share/zephro/anchor.pub" "$release_root/usr/bin/zephro" >/dev/null 2>&1'
  description=$(dpkg-deb -f "$work/release-debs/zephro_${version}_${arch}.deb" Description)
  check "the release packages do not speak of development signing" \
    eval '[[ $description != *"development signing"* ]]'
else
  sed 's/^/  /' "$work/release.log" | tail -n 20
  fail "scripts/package with release keys failed"
fi
# An anchor that did not issue the team's certificate would ship an application the
# installed helper refuses: the build stops at the signature check instead.
check "a release anchor that did not certify the team key fails the build" eval \
  '[ "$(cat "$work/stranger.status")" != 0 ] &&
   grep -q "failed to satisfy specified code requirement" "$work/stranger.log" &&
   [ ! -e "$work/stranger" ]'

echo
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "every packaging check passed"
