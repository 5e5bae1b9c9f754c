#!/usr/bin/env bash
# First start from a fresh clone: `git clone`, then ./scripts/run with the Debian
# packages already installed and no compiler cache, until the console's window
# is mapped on a private X server. Prints one line of figures.
#   bench/firststart.sh [COMMIT]      (default HEAD)
# Where a script stops without starting the console (a build that could not find
# the program), the program it built is started by hand and its time added.
# Also prints the processor time the whole start took (the script, apt checks,
# CMake, every compiler, the program until its window), which does not depend on
# what else the machine is doing, unlike the wall-clock time.
# Needs xvfb and xdotool; runs in a network namespace of its own (unshare), so
# nothing the console does can leave the machine.
set -u
usage="usage: bench/firststart.sh [COMMIT]"
case "${1:-}" in -h|--help) echo "$usage"; exit 0 ;; -*) echo "$usage" >&2; exit 2 ;; esac
repo=$(cd "$(dirname "$0")/.." && pwd)
commit=${1:-HEAD}
for t in Xvfb xdotool unshare; do command -v $t >/dev/null || { echo "$t missing" >&2; exit 2; }; done
work=$(mktemp -d)
xpid=; rpid=
cleanup() {
  [ -n "$rpid" ] && kill -- -"$rpid" 2>/dev/null
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  wait 2>/dev/null; rm -rf "$work"
}
trap cleanup EXIT
git clone -q "$repo" "$work/clone" && git -C "$work/clone" checkout -q "$commit" || exit 1
fifo=$work/fifo; mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" 2>/dev/null & xpid=$!
read -r -t 10 num <"$fifo" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$num
unset CMAKE_CXX_COMPILER_LAUNCHER; export CCACHE_DISABLE=1

hz=$(getconf CLK_TCK)
# Processor seconds of PID and of its children it has waited for. The script
# execs the console, so at the window this is the whole start's cost.
cpu_of() { awk -v hz="$hz" '{ printf "%.1f", ($14 + $15 + $16 + $17) / hz }' "/proc/$1/stat"; }
since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }
# waits until the console's window is mapped or PID ends; prints seconds since T0
window_up() {
  local pid=$1 t0=$2
  while kill -0 "$pid" 2>/dev/null; do
    # xdotool can hang on a window that vanishes while it looks: bounded.
    if timeout 5 xdotool search --onlyvisible --name 'Timer for RV-38T' >/dev/null 2>&1; then
      since "$t0"; return 0
    fi
    sleep 0.1
  done
  return 1
}
cd "$work/clone" || exit 1
load=$(cut -d' ' -f1-3 /proc/loadavg)
t0=$(date +%s.%N)
# The script runs under a shell of its own that reports, should the script end,
# the processor time of all it ran.
setsid unshare --net bash -c './scripts/run; echo "script ended: $?"; times' >"$work/run.log" 2>&1 & rpid=$!
sleep 0.5
script=$(pgrep -P "$rpid" | head -1)
if up=$(window_up "$script" "$t0"); then
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
