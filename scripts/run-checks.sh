#!/usr/bin/env bash
# The main job: builds the library and the self-check executable, then runs every named check
# and shows the harness's report.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/dependencies.sh
ensure_packages "${BUILD_PACKAGES[@]}"

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target vantle_exchange_checks -j "$(jobs)"
exec build/release/vantle_exchange_checks "$@"
