#!/usr/bin/env bash
# Builds the libFuzzer targets with Clang 16, libc++, AddressSanitizer and
# UndefinedBehaviorSanitizer, replays each target's committed corpus, then fuzzes each for a
# bounded time. Any finding stops the script with a failure.
#
#   bash scripts/fuzz.sh [seconds per target] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/dependencies.sh
ensure_packages "${BUILD_PACKAGES[@]}" clang-16 libc++-16-dev libc++abi-16-dev libclang-rt-16-dev

seconds="${1:-60}"
shift || true
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  targets=(decoder row_timing tile_schedule phase host plans)
fi

# Debian's libFuzzer runtime is built against libstdc++, so GCC's library is linked after it.
libstdcxx="$(g++ -print-file-name=libstdc++.so)"
sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-16 -DCMAKE_CXX_COMPILER=clang++-16 \
  -DCMAKE_CXX_FLAGS="-stdlib=libc++ $sanitizers -fsanitize=fuzzer-no-link" \
  -DCMAKE_EXE_LINKER_FLAGS="-stdlib=libc++ -fsanitize=address,undefined" \
  -DVANTLE_EXCHANGE_BUILD_TESTS=OFF -DVANTLE_EXCHANGE_BUILD_FUZZERS=ON \
  -DVANTLE_EXCHANGE_FUZZ_RUNTIME_LIBRARIES="$libstdcxx" \
  -DVANTLE_EXCHANGE_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build/fuzz -j "$(jobs)" --target "${targets[@]/%/_fuzzer}"

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "${targets[@]}"; do
  fuzzer="build/fuzz/fuzz/${target}_fuzzer"
  corpus="fuzz/corpus/${target}"
  scratch="build/fuzz/corpus/${target}"
  mkdir -p "$scratch"
  echo "== ${target}: replaying $(ls "$corpus" | wc -l) corpus inputs"
  "$fuzzer" -runs=0 "$corpus"
  echo "== ${target}: fuzzing for ${seconds} s"
  # New inputs go to the scratch corpus; the committed one is only read.
  "$fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/${target}-" "$scratch" "$corpus"
done
