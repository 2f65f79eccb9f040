#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
# Usage: scripts/test.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build}
shift || true
case "$dir" in /*) ;; *) dir="$root/$dir" ;; esac
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$dir" "$@"
cd "$dir"
ctest --no-tests=error --output-on-failure -j "$(nproc)" --timeout 120
