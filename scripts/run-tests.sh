#!/usr/bin/env bash
# Every test: the named checks and the unit tests, built with warnings as errors, run by CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/dependencies.sh
ensure_packages "${BUILD_PACKAGES[@]}"

cmake -S . -B build/tests -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVANTLE_EXCHANGE_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build/tests -j "$(jobs)"
ctest --test-dir build/tests --output-on-failure -j "$(jobs)"
