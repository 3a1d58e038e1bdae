#!/usr/bin/env bash
# Builds the Debian package of a build directory, checks its declared dependencies and
# contents, unpacks it into a private root and runs the demo with the unpacked programs, which
# must find their SQL files below the unpacked root, not in the source tree.
#
#   tests/debian_package_test.sh <build dir> <source dir>
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; exit 1; }
deb=$(ls "$work"/package/zarvelt_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libsqlite3-0; do
  case ", $depends" in *", $library"*) ;; *) echo "Depends lacks $library: $depends" >&2; exit 1 ;; esac
done

dpkg -x "$deb" "$work/root"
for file in usr/bin/zarvelt usr/bin/zarvelt_config usr/bin/zarvelt_admin \
  usr/share/man/man1/zarvelt.1 usr/share/zarvelt/sql/sqlite/central.sql \
  usr/share/zarvelt/sql/postgresql/client.sql usr/share/zarvelt/demo-data/master/badges.csv; do
  [ -e "$work/root/$file" ] || { echo "package lacks /$file" >&2; exit 1; }
done
"$work/root/usr/bin/zarvelt" --version | grep -q '^zarvelt ' ||
  { echo "zarvelt --version printed no version" >&2; exit 1; }

env -u ZARVELT_SQL_DIR ZARVELT_DEMO_BUILD_DIR="$work/root/usr/bin" ZARVELT_DEMO_DIR="$work/demo" \
  bash "$source/scripts/demo.sh" >"$work/demo.log" 2>&1 || { cat "$work/demo.log" >&2; exit 1; }
grep -q 'Zeitbuchungen         : 5' "$work/demo.log" ||
  { cat "$work/demo.log" >&2; echo "the demo run did not transfer its 5 time bookings" >&2; exit 1; }
echo "debian_package: $(basename "$deb") installs and runs the demo"
