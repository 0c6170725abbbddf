#!/usr/bin/env bash
# `cmake --install` into a scratch prefix: the three programs, the desktop
# entry for application/dicom with its icon, and the man page of
# quillon-dump, which names every option that quillon-dump --help lists.
#   install_test.sh BUILD_DIR
set -u
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"
for f in bin/quillon bin/quillon-dump bin/quillon-snapshot; do
  [[ -x $prefix/$f ]] || fail "$f is not installed"
done
desktop=$prefix/share/applications/quillon.desktop
[[ -f $desktop ]] || fail "no desktop entry"
grep -qx 'MimeType=application/dicom;' "$desktop" || fail "the desktop entry does not take application/dicom"
grep -qx 'Exec=quillon %f' "$desktop" || fail "the desktop entry does not pass the file"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[[ -f $prefix/share/icons/hicolor/scalable/apps/$icon.svg ]] || fail "no icon $icon"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate"
fi
page=$prefix/share/man/man1/quillon-dump.1
[[ -f $page ]] || fail "no man page"
for option in $("$prefix/bin/quillon-dump" --help | grep -o -- '--[a-z-]*' | sort -u); do
  grep -q -- "${option//-/\\\\-}" "$page" || fail "the man page does not name $option"
done
"$prefix/bin/quillon-dump" --version | grep -q '^quillon-dump ' || fail "installed quillon-dump does not run"
echo "PASS"
