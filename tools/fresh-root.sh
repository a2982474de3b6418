#!/usr/bin/env bash
# Runs the README's set-up commands in a brand-new minimal Debian 12 root, as a
# new machine would: nothing installed but the base system, the project cloned
# from its committed tree. No package left on this machine can hide a missing
# install step. CI runs it on every submission (.ci/run).
#
# Usage, as root, from anywhere in the repository:
#   tools/fresh-root.sh [--keep] [--as-user] [test|run|both]
#     test   the README's test command (its second line)
#     run    the README's run command (its first line), with Qt's offscreen
#            platform: a pass when the program is still running a minute later
#     both   (the default) the test command, then what the built tree installs
#            (tools/check-install.sh: cmake --install, the .deb installed with
#            apt, the installed program started), then the run check, all in
#            the same root
#     --keep     leave the root in place afterwards, for a look
#     --as-user  run the commands as a new user who has sudo, not as root
#   QUELT_FRESH_CACHE=DIR   where the base system and the downloaded packages are
#                           cached (default /var/tmp/quelt-fresh-root)
#   QUELT_FRESH_REV=REV     the commit to clone (default HEAD)
#
# The base system is made once with debootstrap (--variant=minbase) from the
# mirror this machine's own apt sources name, cached as a tarball and unpacked
# afresh for every run. Downloaded packages are kept between runs so that apt
# need not fetch them again; they are still installed into each new root.
# The commands run in their own process and mount namespaces: whatever they
# start ends with them, and whatever was mounted for them goes away with the
# namespace. The root is removed at the end, also after a failure or Ctrl-C.
set -euo pipefail

mode=both keep="" as_user=""
for arg in "$@"; do
  case "$arg" in
    test|run|both) mode=$arg ;;
    --keep) keep=1 ;;
    --as-user) as_user=1 ;;
    -h|--help) sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "fresh-root: unknown argument '$arg' (see --help)" >&2; exit 2 ;;
  esac
done

[ "$(id -u)" = 0 ] || { echo "fresh-root: run as root (debootstrap, chroot and mounts need it)" >&2; exit 2; }
for tool in git unshare chroot tar mount; do
  command -v "$tool" >/dev/null || { echo "fresh-root: '$tool' is missing on this machine" >&2; exit 2; }
done
if ! command -v debootstrap >/dev/null; then
  echo "== installing debootstrap on this machine"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap >/dev/null
fi

repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
rev=$(git -C "$repo" rev-parse --verify "${QUELT_FRESH_REV:-HEAD}^{commit}")
cache=${QUELT_FRESH_CACHE:-/var/tmp/quelt-fresh-root}
suite=bookworm
t0=$(date +%s)

# The README's commands: the first code block, its command lines in order.
readme_command() {
  awk '/^```/{f=!f; if(!f) exit; next} f' "$1" | grep -v '^[[:space:]]*#' | grep -v '^[[:space:]]*$' |
    sed -n "${2}p" | sed 's/[[:space:]]#.*$//; s/[[:space:]]*$//'
}
readme=$(mktemp)
git -C "$repo" show "$rev:README.md" >"$readme"
run_cmd=$(readme_command "$readme" 1)
test_cmd=$(readme_command "$readme" 2)
rm -f "$readme"
[ -n "$run_cmd" ] && [ -n "$test_cmd" ] || { echo "fresh-root: the README's first code block lacks its two commands" >&2; exit 2; }

# This machine's Debian sources for the suite, in the deb822 form: the mirror is
# whatever the host uses, read now, never written into the repository.
host_sources() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -r "$f" ] || continue
    awk -v s="$suite" 'BEGIN{RS=""; ORS="\n\n"} /(^|\n)Types:[^\n]*deb/ && $0 ~ "(^|\n)Suites:[^\n]*" s {
        n=split($0, l, "\n"); out="";
        for (i=1; i<=n; i++) if (l[i] !~ /^#/) out=out l[i] "\n";
        printf "%s\n", out }' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -r "$f" ] || continue
    awk -v s="$suite" '$1=="deb" && $0 ~ " " s {
        i=2; if ($2 ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
        printf "Types: deb\nURIs: %s\nSuites: %s\nComponents:", $i, $(i+1);
        for (j=i+2; j<=NF; j++) printf " %s", $j; printf "\n\n" }' "$f"
  done
}
sources=$(host_sources)
mirror=$(awk '/^URIs:/ && $2 !~ /security/ {print $2; exit}' <<<"$sources")
[ -n "$mirror" ] || { echo "fresh-root: no Debian $suite mirror in this machine's apt sources" >&2; exit 2; }

