#!/usr/bin/env bash
# Checks what a built tree installs, the way a user gets it:
#   1. `cmake --install` into a scratch prefix: every file in its place, the
#      menu entry and the AppStream metainfo valid;
#   2. the .deb made by CPack: its contents and control data, its files valid;
#   3. the .deb installed with apt, then the installed tools on the meter
#      simulator, and the installed program started as the menu starts it
#      (offscreen), still running a few seconds later with its log made;
#   4. the package removed again (unless --keep).
# It installs a package into this system, so it is meant for a throwaway
# root such as CI's fresh Debian root. Run it as root or as a user who may use
# sudo, after the tree is built (tools/test.sh).
#
# Usage: tools/check-install.sh [--keep] [BUILD_DIR]   (default build/)
set -euo pipefail
cd "$(dirname "$0")/.."

keep="" build=build
for arg in "$@"; do
  case "$arg" in
    --keep) keep=1 ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "check-install: unknown option '$arg' (see --help)" >&2; exit 2 ;;
    *) build=$arg ;;
  esac
done
[ -f "$build/CMakeCache.txt" ] || { echo "check-install: '$build' is not a configured build tree" >&2; exit 2; }
build=$(cd "$build" && pwd)
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "check-install: run this as root (there is no sudo here)" >&2; exit 2; }
  SUDO="sudo"
fi
for tool in desktop-file-validate appstreamcli dpkg-deb apt-get; do
  command -v "$tool" >/dev/null || { echo "check-install: '$tool' is missing (tools/install-deps.sh installs it)" >&2; exit 2; }
done

