#!/usr/bin/env bash
# Checks what a built tree installs, the way a user gets it:
#   1. `cmake --install` into a scratch prefix: every file in its place, the
#      menu entry and the AppStream metainfo valid;
#   2. the two .debs made by CPack, quelt and quelt-sim: their contents and
#      control data, their files valid, lintian (--pedantic) finding no error
#      and no warning in them;
#   3. quelt installed alone with apt, pulling no umockdev, and the installed
#      program started as the menu starts it (offscreen), still running a few
#      seconds later with its log made; then quelt-sim installed, and the
#      installed tools run on its meter simulator;
#   4. both packages purged again (unless --keep).
# It installs a package into this system, so it is meant for a throwaway
# root such as CI's fresh Debian root. Run it as root or as a user who may use
# sudo, after the tree is built (tools/test.sh).
#
# Usage: tools/check-install.sh [--keep] [BUILD_DIR]   (default build/)
# lintian is installed with apt when it is missing.
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

# The files of each package, relative to the prefix; `cmake --install`
# installs both sets.
quelt_files=(
  bin/quelt bin/quelt-decode bin/quelt-log bin/quelt-mktable
  libexec/quelt/quelt-launch
  share/applications/$app_id.desktop
  share/metainfo/$app_id.metainfo.xml
  share/icons/hicolor/32x32/apps/$app_id.png
  share/icons/hicolor/64x64/apps/$app_id.png
  share/icons/hicolor/128x128/apps/$app_id.png
  share/icons/hicolor/scalable/apps/$app_id.svg
  share/man/man1/quelt.1.gz share/man/man1/quelt-decode.1.gz share/man/man1/quelt-log.1.gz
  share/man/man1/quelt-mktable.1.gz
  share/doc/quelt/LICENSE share/doc/quelt/copyright share/doc/quelt/changelog.Debian.gz
  lib/udev/rules.d/60-quelt-usb-cable.rules
  lib/systemd/system/quelt-log@.service lib/systemd/user/quelt-log@.service
)
sim_files=(
  bin/meter-sim
  share/man/man1/meter-sim.1.gz
  share/doc/quelt-sim/copyright share/doc/quelt-sim/changelog.Debian.gz
)

