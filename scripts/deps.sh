#!/usr/bin/env bash
# Installs what building, testing and running Glimmerset needs on a fresh Debian 12 machine,
# as root or through sudo. Installs only what is missing, so a second run is quick.
#   scripts/deps.sh            the build, the tests and the window
#   scripts/deps.sh --fuzz     also clang and its sanitizer runtime (make fuzz)
#   scripts/deps.sh --package  also the package tools and the install checks' validators
# (the options combine; CI passes both).
set -euo pipefail

packages=(
    make g++ cmake ninja-build pkg-config       # the build
    libgtest-dev libgmock-dev libbenchmark-dev  # tests and benchmarks
    qt6-base-dev qt6-base-dev-tools libgl-dev   # Qt 6 (QtGui, QtWidgets) and its development files
    libxcb1-dev                                 # the X server's key state (held arrow keys)
    qt6-image-formats-plugins qt6-qpa-plugins   # image readers and writers, the offscreen platform
    fonts-arphic-uming                          # a Song-style CJK font for the window's texts
    qt6-translations-l10n                       # Qt's own dialog texts (qtbase_zh_CN.qm, qtbase_en.qm)
    qt6-l10n-tools qt6-tools-dev                # lupdate, lrelease and CMake's qt_add_translations
    locales                                     # a decimal-comma locale for the locale tests
    parallel ffmpeg                             # the animation tests: shards, and --video
    libxbyak-dev                                # the run-time code generator of the batch engine (headers only)
    libmpfr-dev libmpc-dev                      # numbers of any precision: the deep zoom
    zlib1g-dev                                  # compressed text in PNG pictures (their scripts)
)
for option in "$@"; do
    case $option in
        --fuzz) packages+=(clang libclang-rt-14-dev) ;;  # clang with libFuzzer and the sanitizers
        --package) packages+=(
            dpkg-dev file lintian                   # the Debian packages (dpkg-shlibdeps), their check
            desktop-file-utils appstream shared-mime-info groff-base  # the install check's validators
            xvfb xauth x11-utils                    # and its look at the window's class
        ) ;;
        *) echo "deps: unknown option $option (--fuzz, --package)" >&2; exit 2 ;;
    esac
done

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo > /dev/null; then
    as_root=(sudo)
else
    as_root=(false)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2> /dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    if [ "${as_root[0]:-}" = false ]; then
        echo "deps: missing packages (${missing[*]}); run this as root or install sudo" >&2
        exit 1
    fi
    echo "deps: installing ${missing[*]}"
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

# The locale tests need a decimal-comma locale; generate one if the machine has none.
if ! locale -a 2> /dev/null | grep -qiE '^de_DE\.utf-?8$'; then
    if [ "${as_root[0]:-}" != false ]; then
        "${as_root[@]}" sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
        "${as_root[@]}" locale-gen > /dev/null || echo "deps: could not generate de_DE.UTF-8; locale tests will skip" >&2
    fi
fi
