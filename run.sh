#!/usr/bin/env bash
# Installs what is missing, builds Glimmerset and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
make --no-print-directory run ARGS="$*"
