#!/usr/bin/env bash
# Checks the Windows package that scripts/windows-build.sh made: exactly the files an operator
# needs, each program a Windows executable of its folder's width that needs no DLL but
# Windows' own, the texts with CR LF line ends, the install note naming what it must name.
#
#   tests/windows_package_test.sh <zip>
set -euo pipefail
zip=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "windows_package: $*" >&2
  exit 1
}

name=$(basename "$zip" .zip)
expected=$(
  for width in win32 win64; do
    for program in zarvelt zarvelt_admin zarvelt_config; do echo "$name/$width/$program.exe"; done
  done
  printf '%s\n' "$name/INSTALL.txt" "$name/doc/operations.txt" "$name/doc/zarvelt.txt" \
    "$name/sql/oracle/central.sql" "$name/sql/oracle/client.sql"
)
listed=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
[ "$listed" = "$(sort <<<"$expected")" ] ||
  fail "contents differ from what is expected:$(diff <(sort <<<"$expected") <(echo "$listed") || true)"
unzip -q "$zip" -d "$work"
package=$work/$name

# The machine field of the PE header: 0x8664 x86-64, 0x014c i386.
machine() {
  local offset
  offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  [ "$(head -c 2 "$1")" = MZ ] && [ "$(od -An -c -j"$offset" -N4 "$1" | tr -d ' ')" = 'PE\0\0' ] ||
    return 1
  od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' '
}
for width in win32 win64; do
  want=8664 objdump=x86_64-w64-mingw32-objdump
  [ $width = win32 ] && want=014c objdump=i686-w64-mingw32-objdump
  for program in zarvelt zarvelt_admin zarvelt_config; do
    exe=$package/$width/$program.exe
    [ "$(machine "$exe")" = $want ] || fail "$width/$program.exe is no Windows program of that width"
    # Statically linked: the C++ and thread runtimes are inside, only Windows' DLLs outside.
    dlls=$($objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
    for dll in $dlls; do
      case $dll in
        kernel32.dll | msvcrt.dll | odbc32.dll | user32.dll | advapi32.dll | ws2_32.dll) ;;
        *) fail "$width/$program.exe needs $dll, which Windows does not have ($dlls)" ;;
      esac
    done
  done
done

for text in INSTALL.txt doc/operations.txt doc/zarvelt.txt sql/oracle/central.sql; do
  [ -s "$package/$text" ] || fail "$text is empty"
  if grep -q $'[^\r]$' "$package/$text" || grep -q $'^$' "$package/$text"; then
    fail "$text has a line without CR LF"
  fi
done
for needed in win64 win32 'Files\velmarion.ini' 'Velmarion_php\log' 'zarvelt_admin selftest' \
  -12557 odbcad32.exe NLS_LANG; do
  grep -qF -- "$needed" "$package/INSTALL.txt" || fail "INSTALL.txt does not name $needed"
done
grep -q '^NAME' "$package/doc/zarvelt.txt" || fail "doc/zarvelt.txt is no formatted manual page"
echo "windows_package: $(basename "$zip") holds both widths' programs, statically linked, and the texts"
