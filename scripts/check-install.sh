#!/usr/bin/env bash
# Installs Glimmerset from a build folder into a staging folder and checks what a desktop reads:
# every file in its place, the launcher, the software-centre entry and the file type accepted by the
# desktop's own tools, the manual pages clean, and the staged command-line tool working.
set -euo pipefail
build=${1:-build}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
id=org.glimmerset.Glimmerset

DESTDIR="$stage" cmake --install "$build" --prefix /usr > /dev/null
root="$stage/usr"

fail() { echo "check-install: $*" >&2; exit 1; }
for file in bin/glimmerset bin/glimmerset-cli \
    share/applications/$id.desktop share/metainfo/$id.metainfo.xml share/mime/packages/$id.xml \
    share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/$id.png \
    share/man/man1/glimmerset.1.gz share/man/man1/glimmerset-cli.1.gz \
    share/doc/glimmerset-cli/{README.md,copyright,changelog.Debian.gz} share/doc/glimmerset/copyright \
    share/doc/glimmerset-cli/docs/{formula-language.md,script-files.md,screenshot.png}; do
    [ -e "$root/$file" ] || fail "missing $file"
done

# Every relative link of the installed README leads to an installed file.
doc="$root/share/doc/glimmerset-cli"
for link in $(grep -oE '\]\([^)#:][^):]*\)' "$doc/README.md" | sed 's/^](\([^#]*\).*)$/\1/' | sort -u); do
    [ -e "$doc/$link" ] || fail "the installed README links to $link, which is not installed"
done

desktop-file-validate "$root/share/applications/$id.desktop"
appstreamcli validate --no-net "$root/share/metainfo/$id.metainfo.xml" > /dev/null \
    || { appstreamcli validate --no-net "$root/share/metainfo/$id.metainfo.xml"; fail "metainfo"; }

# The window belongs to its launcher: docks match its X11 class with the entry's StartupWMClass.
wm_class=$(sed -n 's/^StartupWMClass=//p' "$root/share/applications/$id.desktop")
[ -n "$wm_class" ] || fail "the launcher names no StartupWMClass"
# shellcheck disable=SC2016 # expanded by the inner shell, inside the virtual display
classes=$(timeout 60 xvfb-run -a bash -c '
    "$0" & window=$!
    for _ in $(seq 100); do
        classes=$(xwininfo -root -tree | grep -oE "\(\"[^\"]*\" \"[^\"]*\"\)" | sort -u)
        [ -n "$classes" ] && break
        sleep 0.1
    done
    kill "$window"
    echo "$classes"' "$root/bin/glimmerset" 2> /dev/null) || true
grep -qF "\"$wm_class\")" <<< "$classes" || fail "the window's class ($classes) is not the launcher's $wm_class"

# The file type: the MIME database accepts the package and knows the type afterwards.
mkdir -p "$stage/mime/packages"
cp "$root/share/mime/packages/$id.xml" "$stage/mime/packages/"
# (With the stage among the data folders, so that it does not remark on a database nobody reads.)
XDG_DATA_DIRS="$stage:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}" update-mime-database "$stage/mime" 2>&1 \
    | tee "$stage/mime.log"
[ ! -s "$stage/mime.log" ] || fail "update-mime-database complained"
[ -e "$stage/mime/application/x-glimmerset-script.xml" ] || fail "the script type is not in the database"

# The manual pages format without a warning.
for page in glimmerset glimmerset-cli; do
    warnings=$(zcat "$root/share/man/man1/$page.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$page.1: $warnings"
done

# The staged tool runs from its installed place.
"$root/bin/glimmerset-cli" --version
"$root/bin/glimmerset-cli" new -o "$stage/julia.gsc"
"$root/bin/glimmerset-cli" render "$stage/julia.gsc" -o "$stage/julia.png" --size 120x120 > /dev/null
file "$stage/julia.png" | grep -q "PNG image data, 120 x 120" || fail "render did not write the picture"
echo "check-install: everything in place"
