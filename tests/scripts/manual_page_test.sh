#!/usr/bin/env bash
# The manual page renders without warnings and documents every exit status
# the program has.
#
#   manual_page_test.sh MANUAL_PAGE EXIT_STATUS_HEADER
. "$(dirname "$0")/lib.sh"

page=$1
header=$2

warnings=$(LC_ALL=C groff -ww -z -man "$page" 2>&1)
[ -z "$warnings" ] || fail "groff warns: $warnings"
if command -v man >/dev/null; then
  rendered=$(LC_ALL=C MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$rendered" ] || fail "man -l warns: $rendered"
fi
grep -q '^\.TH STAMPNAME 1 .*"stampname 1\.01"' "$page" || fail "no version 1.01 in the title line"

# The statuses the program defines, and those the page lists under EXIT STATUS.
defined=$(grep -oE '^ *k[A-Za-z]+ = [0-9]+' "$header" | awk '{print $3}' | sort -n | tr '\n' ' ')
listed=$(awk '/^\.SH "EXIT STATUS"/{on=1; next} /^\.SH/{on=0}
              on && prev==".TP" && /^\.B [0-9]+$/ {print $2} {prev=$0}' "$page" |
         sort -n | tr '\n' ' ')
[ -n "$defined" ] || fail "found no exit statuses in $header"
[ "$defined" = "$listed" ] || fail "exit statuses defined [$defined], documented [$listed]"

finish "manual page: all checks passed"
