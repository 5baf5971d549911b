#!/bin/bash
# Builds the launcher twice from clean with the windows preset, in two folders of different path
# lengths and at different times, and checks that both copies and the one under test are the same
# bytes: neither the build folder nor the clock may reach the executable.
# Usage: reproducible_build.sh CMAKE SOURCE_DIR BUILT_LAUNCHER
set -euo pipefail

cmake=$1
source_dir=$2
built=$3

scratch=$(mktemp -d "${TMPDIR:-/tmp}/orbedo-reproducible.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

for build in a second-build; do
  "$cmake" -S "$source_dir" -B "$scratch/$build" --preset windows > "$scratch/$build.log" 2>&1 ||
    { cat "$scratch/$build.log"; exit 1; }
  "$cmake" --build "$scratch/$build" --target launcher -j2 >> "$scratch/$build.log" 2>&1 ||
    { cat "$scratch/$build.log"; exit 1; }
done

status=0
for other in "$scratch/second-build/Orbedo-Launcher.exe" "$built"; do
  if cmp "$scratch/a/Orbedo-Launcher.exe" "$other"; then
    echo "same bytes: $other"
  else
    status=1
  fi
done
exit $status
