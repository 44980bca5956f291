#!/usr/bin/env bash
# Builds the Debian package, installs it with apt (which brings its dependencies) and renders a
# picture with the installed tool. Only as root on a machine that may be changed (CI); elsewhere it
# builds the package and stops.
set -euo pipefail
cd "$(dirname "$0")/.."
make --no-print-directory package > /dev/null
package=$(ls -t build/glimmerset_*.deb | head -n 1)
dpkg-deb --info "$package" | grep -E "Depends|Package|Version"
if [ "$(id -u)" -ne 0 ] || [ "${CI_MAY_INSTALL:-1}" = 0 ]; then
    echo "check-package: built $package (not installed: needs root)"
    exit 0
fi
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$package" > /dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/glimmerset-cli new -o "$work/julia.gsc"
/usr/bin/glimmerset-cli render "$work/julia.gsc" -o "$work/julia.png" --size 200x200
file "$work/julia.png" | grep -q "PNG image data, 200 x 200"
[ -e /usr/share/man/man1/glimmerset-cli.1 ] || { echo "check-package: no manual page" >&2; exit 1; }
# Taken away again: the machine keeps the dependencies, not the program.
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq glimmerset > /dev/null
[ ! -e /usr/bin/glimmerset-cli ] || { echo "check-package: the package does not remove cleanly" >&2; exit 1; }
echo "check-package: $package installs, renders and removes"
