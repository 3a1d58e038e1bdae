#!/usr/bin/env bash
# Runs the README's walk-through for setting up by hand exactly as the README writes it: the
# first ```sh block after the line "<!-- walk-through -->", line by line (stopping at the first
# failure), from the source tree, with a private HOME. The one change: where the README puts
# $PWD/build-demo on the PATH, the programs of the given build are used.
#
#   tests/readme_walkthrough_test.sh <build dir> <source dir>
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

awk '/^<!-- walk-through -->$/ { found = 1; next }
     found && !inside && /^```sh$/ { inside = 1; next }
     inside && /^```$/ { exit }
     inside { print }' "$source/README.md" >"$work/walkthrough.txt"
grep -q '\$PWD/build-demo' "$work/walkthrough.txt" ||
  { echo "README.md: no walk-through block putting \$PWD/build-demo on the PATH" >&2; exit 1; }
sed "s|\$PWD/build-demo|$build|g" "$work/walkthrough.txt" >"$work/walkthrough.sh"

mkdir "$work/home"
(cd "$source" && env -u ZARVELT_SQL_DIR HOME="$work/home" bash -euo pipefail "$work/walkthrough.sh") \
  >"$work/output.txt" 2>&1 || { cat "$work/output.txt" >&2; echo "walk-through failed" >&2; exit 1; }

# The demo booking file's run: its 5 time bookings exported and summed up in the log.
grep -q 'Zeitbuchungen         : 5' "$work/output.txt" ||
  { cat "$work/output.txt" >&2; echo "walk-through: no summary of 5 time bookings" >&2; exit 1; }
lines=$(wc -l <"$work/home/zeit/Transfer/work/T01_time.txt")
[ "$lines" -eq 5 ] || { echo "walk-through: target file 1 has $lines lines, not 5" >&2; exit 1; }
echo "readme_walkthrough: $(wc -l <"$work/walkthrough.sh") lines of README.md ran as written"
