#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and
# UBSan) into build-fuzz/ and runs each one as a ctest test.
#
#   scripts/fuzz.sh [extra ctest arguments...]
#
# TAVRELLE_FUZZ_SECONDS sets how long each target runs (30). What the runs
# find is kept in build-fuzz/fuzz/corpus/, crashes in build-fuzz/fuzz/artifacts/.
# TAVRELLE_FUZZ_BUILD_DIR overrides the build folder.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/preamble.sh"
exit_on_help "$@"

build_dir=${TAVRELLE_FUZZ_BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTAVRELLE_WERROR=ON -DTAVRELLE_FUZZ=ON -DTAVRELLE_BUILD_TESTS=OFF \
    -DTAVRELLE_BUILD_BENCH=OFF -DTAVRELLE_FUZZ_SECONDS="${TAVRELLE_FUZZ_SECONDS:-30}"
cmake --build "$build_dir" --target fuzzers -j"$(nproc)"
exec ctest --test-dir "$build_dir" --output-on-failure -j2 "$@"
