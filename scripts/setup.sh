# shellcheck shell=bash
# Shared by the scripts: install what is missing, configure, build, usage.
# Sourced, not run. rv38t_build sets BUILD_DIR.

RV38T_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# The Debian packages, each written once, in lists by purpose.
# Building and running the two programs (./scripts/run installs these only).
# qt6-svg-dev: CMake configures the icon writer with every build, though only
# the package paints icons.
RV38T_PACKAGES_RUN="qt6-base-dev qt6-svg-dev qt6-websockets-dev libgl-dev liblo-dev pkg-config cmake g++ ninja-build fonts-liberation"
# What the tests add (./scripts/test, with the packaging list: the package is tested too);
# python3-jsonschema and python3-yaml check the remote control against docs/openapi.yaml.
RV38T_PACKAGES_TESTS="iproute2 nftables chromium clang-format shellcheck python3 python3-jsonschema python3-yaml"
# What making and checking the Debian package adds (./scripts/package).
RV38T_PACKAGES_PACKAGING="dpkg-dev file lintian desktop-file-utils appstream"
# What the benchmarks and soak runs add (with the tests' list).
RV38T_PACKAGES_BENCH="stress-ng bc xvfb xdotool debootstrap"

# rv38t_help USAGE prints the script's usage and exits 0 (for --help);
# rv38t_refuse USAGE ARG refuses an argument the script does not take.
rv38t_help() { printf '%s\n' "$1"; exit 0; }
rv38t_refuse() {
  echo "$(basename "$0"): unknown argument: $2" >&2
  printf '%s\n' "$1" >&2
  exit 2
}

# The package lists are empty in a fresh container, and a list that does not
# know a package yet makes apt-get fail: refresh them first in both cases.
rv38t_lists_need_update() {
  compgen -G "/var/lib/apt/lists/*_Packages*" >/dev/null || return 0
  apt-cache show --no-all-versions "$@" >/dev/null 2>&1 || return 0
  return 1
}

# rv38t_install [tests] [packaging] [bench] [PACKAGE...]: installs what is
# missing of the run list, of the lists named, and of the packages named.
# shellcheck disable=SC2120
rv38t_install() {
  local wanted=$RV38T_PACKAGES_RUN missing=() p
  for p in "$@"; do
    case "$p" in
      tests) wanted+=" $RV38T_PACKAGES_TESTS" ;;
      packaging) wanted+=" $RV38T_PACKAGES_PACKAGING" ;;
      bench) wanted+=" $RV38T_PACKAGES_BENCH" ;;
      *) wanted+=" $p" ;;
    esac
  done
  for p in $wanted; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" != 0 ]; then
    # Plain apt-get, to run as root by whatever means the machine has (su,
    # sudo, a root shell): a minimal Debian has no sudo.
    echo "Missing Debian packages. Install them as root with:" >&2
    echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  if rv38t_lists_need_update "${missing[@]}"; then
    echo "== apt-get update (package lists empty or older than what is needed)"
    apt-get update || { echo "apt-get update failed" >&2; exit 1; }
  fi
  echo "== apt-get install ${missing[*]}"
  apt-get install -y --no-install-recommends "${missing[@]}" ||
    { echo "apt-get failed for: ${missing[*]}" >&2; exit 1; }
}

# rv38t_configure DIR [cmake args...]: configures DIR with Ninja (quiet once done).
rv38t_configure() {
  local dir=$1; shift
  if [ -f "$dir/build.ninja" ] && [ $# -eq 0 ]; then return 0; fi
  echo "== configuring $dir"
  cmake -S "$RV38T_ROOT" -B "$dir" -G Ninja "$@" || exit 1
}

# rv38t_build DIR [--target T...] [-- cmake args...]: configures DIR when needed
# and builds the targets (all without --target), showing each step.
rv38t_build() {
  BUILD_DIR=$1; shift
  local targets=() args=()
  while [ $# -gt 0 ]; do
    case "$1" in
      --target) targets+=("$2"); shift 2 ;;
      --) shift; args=("$@"); break ;;
      *) args+=("$1"); shift ;;
    esac
  done
  rv38t_configure "$BUILD_DIR" "${args[@]}"
  echo "== building ${targets[*]:-everything} in $BUILD_DIR"
  if [ ${#targets[@]} -gt 0 ]; then
    cmake --build "$BUILD_DIR" --parallel "$(nproc)" --target "${targets[@]}" || exit 1
  else
    cmake --build "$BUILD_DIR" --parallel "$(nproc)" || exit 1
  fi
}