# check_files PREFIX FILE...: the files are there, the programs executable and
# the compressed ones sound.
check_files() {
  local prefix=$1 f
  shift
  for f in "$@"; do
    [ -e "$prefix/$f" ] || fail "$prefix/$f is missing"
    case "$f" in
      bin/* | libexec/*) [ -x "$prefix/$f" ] || fail "$prefix/$f is not executable" ;;
      *.gz) gzip -t "$prefix/$f" || fail "$prefix/$f is damaged" ;;
    esac
  done
}

# check_prefix PREFIX: quelt's files are there, the menu entry and the
# metainfo are valid, and the menu entry starts the launcher of this prefix.
check_prefix() {
  local prefix=$1 out
  check_files "$prefix" "${quelt_files[@]}"
  out=$(desktop-file-validate "$prefix/share/applications/$app_id.desktop" 2>&1) || true
  [ -z "$out" ] || fail "desktop-file-validate: $out"
  appstreamcli validate --no-net --strict "$prefix/share/metainfo/$app_id.metainfo.xml" ||
    fail "appstreamcli rejects the metainfo"
  grep -qx "Exec=\"$prefix/libexec/quelt/quelt-launch\"" "$prefix/share/applications/$app_id.desktop" ||
    fail "the menu entry does not start $prefix/libexec/quelt/quelt-launch"
  # The logger's unit, as an instance (where systemd is installed).
  if command -v systemd-analyze >/dev/null; then
    mkdir -p "$work/units"
    cp "$prefix/lib/systemd/system/quelt-log@.service" "$work/units/quelt-log@check.service"
    grep -qx "ExecStart=$prefix/bin/quelt-log \$QUELT_LOG_ARGS" "$work/units/quelt-log@check.service" ||
      fail "quelt-log@.service does not start $prefix/bin/quelt-log"
    out=$(systemd-analyze verify --man=no "$work/units/quelt-log@check.service" 2>&1) ||
      fail "systemd-analyze rejects quelt-log@.service: $out"
  fi
  echo "   files, menu entry and metainfo of $prefix: fine"
}

echo "== cmake --install into a scratch prefix"
cmake --build "$build" --target quelt quelt-decode quelt-log meter-sim quelt-mktable man_pages deb_changelog >/dev/null
cmake --install "$build" --prefix "$work/prefix" >/dev/null
check_prefix "$work/prefix"
check_files "$work/prefix" "${sim_files[@]}"

echo "== the .debs (cmake --build $build --target package)"
rm -f "$build"/package/*.deb
cmake --build "$build" --target package >/dev/null
# one_deb NAME: the one package file of that name.
one_deb() {
  local found=("$build"/package/"$1"_*.deb)
  [ "${#found[@]}" = 1 ] && [ -f "${found[0]}" ] || fail "expected one $1 package in $build/package, found: ${found[*]}"
  echo "${found[0]}"
}
deb=$(one_deb quelt)
sim_deb=$(one_deb quelt-sim)
for d in "$deb" "$sim_deb"; do
  echo "   $d"
  dpkg-deb -I "$d"
  dpkg-deb -c "$d"
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libmosquitto1 libc6; do
  grep -q "$lib" <<<"$depends" || fail "quelt's Depends lacks $lib (found by dpkg-shlibdeps): $depends"
done
# quelt's programs link neither umockdev nor glib themselves (Qt's core
# library brings glib in on Debian 12; umockdev must not come at all).
for field in Depends Recommends; do
  ! grep -Eq 'umockdev|libglib' <<<"$(dpkg-deb -f "$deb" "$field")" ||
    fail "quelt's $field names umockdev or glib: $(dpkg-deb -f "$deb" "$field")"
done
sim_depends=$(dpkg-deb -f "$sim_deb" Depends)
for lib in libumockdev0 umockdev libc6; do
  grep -Eq "(^|[ ,])$lib( |,|$)" <<<"$sim_depends" || fail "quelt-sim's Depends lacks $lib: $sim_depends"
done
! grep -q meter-sim <<<"$(dpkg-deb -c "$deb")" || fail "quelt holds meter-sim's files"
# The control files are unpacked rather than piped through tar and grep: a
# reader that stops early would end the writer with SIGPIPE, and pipefail
# would then fail a sound package.
dpkg-deb -e "$deb" "$work/control"
[ -x "$work/control/postinst" ] || fail "the package has no postinst"
[ -x "$work/control/postrm" ] || fail "the package has no postrm"
mkdir "$work/unpacked"
dpkg-deb -x "$deb" "$work/unpacked"
appstreamcli validate-tree --no-net --strict "$work/unpacked" || fail "appstreamcli rejects the package's tree"

echo "== lintian --pedantic on both packages"
if ! command -v lintian >/dev/null; then
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends lintian >/dev/null
fi
# Informational tags are shown; errors and warnings fail the check.
lintian_rc=0
lintian --pedantic --display-info --fail-on error,warning "$deb" "$sim_deb" >"$work/lintian.txt" 2>&1 || lintian_rc=$?
grep -v '^running with root privileges' "$work/lintian.txt" || true
[ "$lintian_rc" = 0 ] || fail "lintian finds errors or warnings in the packages (above)"

echo "== installing quelt alone with apt"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$deb"
check_prefix /usr
[ ! -e /usr/bin/meter-sim ] || fail "installing quelt brought /usr/bin/meter-sim"
# What installing quelt needs, all the way down: no umockdev. (The build root
# has umockdev installed for the tests, so what is installed tells nothing.)
closure=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
            --no-replaces --no-enhances quelt)
! grep -q umockdev <<<"$closure" || fail "quelt's dependencies reach umockdev: $(grep umockdev <<<"$closure" | sort -u)"
for f in "${quelt_files[@]}"; do
  case "$f" in bin/*) ! grep -q umockdev <<<"$(ldd "/usr/$f")" || fail "/usr/$f links umockdev" ;; esac
done
echo "   quelt and its dependencies: no umockdev"

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

echo "== installing quelt-sim with apt, and the installed tools on its meter simulator"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$sim_deb"
check_files /usr "${sim_files[@]}"
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

if [ -z "$keep" ]; then
  echo "== purging both packages"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q quelt-sim quelt >/dev/null
  for f in "${quelt_files[@]}" "${sim_files[@]}"; do
    [ ! -e "/usr/$f" ] || fail "/usr/$f is still there after the purge"
  done
fi
echo "== check-install: all fine"
