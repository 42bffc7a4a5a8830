#!/usr/bin/env bash
# Installs what is needed, builds the monitor and starts it in run/ (where the report assets are).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DQUORIX_BUILD_TESTS=OFF -DQUORIX_BUILD_BENCH=OFF
cmake --build "$root/build" -j"$(nproc)" --target Quorix
cd "$root/build/run"
exec ./Quorix "$@"
