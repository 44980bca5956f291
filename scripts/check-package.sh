#!/usr/bin/env bash
# Builds the Debian packages, checks them with lintian (an error fails) and checks that the tool's
# package depends on nothing of a desktop. As root on a machine that may be changed (CI), it then
# installs the tool's package alone with apt and renders a picture, installs the window's package,
# and purges both. Elsewhere it stops after the checks.
set -euo pipefail
cd "$(dirname "$0")/.."
make --no-print-directory package > /dev/null

fail() { echo "check-package: $*" >&2; exit 1; }
# The newest build of each package (an older version may lie in build/ too).
cli=$(ls -t build/glimmerset-cli_*.deb | head -n 1)
gui=$(ls -t build/glimmerset_*.deb | head -n 1)
for package in "$cli" "$gui"; do
    dpkg-deb --field "$package" Package Version Depends Recommends
    # Errors fail the check; warnings are listed (the README explains the ones that remain).
    lintian --fail-on error --tag-display-limit 0 "$package" || fail "lintian reports errors in $package"
done

# A server that only renders: no QtWidgets, no platform plugin, no font.
cli_depends=$(dpkg-deb --field "$cli" Depends Recommends)
if grep -qE 'libqt6widgets|qt6-qpa-plugins|fonts-|qt6-translations' <<< "$cli_depends"; then
    fail "$cli depends on a part of a desktop: $cli_depends"
fi
files() { dpkg-deb --contents "$1" | awk '$6 !~ /\/$/ { print $6 }' | sort; }
cli_files=$(files "$cli")
gui_files=$(files "$gui")
! grep -E 'bin/glimmerset$|/plugins/|\.tt[fc]$' <<< "$cli_files" || fail "$cli holds files of the window"
# Neither package ships what the other does: they install side by side.
! comm -12 <(echo "$cli_files") <(echo "$gui_files") | grep . || fail "both packages hold these files"

if [ "$(id -u)" -ne 0 ] || [ "${CI_MAY_INSTALL:-1}" = 0 ]; then
    echo "check-package: built and checked $cli and $gui (not installed: needs root)"
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "./$cli" > /dev/null
[ ! -e /usr/bin/glimmerset ] || fail "the tool's package installed the window"
/usr/bin/glimmerset-cli new -o "$work/julia.gsc"
/usr/bin/glimmerset-cli render "$work/julia.gsc" -o "$work/julia.png" --size 200x200
file "$work/julia.png" | grep -q "PNG image data, 200 x 200" || fail "the installed tool did not render"
# The image-format plugins are there: the formats the manual page names beyond QtGui's own.
/usr/bin/glimmerset-cli render "$work/julia.gsc" -o "$work/julia.tiff" --size 100x100 > /dev/null \
    || fail "the installed tool cannot write TIFF"
# What creators use, from the installed tool: changes, the JSON round trip, anti-aliasing, animation
# frames through a shard, and the script a picture carries.
/usr/bin/glimmerset-cli set "$work/julia.gsc" --const C=-0.7,0.27 --iterations 300 -o "$work/to.gsc"
/usr/bin/glimmerset-cli dump --json "$work/to.gsc" | /usr/bin/glimmerset-cli new --from-json - -o "$work/copy.gsc"
cmp -s "$work/to.gsc" "$work/copy.gsc" || fail "dump --json | new --from-json changed the script"
/usr/bin/glimmerset-cli render "$work/to.gsc" -o "$work/aa.png" --size 64x64 --aa 2 --quiet
/usr/bin/glimmerset-cli animate "$work/julia.gsc" "$work/to.gsc" --frames 4 --size 48x48 --shard 0/1 \
    -o "$work/frames/%05d.png" --quiet
[ "$(ls "$work/frames" | wc -l)" -eq 4 ] || fail "the installed tool did not write 4 frames"
/usr/bin/glimmerset-cli extract "$work/aa.png" -o "$work/extracted.gsc"
cmp -s "$work/to.gsc" "$work/extracted.gsc" || fail "the picture does not carry its script"
[ -e /usr/share/doc/glimmerset-cli/docs/render-farm.md ] || fail "no render farm recipes"
[ -e /usr/share/man/man1/glimmerset-cli.1.gz ] || fail "no manual page"
[ -e /usr/share/doc/glimmerset-cli/docs/formula-language.md ] || fail "no formula language document"

apt-get install -y -qq "./$gui" > /dev/null
[ -x /usr/bin/glimmerset ] || fail "the window's package installed no window"
# Taken away again: the machine keeps the dependencies, not the program.
apt-get purge -y -qq glimmerset glimmerset-cli > /dev/null
for path in /usr/bin/glimmerset-cli /usr/bin/glimmerset /usr/share/doc/glimmerset /usr/share/doc/glimmerset-cli; do
    [ ! -e "$path" ] || fail "the packages do not purge cleanly ($path is left)"
done
echo "check-package: $cli and $gui pass lintian, install, render and purge"
