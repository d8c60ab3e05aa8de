#!/usr/bin/env bash
# Checks the install and the Debian package of an existing build (BUILD_DIR,
# default build/):
#   1. cmake --install into a temporary /opt/kiv: the suite folder's layout,
#      and the tool run through a link in a temporary /usr/bin finds it;
#   2. cpack makes build/package/kiv2700_<version>_<arch>.deb; lintian must
#      report no error;
#   3. the package unpacked with dpkg -x: its manual page reads without
#      warnings, and kiv2700 demo and kiv2700 post run from there.
# Nothing is installed on this machine and no maintainer script runs.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
work=$(cd "$work" && pwd -P)  # the programs see their real path

fail() {
  echo "package check: $*" >&2
  exit 1
}

# The suite folder must come from the program's own location, never from here.
unset KIV_ROOT

echo "-- cmake --install into $work/opt/kiv"
cmake --install "$BUILD_DIR" --prefix "$work/opt/kiv" >/dev/null
programs=(kiv2700)
[ -e "$BUILD_DIR/src/shell/Kiv2700P1" ] && programs+=(Kiv2700P1)
for program in "${programs[@]}"; do
  [ -x "$work/opt/kiv/exe/$program" ] || fail "no exe/$program"
done
for folder in mdb medi; do
  [ -d "$work/opt/kiv/$folder" ] || fail "no $folder/"
  [ -z "$(ls -A "$work/opt/kiv/$folder")" ] || fail "$folder/ is not empty"
done
mkdir -p "$work/usr/bin"
ln -s "$work/opt/kiv/exe/kiv2700" "$work/usr/bin/kiv2700"
root=$(timeout 60 "$work/usr/bin/kiv2700" init) || fail "kiv2700 init through /usr/bin failed"
[ "$root" = "$work/opt/kiv" ] || fail "the link found $root, not $work/opt/kiv"
[ -f "$work/opt/kiv/mdb/KIV.mdb" ] || fail "init made no database"

echo "-- cpack"
rm -f "$BUILD_DIR"/package/*.deb
(cd "$BUILD_DIR" && timeout 300 cpack --config CPackConfig.cmake >"$work/cpack.log") || {
  cat "$work/cpack.log"
  fail "cpack failed"
}
debs=("$BUILD_DIR"/package/*.deb)
deb=${debs[0]}
[ -f "$deb" ] || fail "cpack made no package"
version=$(dpkg-deb -f "$deb" Version)
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes, version $version"
dpkg-deb -f "$deb" Depends

echo "-- lintian"
# Errors fail the check; warnings are shown.
set +e
lint=$(timeout 300 lintian --tag-display-limit 0 --fail-on error "$deb" 2>&1)
lint_status=$?
set -e
grep -v "^running with root privileges" <<<"$lint" || true
[ "$lint_status" -eq 0 ] || fail "lintian reports errors (status $lint_status)"

echo "-- dpkg -x into $work/unpacked"
unpacked=$work/unpacked
dpkg -x "$deb" "$unpacked"
# The package's mdb and medi are links to /var/lib/kiv, which its postinst
# makes; here they lead into the unpacked tree instead.
for folder in mdb medi; do
  [ "$(readlink "$unpacked/usr/lib/kiv/$folder")" = "/var/lib/kiv/$folder" ] || fail "$folder is not a link to /var/lib/kiv"
  mkdir -p "$unpacked/var/lib/kiv/$folder"
  chmod 2770 "$unpacked/var/lib/kiv/$folder"
  ln -sfn "$unpacked/var/lib/kiv/$folder" "$unpacked/usr/lib/kiv/$folder"
done

page="$unpacked/usr/share/man/man1/kiv2700.1.gz"
[ -f "$page" ] || fail "no manual page"
warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page has warnings: $warnings"

tool="$unpacked/usr/bin/kiv2700"
[ "$("$tool" --version)" = "kiv2700 $version" ] || fail "kiv2700 --version does not print $version"
"$tool" --help >/dev/null || fail "kiv2700 --help failed"
demo=$(timeout 120 "$tool" demo) || fail "kiv2700 demo failed"
echo "$demo"
[ "$(head -1 <<<"$demo")" = "$unpacked/usr/lib/kiv" ] || fail "demo made its school outside the unpacked suite folder"
[ -f "$unpacked/var/lib/kiv/mdb/KIV.mdb" ] || fail "no database behind the mdb link"
set +e
timeout 120 "$tool" post --json "$unpacked/usr/lib/kiv/medi/post1003.dat" >"$work/post.json" 2>"$work/post.err"
status=$?
set -e
cat "$work/post.json"
[ "$status" -eq 0 ] || {
  cat "$work/post.err"
  fail "kiv2700 post exited $status"
}
grep -q '"outcome":"completed","lines":300,"ok":285,' "$work/post.json" || fail "unexpected run"
if [ -x "$unpacked/usr/lib/kiv/exe/Kiv2700P1" ]; then
  # Without the menu's context the window program ends at once: it loads.
  QT_QPA_PLATFORM=offscreen timeout 60 "$unpacked/usr/lib/kiv/exe/Kiv2700P1" || fail "Kiv2700P1 does not start"
fi
echo "package check passed"
