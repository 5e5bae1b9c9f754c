#!/usr/bin/env bash
# First start from a fresh clone: `git clone`, then ./scripts/run with no
# compiler cache, until the console's window is mapped on a private X server.
# Prints one line of figures.
#   bench/firststart.sh [COMMIT]      (default HEAD)
#     the Debian packages already installed on this machine; runs in a network
#     namespace of its own (unshare), so nothing the console does can leave it.
#   sudo bench/firststart.sh --fresh-root [--cache DIR] [COMMIT]
#     what a new user meets: a fresh Debian 12 minbase root with git only (a
#     tarball of one in DIR, by default ~/.cache/rv38t, made with debootstrap
#     at the first use), unpacked anew for each run; `git clone` and
#     ./scripts/run inside it (chroot), apt fetching from Debian's mirror. The
#     clone has no LST_IP.CFG, so the console connects to nothing and sends
#     nothing; apt needs the network, so this mode keeps the machine's. Timed
#     apart: the clone, apt (the script's start until it configures), the build
#     (configuring until it starts the console) and the window.
# Where a script stops without starting the console (a build that could not find
# the program), the program it built is started by hand and its time added.
# Also prints the processor time the whole start took (the script, apt,
# CMake, every compiler, the program until its window), which does not depend on
# what else the machine is doing, unlike the wall-clock time.
# Needs xvfb and xdotool (./scripts/bench installs them), and debootstrap for
# the first --fresh-root run.
set -u
usage="usage: bench/firststart.sh [--log FILE] [COMMIT]
       bench/firststart.sh --fresh-root [--cache DIR] [--then-test] [--log FILE] [COMMIT]
  --then-test  after the window, ./scripts/test in the same root (figures on a second line)
  --log FILE   keep the run's output there (and the tests' in FILE.test)"
repo=$(cd "$(dirname "$0")/.." && pwd)
fresh=false; then_test=false; cache=${HOME:-/root}/.cache/rv38t; commit=HEAD; log=
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) echo "$usage"; exit 0 ;;
    --fresh-root) fresh=true; shift ;;
    --then-test) then_test=true; shift ;;
    --cache) [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }; cache=$2; shift 2 ;;
    --log) [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }; log=$(realpath -m "$2"); shift 2 ;;
    -*) echo "$usage" >&2; exit 2 ;;
    *) commit=$1; shift ;;
  esac
done
for t in Xvfb xdotool unshare; do command -v $t >/dev/null || { echo "$t missing" >&2; exit 2; }; done
work=$(mktemp -d)
xpid=; rpid=
cleanup() {
  [ -n "$rpid" ] && kill -- -"$rpid" 2>/dev/null
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  wait 2>/dev/null
  [ -n "$log" ] && [ -f "$work/run.log" ] && cp "$work/run.log" "$log"
  # The fresh root's mounts live in a mount namespace of their own and are gone
  # with its last process; never delete through a mount that is still there.
  if findmnt -rn -o TARGET | grep -q "^$work/"; then
    echo "mounts left under $work; not removed" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
fifo=$work/fifo; mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" 2>/dev/null & xpid=$!
read -r -t 10 num <"$fifo" || { echo "Xvfb did not start" >&2; exit 1; }
rm -f "$fifo"
export DISPLAY=:$num
unset CMAKE_CXX_COMPILER_LAUNCHER; export CCACHE_DISABLE=1

hz=$(getconf CLK_TCK)
# Processor seconds of PID and of its children it has waited for. The script
# execs the console, so at the window this is the whole start's cost.
cpu_of() { awk -v hz="$hz" '{ printf "%.1f", ($14 + $15 + $16 + $17) / hz }' "/proc/$1/stat"; }
since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }
# waits until the console's window is mapped or PID ends; prints seconds since T0.
# With LOG, the X server is asked only once LOG says the console starts: asking
# it ten times a second through the install and the build cost the run itself
# processor time.
window_up() {
  local pid=$1 t0=$2 log=${3:-}
  if [ -n "$log" ]; then
    while kill -0 "$pid" 2>/dev/null && ! grep -qF "== starting" "$log" 2>/dev/null; do sleep 0.1; done
  fi
  while kill -0 "$pid" 2>/dev/null; do
    # xdotool can hang on a window that vanishes while it looks: bounded.
    if timeout 5 xdotool search --onlyvisible --name 'Timer for RV-38T' >/dev/null 2>&1; then
      since "$t0"; return 0
    fi
    sleep 0.1
  done
  return 1
}
load=$(cut -d' ' -f1-3 /proc/loadavg)

