#!/usr/bin/env bash
# Builds the packages in a scratch folder, installs the .deb and the .rpm
# into scratch roots, runs the installed programs there, and removes the
# packages again.
#
#   package_test.sh BUILD_DIR
. "$(dirname "$0")/lib.sh"

build=$1

scratch=$(mktemp -d "${TMPDIR:-/tmp}/stampname-package-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

renames() {  # program, what it is: it renames a photo and prints nothing
  rm -rf "$scratch/work" && mkdir -p "$scratch/work/Rename"
  printf photo >"$scratch/work/Rename/photo.jpg"
  touch -d "2009-03-05 07:08:09Z" "$scratch/work/Rename/photo.jpg"
  output=$(cd "$scratch/work" && TZ=UTC "$1" 2>&1) || fail "$2 exited $?"
  [ -z "$output" ] || fail "$2 printed: $output"
  [ "$(cat "$scratch/work/Rename/2009-03-05 07-08-09.jpg" 2>/dev/null)" = photo ] ||
    fail "$2 did not rename: $(ls "$scratch/work/Rename")"
}

cpack --config "$build/CPackConfig.cmake" -B "$scratch/packages" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack failed"; exit 1; }
deb=$(ls "$scratch"/packages/*.deb 2>/dev/null)
tgz=$(ls "$scratch"/packages/*.tar.gz 2>/dev/null)
rpm=$(ls "$scratch"/packages/*.rpm 2>/dev/null)
[ -f "$deb" ] || { fail "no .deb was made"; exit 1; }
[ -f "$tgz" ] || fail "no .tar.gz was made"
[ -f "$rpm" ] || { fail "no .rpm was made"; exit 1; }

# Metadata.
[ "$(dpkg-deb -f "$deb" Package)" = stampname ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = 1.1.0 ] || fail "package version"
grep -q "last-modified" <<<"$(dpkg-deb -f "$deb" Description)" || fail "package description"
debFiles=$(dpkg-deb -c "$deb")
for path in ./usr/bin/stampname ./usr/share/man/man1/stampname.1.gz \
            ./usr/share/doc/stampname/copyright \
            ./usr/share/doc/stampname/changelog.gz; do
  grep -q " $path\$" <<<"$debFiles" || fail ".deb lacks $path"
done
grep -q "LICENSE" <<<"$debFiles" && fail ".deb holds the licence beside its copyright file"
tgzFiles=$(tar tzf "$tgz")
for path in bin/stampname share/man/man1/stampname.1.gz share/doc/stampname/LICENSE; do
  grep -q "^stampname-1.1.0-Linux/$path\$" <<<"$tgzFiles" || fail ".tar.gz lacks $path"
done

[ "$(rpm -qp --qf '%{NAME} %{VERSION} %{LICENSE}' "$rpm")" = "stampname 1.1.0 MIT" ] ||
  fail "rpm metadata: $(rpm -qip "$rpm")"
# Read whole first: grep -q leaves at its first match, and rpm, still
# writing a long changelog, would fail the pipe.
changelog=$(rpm -qp --changelog "$rpm")
grep -q "^\* Wed Dec 09 2026 .* - 1.1.0-1$" <<<"$changelog" || fail "rpm changelog"
[ "$(rpm -qlp "$rpm")" = "/usr/bin/stampname
/usr/share/licenses/stampname
/usr/share/licenses/stampname/LICENSE
/usr/share/man/man1/stampname.1.gz" ] || fail "rpm files: $(rpm -qlp "$rpm")"

# What a distribution checks, where its tools are installed.
if command -v lintian >/dev/null; then
  verdict=$(lintian --pedantic --fail-on error,warning "$deb" 2>&1) ||
    fail "lintian: $verdict"
else
  echo "lintian is not installed: not run"
fi
if command -v rpmlint >/dev/null; then
  verdict=$(rpmlint -c "$(dirname "$0")/../../cmake/rpmlint.toml" "$rpm" 2>&1)
  grep -q " 0 errors, 0 warnings" <<<"$verdict" || fail "rpmlint: $verdict"
else
  echo "rpmlint is not installed: not run"
fi

# The installed program is hardened and does its job.
dpkg -x "$deb" "$scratch/root"
if command -v hardening-check >/dev/null; then
  hardening=$(hardening-check "$scratch/root/usr/bin/stampname")
  echo "$hardening"
  for check in "Position Independent Executable" "Stack protected" \
               "Read-only relocations" "Immediate binding"; do
    grep -q "^ $check: yes" <<<"$hardening" || fail "hardening-check: $check"
  done
else
  echo "hardening-check is not installed: not run"
fi
renames "$scratch/root/usr/bin/stampname" "the unpacked program"

# dpkg installs and removes it cleanly in a root of its own; so does rpm.
admin=$scratch/dpkg/var/lib/dpkg
mkdir -p "$admin/info" "$admin/updates" && touch "$admin/status"
dpkg=(dpkg --root="$scratch/dpkg" --force-not-root --force-script-chrootless
      --force-depends)
"${dpkg[@]}" -i "$deb" >"$scratch/dpkg.log" 2>&1 || fail "dpkg -i: $(cat "$scratch/dpkg.log")"
renames "$scratch/dpkg/usr/bin/stampname" "dpkg's program"
"${dpkg[@]}" -r stampname >"$scratch/dpkg.log" 2>&1 || fail "dpkg -r: $(cat "$scratch/dpkg.log")"
left=$(cd "$scratch/dpkg" && find . -mindepth 1 -not -path './var*')
[ -z "$left" ] || fail "dpkg -r left: $left"

inRoot=(rpm --root="$scratch/rpm")
{ "${inRoot[@]}" --initdb && "${inRoot[@]}" -i --nodeps "$rpm"; } >"$scratch/rpm.log" 2>&1 ||
  fail "rpm -i: $(cat "$scratch/rpm.log")"
renames "$scratch/rpm/usr/bin/stampname" "rpm's program"
"${inRoot[@]}" -e stampname >"$scratch/rpm.log" 2>&1 || fail "rpm -e: $(cat "$scratch/rpm.log")"
left=$(cd "$scratch/rpm" && find . -type f -not -path './var/*' -not -path './root/*')
[ -z "$left" ] || fail "rpm -e left: $left"

finish "packages: all checks passed"
