#!/usr/bin/env bash
# Installs what is missing, builds Glimmerset with its tests and runs every test through ctest.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
make --no-print-directory test
