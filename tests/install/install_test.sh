#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop needs:
# the programs reached through bin/ find their render driver and the sample
# actor in their own folder, the desktop entry and the MIME package are
# valid, and the MIME database maps ".act" files to Skinwork's type.
#
#   install_test.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
build=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"
prefix=$scratch/prefix
fail() { echo "install_test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" || fail "install failed"

share=$prefix/share
for f in applications/skinwork.desktop mime/packages/skinwork-actor.xml \
         icons/hicolor/scalable/apps/skinwork.svg; do
  [ -s "$share/$f" ] || fail "missing $share/$f"
done
[ -L "$prefix/bin/actortool" ] || fail "no link bin/actortool"
home=$(dirname "$(readlink -f "$prefix/bin/actortool")")
for f in actortool SoftRnd.so sample.act; do
  [ -e "$home/$f" ] || fail "missing $home/$f"
done
if [ -e "$build/bin/skinwork" ]; then
  [ -x "$home/skinwork" ] && [ "$(readlink -f "$prefix/bin/skinwork")" = "$home/skinwork" ] ||
    fail "bin/skinwork does not lead to the installed program"
fi

# Started through its link from elsewhere, the tool finds the driver beside itself.
(cd "$scratch" && "$prefix/bin/actortool" render "$home/sample.act" thumb.png --size 64x48) ||
  fail "the installed actortool cannot render"
[ -s "$scratch/thumb.png" ] || fail "no thumbnail"

# The installation ran update-mime-database on the prefix.
grep -q '^[0-9]*:application/x-skinwork-actor:\*\.act' "$share/mime/globs2" ||
  fail "the MIME database does not know *.act"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$share/applications/skinwork.desktop" || fail "invalid desktop entry"
fi
if command -v xmllint >/dev/null; then
  xmllint --noout "$share/mime/packages/skinwork-actor.xml" "$share/icons/hicolor/scalable/apps/skinwork.svg" ||
    fail "malformed XML"
fi
echo "install_test: ok"