child="" root="" tmp=""
mkdir -p "$cache/debs/partial"
cleanup() {
  local rc=$?
  trap - EXIT INT TERM HUP
  if [ -n "$child" ] && kill -0 "$child" 2>/dev/null; then
    kill -TERM "$child" 2>/dev/null || true
    wait "$child" 2>/dev/null || true
  fi
  rm -f "${marks:-}" "${log:-}"
  # The mounts belong to the namespaces, which ended with their last process;
  # never delete through a mount that is somehow still there.
  if [ -n "$tmp" ] && ! grep -q " ${tmp}[/ ]" /proc/self/mountinfo; then rm -rf --one-file-system "$tmp"; fi
  [ -n "$root" ] || exit "$rc"
  if grep -q " ${root}[/ ]" /proc/self/mountinfo; then
    echo "fresh-root: something is still mounted under $root; left in place" >&2
  elif [ -n "$keep" ]; then
    echo "== root kept at $root"
  else
    rm -rf --one-file-system "$root"
  fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# The base system, made once per mirror.
key=$(printf '%s %s minbase' "$mirror" "$suite" | sha1sum | cut -c1-12)
base="$cache/base-$suite-minbase-$key.tar"
if [ ! -s "$base" ]; then
  echo "== making the base system with debootstrap from $mirror (once; cached as $base)"
  tmp=$(mktemp -d "$cache/debootstrap.XXXXXX")
  # In namespaces of its own too, so that an interrupt leaves nothing mounted.
  unshare --pid --fork --mount --propagation private --kill-child \
      debootstrap --variant=minbase "$suite" "$tmp" "$mirror" >"$cache/debootstrap.log" 2>&1 </dev/null &
  child=$!
  wait "$child" || { echo "fresh-root: debootstrap failed; its log is $cache/debootstrap.log" >&2; exit 2; }
  child=""
  tar -C "$tmp" -cf "$base.part" . && mv "$base.part" "$base"
  rm -rf --one-file-system "$tmp"
  tmp=""
fi

root=$(mktemp -d "$cache/root.XXXXXX")
tar -C "$root" -xf "$base"
chmod 755 "$root"
t_base=$(( $(date +%s) - t0 ))
printf '%s\n' "$sources" >"$root/etc/apt/sources.list.d/debian.sources"
rm -f "$root/etc/apt/sources.list"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
printf '127.0.0.1\tlocalhost\n127.0.1.1\t%s\n' "$(hostname)" >"$root/etc/hosts"
mkdir -p "$root/src"
git clone -q --no-local --no-checkout "$repo" "$root/src/project"
git -C "$root/src/project" checkout -q --detach "$rev"
echo "== fresh Debian 12 root at $root with the project at $(git -C "$repo" rev-parse --short "$rev")"

user=root home=/root
if [ -n "$as_user" ]; then
  user=tester home=/home/tester
fi

# What runs inside: the mounts of a small machine, then the commands.
inner=$(cat <<'INNER'
set -u
mount -t proc proc /proc
mount -t sysfs -o ro sysfs /sys
mount -t tmpfs -o mode=755,size=64k tmpfs /dev
for n in null zero full random urandom tty; do : >"/dev/$n"; mount --bind "/host-dev/$n" "/dev/$n"; done
mkdir -p /dev/pts /dev/shm
mount -t devpts -o newinstance,ptmxmode=0666,mode=620,gid=5 devpts /dev/pts
ln -s pts/ptmx /dev/ptmx
mount -t tmpfs -o mode=1777 tmpfs /dev/shm
ln -s /proc/self/fd /dev/fd; ln -s /proc/self/fd/0 /dev/stdin
ln -s /proc/self/fd/1 /dev/stdout; ln -s /proc/self/fd/2 /dev/stderr
mount -t tmpfs -o mode=1777 tmpfs /tmp
umount -l /host-dev
chown _apt /var/cache/apt/archives/partial 2>/dev/null
if [ "$FRESH_USER" != root ]; then
  echo "== as a user with sudo: installing sudo and adding $FRESH_USER"
  DEBIAN_FRONTEND=noninteractive apt-get update -q >/dev/null &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends sudo >/dev/null || exit 2
  useradd -m -s /bin/bash "$FRESH_USER"
  echo "$FRESH_USER ALL=(ALL) NOPASSWD: ALL" >/etc/sudoers.d/fresh-root
  chown -R "$FRESH_USER:" /src/project
fi
as() { if [ "$FRESH_USER" = root ]; then bash -c "$1"; else su "$FRESH_USER" -c "$1"; fi; }
cd /src/project
rc=0
if [ "$FRESH_MODE" != run ]; then
  echo "== the README's test command: $FRESH_TEST"
  as "cd /src/project && $FRESH_TEST" || rc=$?
  echo "== test command ended with exit $rc"
fi
if [ "$rc" = 0 ] && [ "$FRESH_MODE" = both ]; then
  echo "== install check: tools/check-install.sh build"
  as "cd /src/project && tools/check-install.sh build" || rc=$?
  echo "== install check ended with exit $rc"
fi
if [ "$rc" = 0 ] && [ "$FRESH_MODE" != test ]; then
  echo "== the README's run command: $FRESH_RUN"
  running() { for p in /proc/[0-9]*; do [ "$(cat "$p/comm" 2>/dev/null)" = quelt ] && return 0; done; return 1; }
  as "cd /src/project && export QT_QPA_PLATFORM=offscreen && $FRESH_RUN" </dev/null >/tmp/run.log 2>&1 &
  pid=$!
  started=""
  for _ in $(seq 1800); do
    running && { started=1; break; }
    kill -0 "$pid" 2>/dev/null || break
    sleep 1
  done
  if [ -n "$started" ]; then
    echo "== run started"
    sleep 60
  fi
  if [ -n "$started" ] && running; then
    echo "== run check: the program is still running a minute after it started"
  else
    echo "== run check failed: the program is not running; its output:"
    tail -n 40 /tmp/run.log
    rc=1
  fi
  kill -TERM "$pid" 2>/dev/null
  for p in /proc/[0-9]*; do [ "$(cat "$p/comm" 2>/dev/null)" = quelt ] && kill -TERM "${p#/proc/}" 2>/dev/null; done
  wait "$pid" 2>/dev/null
fi
exit "$rc"
INNER
)

mkdir -p "$root/host-dev" "$root/var/cache/apt/archives"
marks=$(mktemp) log=$(mktemp)
set +e
# The host's /dev is bound in only to lend a few device nodes; the inner script
# unmounts it before anything else runs.
unshare --pid --fork --mount --propagation private --kill-child -- bash -c '
    mount --bind /dev "$1/host-dev" && mount --bind "$2" "$1/var/cache/apt/archives" && exec chroot "$1" /usr/bin/env -i \
      HOME="$3" PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 TERM=dumb CI=true \
      FRESH_USER="$4" FRESH_MODE="$5" FRESH_TEST="$6" FRESH_RUN="$7" bash -c "$8"' \
    fresh-root "$root" "$cache/debs" "$home" "$user" "$mode" "$test_cmd" "$run_cmd" "$inner" \
    < /dev/null 2>&1 |
  while IFS= read -r line; do
    printf '%s\n' "$line"
    printf '%s\n' "$line" >>"$log"
    case "$line" in "== "*) printf '%s %s\n' "$(date +%s)" "$line" >>"$marks" ;; esac
  done &
