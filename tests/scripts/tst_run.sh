#!/usr/bin/env bash
# scripts/run without a display: it must say so before installing or building
# anything (it used to install and build for minutes, then Qt aborted), and
# --help must still work there. Each case: arguments, expected status, a text
# its output must hold.
set -u
run=$1
failed=0
while IFS='|' read -r args status text; do
  read -ra argv <<<"$args"
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$run" "${argv[@]}" 2>&1)
  rc=$?
  if [ "$rc" != "$status" ] || [[ "$out" != *"$text"* ]] || [[ "$out" == *"== "* ]]; then
    echo "FAIL: scripts/run $args: status $rc (want $status), output:"; echo "$out"; failed=1
  else
    echo "PASS: scripts/run $args"
  fi
done <<'CASES'
|1|xvfb-run ./scripts/run
--demo|1|xvfb-run ./scripts/run
--help|0|usage: scripts/run
--bogus|2|unknown argument: --bogus
CASES
exit $failed
