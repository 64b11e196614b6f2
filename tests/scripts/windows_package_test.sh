#!/usr/bin/env bash
# Builds the Windows .zip and checks what it holds.
#
#   windows_package_test.sh BUILD_DIR
. "$(dirname "$0")/lib.sh"

build=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/stampname-zip-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; exit 1; }
zip=$(ls "$scratch"/*.zip 2>/dev/null)
[ -f "$zip" ] || { fail "no .zip was made"; exit 1; }
[ "$(basename "$zip")" = stampname-1.1.0-windows-x64.zip ] || fail "zip named $(basename "$zip")"
contents=$(cd "$scratch" && cmake -E tar tf "$zip" | sort | tr '\n' ' ')
[ "$contents" = "LICENSE.txt README.txt stampname.exe " ] || fail "zip holds: $contents"
mkdir "$scratch/unpacked" && (cd "$scratch/unpacked" && cmake -E tar xf "$zip")
grep -q "stampname 1.01 for Windows" "$scratch/unpacked/README.txt" || fail "read-me lacks the version"
grep -q $'\r$' "$scratch/unpacked/README.txt" || fail "read-me lacks Windows line ends"

finish "Windows package: all checks passed"
