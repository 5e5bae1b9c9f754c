#!/usr/bin/env bash
# Folds the sections written by scripts/bench, scripts/fuzz and scripts/soak, and the
# first-start figures (bench/firststart.sh, written up by hand), into bench/RESULTS.md.
cd "$(dirname "$0")" || exit 1
{
  echo "# Performance and reliability results"
  echo
  echo "Written by \`./scripts/bench\`, \`./scripts/fuzz\`, \`./scripts/soak\` and \`bench/firststart.sh\`; each section says when and how it was made."
  for s in bench remote presenter rundown hostile standby fencing timeofday notes firststart fuzz soak; do
    [ -f results/$s.md ] && { echo; cat results/$s.md; }
  done
} > RESULTS.md