app_id=org.quelt.Quelt
work=$(mktemp -d)
pids=()
cleanup() {
  local rc=$?
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT
fail() { echo "check-install: FAILED: $*" >&2; exit 1; }

# The files every installation has, relative to its prefix.
expected_files=(
  bin/quelt bin/quelt-decode bin/meter-sim bin/quelt-mktable
  libexec/quelt/quelt-launch
  share/applications/$app_id.desktop
  share/metainfo/$app_id.metainfo.xml
  share/icons/hicolor/32x32/apps/$app_id.png
  share/icons/hicolor/64x64/apps/$app_id.png
  share/icons/hicolor/128x128/apps/$app_id.png
  share/icons/hicolor/scalable/apps/$app_id.svg
  share/man/man1/quelt.1.gz share/man/man1/quelt-decode.1.gz
  share/man/man1/meter-sim.1.gz share/man/man1/quelt-mktable.1.gz
  share/doc/quelt/LICENSE share/doc/quelt/copyright
  lib/udev/rules.d/60-quelt-usb-cable.rules
)

# check_prefix PREFIX: the files are there, the menu entry and the metainfo
# are valid, and the menu entry starts the launcher of this prefix.
check_prefix() {
  local prefix=$1 f out
  for f in "${expected_files[@]}"; do
    [ -e "$prefix/$f" ] || fail "$prefix/$f is missing"
  done
  for f in bin/quelt bin/quelt-decode bin/meter-sim bin/quelt-mktable libexec/quelt/quelt-launch; do
    [ -x "$prefix/$f" ] || fail "$prefix/$f is not executable"
  done
  for f in "$prefix"/share/man/man1/*.1.gz; do gzip -t "$f" || fail "$f is damaged"; done
  out=$(desktop-file-validate "$prefix/share/applications/$app_id.desktop" 2>&1) || true
  [ -z "$out" ] || fail "desktop-file-validate: $out"
  appstreamcli validate --no-net --strict "$prefix/share/metainfo/$app_id.metainfo.xml" ||
    fail "appstreamcli rejects the metainfo"
  grep -qx "Exec=\"$prefix/libexec/quelt/quelt-launch\"" "$prefix/share/applications/$app_id.desktop" ||
    fail "the menu entry does not start $prefix/libexec/quelt/quelt-launch"
  echo "   files, menu entry and metainfo of $prefix: fine"
}

echo "== cmake --install into a scratch prefix"
cmake --build "$build" --target quelt quelt-decode meter-sim quelt-mktable man_pages >/dev/null
cmake --install "$build" --prefix "$work/prefix" >/dev/null
check_prefix "$work/prefix"

echo "== the .deb (cmake --build $build --target package)"
rm -f "$build"/package/quelt_*.deb
cmake --build "$build" --target package >/dev/null
debs=("$build"/package/quelt_*.deb)
[ "${#debs[@]}" = 1 ] && [ -f "${debs[0]}" ] || fail "expected one package in $build/package, found: ${debs[*]}"
deb=${debs[0]}
echo "   $deb"
dpkg-deb -I "$deb"
dpkg-deb -c "$deb"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libc6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib (found by dpkg-shlibdeps): $depends"
done
# The control files are unpacked rather than piped through tar and grep: a
# reader that stops early would end the writer with SIGPIPE, and pipefail
# would then fail a sound package.
dpkg-deb -e "$deb" "$work/control"
[ -x "$work/control/postinst" ] || fail "the package has no postinst"
[ -x "$work/control/postrm" ] || fail "the package has no postrm"
mkdir "$work/unpacked"
dpkg-deb -x "$deb" "$work/unpacked"
appstreamcli validate-tree --no-net --strict "$work/unpacked" || fail "appstreamcli rejects the package's tree"

echo "== installing the .deb with apt"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$deb"
check_prefix /usr

echo "== the installed tools on the meter simulator"
mkdir "$work/sim"
(cd "$work/sim" && exec /usr/bin/meter-sim --port 1 --interval 100 --count 30 >/dev/null) &
pids+=($!)
for _ in $(seq 100); do [ -L "$work/sim/COM1" ] && break; sleep 0.1; done
[ -L "$work/sim/COM1" ] || fail "meter-sim made no COM1 link"
(cd "$work/sim" && timeout 60 /usr/bin/quelt-decode COM1 >"$work/decoded.txt") ||
  fail "quelt-decode COM1 did not end cleanly when the simulator hung up"
lines=$(wc -l <"$work/decoded.txt")
[ "$lines" -ge 5 ] || fail "quelt-decode printed $lines lines from 30 frames"
echo "   quelt-decode COM1: $lines readings, the first: $(head -n 1 "$work/decoded.txt")"
/usr/bin/quelt-mktable "$work/sim/Test.DB" && [ -s "$work/sim/Test.DB" ] || fail "quelt-mktable made no table"

echo "== the installed program, started as the menu starts it (offscreen)"
exec_line=$(sed -n 's/^Exec=//p' "/usr/share/applications/$app_id.desktop")
launcher=${exec_line//\"/}
mkdir -m 700 "$work/home" "$work/runtime"
env -u XDG_DATA_HOME HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen \
  "$launcher" >"$work/program.log" 2>&1 &
program=$!
pids+=("$program")
sleep 5
kill -0 "$program" 2>/dev/null || { cat "$work/program.log" >&2; fail "the program ended within 5 seconds"; }
[ "$(readlink "/proc/$program/exe")" = /usr/bin/quelt ] || fail "the launcher did not start /usr/bin/quelt"
[ "$(readlink "/proc/$program/cwd")" = "$work/home/.local/share/quelt" ] ||
  fail "the program runs in $(readlink "/proc/$program/cwd"), not in ~/.local/share/quelt"
[ -s "$work/home/.local/share/quelt/Queltdb.DB" ] || fail "the launcher made no reading log"
echo "   running in ~/.local/share/quelt with its log, 5 seconds after the start"
kill -TERM "$program"
wait "$program" 2>/dev/null || true

if [ -z "$keep" ]; then
  echo "== removing the package"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q quelt >/dev/null
  [ ! -e /usr/bin/quelt ] || fail "/usr/bin/quelt is still there after the purge"
fi
echo "== check-install: all fine"
