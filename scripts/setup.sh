# Shared by scripts/run, scripts/test, scripts/bench: install what is missing, configure, build.
# Sourced, not run.  Sets BUILD_DIR.

RV38T_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
RV38T_PACKAGES="qt6-base-dev libgl-dev fonts-liberation cmake g++ ninja-build iproute2 nftables stress-ng bc qt6-websockets-dev liblo-dev pkg-config chromium"

rv38t_install() {
  local missing=() p
  for p in $RV38T_PACKAGES "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" != 0 ]; then
    echo "Missing Debian packages. Install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null ||
    { apt-get update >/dev/null && apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null; } ||
    { echo "apt-get failed for: ${missing[*]}" >&2; exit 1; }
}

# rv38t_build DIR [extra cmake args...]
rv38t_build() {
  BUILD_DIR=$1; shift
  cmake -S "$RV38T_ROOT" -B "$BUILD_DIR" -G Ninja "$@" >/dev/null || exit 1
  cmake --build "$BUILD_DIR" --parallel "$(nproc)" || exit 1
}