child=$!
wait "$child"
rc=$?
child=""
set -e
t_end=$(date +%s)

# The result and where the time went.
stamp() { awk -v k="$1" 'index($0, k) {print $1; exit}' "$marks"; }
t_start=$(stamp '== fresh Debian'); t_inst=$(stamp '== installing packages')
t_build=$(stamp '== build'); t_tests=$(stamp '== tests'); t_tend=$(stamp '== test command ended')
t_inst2=$(stamp '== install check:'); t_inst2end=$(stamp '== install check ended')
t_run=$(stamp "== the README's run command"); t_runend=$(stamp '== run check')
span() { [ -n "$1" ] && [ -n "$2" ] && echo "$(( $2 - $1 )) s" || echo "-"; }
echo
echo "== ctest's summary"
grep -E 'tests passed|tests failed|^[[:space:]]+[0-9]+ - .*\((Failed|Timeout|SEGFAULT|Subprocess|Not Run|Exception)' \
  "$log" || echo "(no ctest summary: the tests did not run)"
echo "== time: base system $t_base s; packages $(span "$t_inst" "$t_build"); build $(span "$t_build" "$t_tests");" \
  "tests $(span "$t_tests" "$t_tend"); install check $(span "$t_inst2" "$t_inst2end"); run check $(span "$t_run" "$t_runend"); all $(( t_end - t0 )) s"
rm -f "$marks" "$log"
exit "$rc"