if $fresh; then
  [ "$(id -u)" = 0 ] || { echo "--fresh-root needs root (debootstrap, chroot, mounts)" >&2; exit 2; }
  tarball=$cache/bookworm-minbase-git.tar
  if [ ! -f "$tarball" ]; then
    command -v debootstrap >/dev/null || { echo "debootstrap missing" >&2; exit 2; }
    mkdir -p "$cache" && rm -rf "$cache/root.tmp" || exit 1
    echo "== debootstrap (once; kept as $tarball)" >&2
    debootstrap --variant=minbase --include=git bookworm "$cache/root.tmp" http://deb.debian.org/debian >&2 ||
      { echo "debootstrap failed" >&2; exit 1; }
    # As a fresh image comes: no package lists, no downloaded packages.
    rm -rf "$cache"/root.tmp/var/lib/apt/lists/* "$cache"/root.tmp/var/cache/apt/archives/*.deb
    tar -C "$cache/root.tmp" -cf "$tarball.part" . && mv "$tarball.part" "$tarball" || exit 1
    rm -rf "$cache/root.tmp"
  fi
  root=$work/root; mkdir "$root" && tar -C "$root" -xf "$tarball" || exit 1
  # A fresh machine has not just written its own root, nor cached the files of
  # a run before: the unpacked root goes to disk and the kernel's caches are
  # dropped before the clock starts, as after a boot. Left as they were, runs
  # in a row grew slower (apt's system time 9 s, then up to 24 s, for the same
  # work).
  sync && echo 3 >/proc/sys/vm/drop_caches
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  hash=$(git -C "$repo" rev-parse "$commit^{commit}") || exit 1
  git clone -q --bare "$repo" "$root/srv/origin.git" || exit 1
  mkdir -p "$root/tmp/.X11-unix"
  # Inside a private mount namespace: the root bound onto itself (a machine's
  # root is a mount point; `ip netns` needs one), the chroot's /proc, /sys,
  # /dev and the X server's socket directory; unmounted on the way out, however
  # the run ends (and gone with the namespace in any case). The chroot's PID
  # goes to PIDFILE: its processor time is read, and it becomes the script
  # (exec), which becomes the console.
  cat >"$work/inside.sh" <<'EOF'
root=$1 pidfile=$2; shift 2
child=
leave() { [ -n "$child" ] && kill "$child" 2>/dev/null; wait; umount -R "$root"; }
trap leave EXIT
trap 'exit 143' TERM INT HUP
mount --bind "$root" "$root" && mount -t proc proc "$root/proc" &&
  mount --rbind /sys "$root/sys" && mount --make-rslave "$root/sys" &&
  mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev" &&
  mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix" || exit 1
chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 DISPLAY="$DISPLAY" \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin bash -c "$@" & child=$!
echo "$child" >"$pidfile"
wait "$child"
EOF
  # in_root LOG COMMAND [ARGS]: runs bash -c COMMAND in the root, in the
  # background (its PID in $rpid, the shell's in $pid). The lines that mark a
  # phase ("== ...") are stamped into LOG with the time and the processor time
  # so far (clock ticks); builtins only, so the stamps do not lag behind apt's
  # thousand lines.
  in_root() {
    local out=$work/out.$RANDOM pidfile=$work/pid.$RANDOM logfile=$1; shift
    mkfifo "$out" || exit 1
    (
      exec 2>/dev/null
      while IFS= read -r line; do
        case "$line" in
          "== "*)
            # A line written as the process ends has the time but no ticks.
            f=(); read -r p <"$pidfile" && read -ra f <"/proc/$p/stat"
            printf '%s %s %s\n' "$EPOCHREALTIME" "$((f[13] + f[14] + f[15] + f[16]))" "$line" ;;
          *) printf -- '- - %s\n' "$line" ;;
        esac
      done <"$out" >"$logfile"
    ) &
    setsid unshare --mount --propagation private bash "$work/inside.sh" "$root" "$pidfile" "$@" >"$out" 2>&1 & rpid=$!
    pid=
    for _ in $(seq 100); do [ -s "$pidfile" ] && read -r pid <"$pidfile" && break; sleep 0.05; done
    [ -n "$pid" ] || { echo "the fresh root could not be entered" >&2; exit 1; }
  }
  # field F (1 the time, 2 the ticks) of the first line of LOG that starts with MARK
  mark() { awk -v m="$1" -v f="$2" '{ rest = $0; sub(/^[^ ]+ [^ ]+ /, "", rest) } index(rest, m) == 1 { print $f; exit }' "$3"; }
  minus() { awk -v a="$1" -v b="$2" -v d="${3:-1}" 'BEGIN { printf "%.1f", (b - a) / d }'; }

  t0=$EPOCHREALTIME
  # shellcheck disable=SC2016 # expanded in the root
  in_root "$work/run.log" 'cd /root && git clone -q /srv/origin.git rv38t && cd rv38t && git checkout -q "$1" &&
    [ ! -e LST_IP.CFG ] && echo "== scripts/run" && exec ./scripts/run' bash "$hash"
  if ! up=$(window_up "$pid" "$t0" "$work/run.log"); then
    echo "no window; the run said:" >&2; sleep 1; cut -d' ' -f3- "$work/run.log" | tail -20 >&2; exit 1
  fi
  cpu=$(cpu_of "$pid")
  l=$work/run.log
  r_t=$(mark "== scripts/run" 1 "$l"); c_t=$(mark "== configuring" 1 "$l"); s_t=$(mark "== starting" 1 "$l")
  r_c=$(mark "== scripts/run" 2 "$l"); c_c=$(mark "== configuring" 2 "$l"); s_c=$(mark "== starting" 2 "$l")
  if [ -z "$r_t" ] || [ -z "$c_t" ] || [ -z "$s_t" ]; then echo "phases not found in the run's output" >&2; exit 1; fi
  echo "firststart mode=fresh-root commit=$(git -C "$repo" rev-parse --short "$hash") clone_s=$(minus "$t0" "$r_t") apt_s=$(minus "$r_t" "$c_t") build_s=$(minus "$c_t" "$s_t") window_s=$(minus "$s_t" "$(awk -v a="$t0" -v u="$up" 'BEGIN { printf "%.3f", a + u }')") total_s=$up apt_cpu_s=$(minus "$r_c" "$c_c" "$hz") build_cpu_s=$(minus "$c_c" "$s_c" "$hz") cpu_s=$cpu load_before=\"$load\""
  if $then_test; then
    kill -- -"$rpid" 2>/dev/null; wait "$rpid" 2>/dev/null; rpid=
    load=$(cut -d' ' -f1-3 /proc/loadavg)
    t0=$EPOCHREALTIME
    # shellcheck disable=SC2016 # expanded in the root
    in_root "$work/test.log" 'cd /root/rv38t && echo "== scripts/test" && ./scripts/test; echo "== test ended: $?"'
    wait "$rpid"; rpid=
    l=$work/test.log
    sleep 1; [ -n "$log" ] && cp "$l" "$log.test"
    # build/ is configured already by the run: the build starts at "building".
    r_t=$(mark "== scripts/test" 1 "$l"); c_t=$(mark "== building" 1 "$l")
    b_t=$(mark "== running the tests" 1 "$l"); e_t=$(mark "== test ended" 1 "$l")
    summary=$(grep -o '[0-9]*% tests passed.*' "$l" | tail -1)
    echo "then-test apt_s=$(minus "$r_t" "$c_t") build_s=$(minus "$c_t" "$b_t") tests_s=$(minus "$b_t" "$e_t") total_s=$(minus "$t0" "$e_t") status=$(grep '== test ended' "$l" | awk '{ print $NF }') skipped=$(grep -c 'Skipped' "$l") summary=\"$summary\" load_before=\"$load\""
    grep -- 'Skipped\|\*\*\*Failed\|SKIP  ' "$l" | cut -d' ' -f3- | head -20
  fi
  exit 0
fi

git clone -q "$repo" "$work/clone" && git -C "$work/clone" checkout -q "$commit" || exit 1
cd "$work/clone" || exit 1
t0=$(date +%s.%N)
# The script runs under a shell of its own that reports, should the script end,
# the processor time of all it ran.
setsid unshare --net bash -c './scripts/run; echo "script ended: $?"; times' >"$work/run.log" 2>&1 & rpid=$!
sleep 0.5
script=$(pgrep -P "$rpid" | head -1)
if up=$(window_up "$script" "$t0" "$work/run.log"); then
  echo "firststart commit=$(git rev-parse --short HEAD) script_s=$up by_hand_s=0 total_s=$up cpu_s=$(cpu_of "$script") load_before=\"$load\""
  exit 0
fi
script_s=$(since "$t0")
wait "$rpid"; rpid=
script_cpu=$(tail -1 "$work/run.log" | awk '{ gsub(/[ms]/, " "); print $1 * 60 + $2 + $3 * 60 + $4 }')
said=$(grep -B1 '^script ended' "$work/run.log" | head -1)
bin=$(find build -name rv38t-timer -type f -perm -u+x | head -1)
[ -n "$bin" ] || { echo "no window and no program built; the script said:" >&2; tail -20 "$work/run.log" >&2; exit 1; }
t1=$(date +%s.%N)
setsid unshare --net "$bin" >>"$work/run.log" 2>&1 & rpid=$!
up=$(window_up "$rpid" "$t1") || { echo "the program did not show its window" >&2; exit 1; }
cpu=$(awk -v a="$script_cpu" -v b="$(cpu_of "$rpid")" 'BEGIN { printf "%.1f", a + b }')
echo "firststart commit=$(git rev-parse --short HEAD) script_s=$script_s by_hand_s=$up total_s=$(awk -v a="$script_s" -v b="$up" 'BEGIN { printf "%.1f", a + b }') cpu_s=$cpu load_before=\"$load\" note=\"script stopped: $said\""
