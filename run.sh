#!/usr/bin/env bash
# Installs what is missing, builds Glimmerset and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
make --no-print-directory build
# Started directly, so that every argument arrives as it was given (a file name with spaces too).
exec build/bin/glimmerset "$@"
