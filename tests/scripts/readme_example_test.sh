#!/usr/bin/env bash
# Runs the README's first example as written: the files of its "before"
# column, dated as it says (in UTC), through the built program, must take
# the names of its "after" column, and nothing be printed.
#
#   readme_example_test.sh README PROGRAM
set -u
readme=$1
program=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
fail() { echo "FAILED: $*"; exit 1; }

# The block after "How it works": lines "Rename/<old> (<date>) Rename/<new>".
example=$(awk '/^## How it works/ { on = 1 } on && /^```$/ { n++; if (n == 2) exit; next }
               on && n == 1 && /^Rename\// { print }' "$readme")
[ -n "$example" ] || fail "no example found in $readme"

work=$(mktemp -d "${TMPDIR:-/tmp}/stampname-readme-XXXXXX") || fail "no scratch folder"
trap 'rm -rf "$work"' EXIT
mkdir "$work/Rename"
expected=""
while IFS= read -r line; do
  old=$(sed -E 's|^Rename/([^ ]+) +\(.*$|\1|' <<<"$line")
  when=$(sed -E 's|^[^(]*\(([^)]*)\).*$|\1|; s|,||' <<<"$line")
  new=$(sed -E 's|^.*\) +Rename/||' <<<"$line")
  echo "$old" >"$work/Rename/$old"
  TZ=UTC touch -d "$when" "$work/Rename/$old" || fail "cannot read the date '$when'"
  expected+="$new"$'\n'
done <<<"$example"

output=$(cd "$work" && TZ=UTC "$program" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "status $status"
[ -z "$output" ] || fail "printed: $output"
got=$(cd "$work/Rename" && ls -1 | LC_ALL=C sort)
want=$(printf '%s' "$expected" | LC_ALL=C sort)
[ "$got" = "$want" ] || fail "named: $(tr '\n' '|' <<<"$got") not $(tr '\n' '|' <<<"$want")"
# Each file under the name the example gives it.
while IFS= read -r line; do
  old=$(sed -E 's|^Rename/([^ ]+) +\(.*$|\1|' <<<"$line")
  new=$(sed -E 's|^.*\) +Rename/||' <<<"$line")
  [ "$(cat "$work/Rename/$new")" = "$old" ] || fail "$old is not under $new"
done <<<"$example"
echo "the README's example holds"
