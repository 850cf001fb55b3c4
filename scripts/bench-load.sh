#!/usr/bin/env bash
# The classroom load benchmark: builds the lecturer's program for it (into
# build-bench/, RelWithDebInfo) and plays a lecture hall against it on
# loopback: 1,000 students taking attendance, 5,000 at once, 2,000 clients at
# once, a 512 MiB upload and 50 x 20 MiB at once against a plain copy (one
# that hashes, one that does not), a soak, and 300 students under a
# connect/close storm and a flood. The lecturer's program runs with a
# desktop's soft open-file limit of 1024, as it would when started there.
#
#   scripts/bench-load.sh [bench_classroom options...]
#
# For example --only uploads,hostile, or --soak-seconds 600 for the full
# 10-minute soak (the default soak is 240 s); build-bench/bench/bench_classroom
# --help lists the options. The work folder is a temporary one, removed afterwards.
# Prints the measured table; exits 1 on a wrong reply or byte, 3 when a goal
# is missed. TAVRELLE_BENCH_BUILD_DIR overrides the build folder.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/preamble.sh"
exit_on_help "$@"

build_dir=${TAVRELLE_BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRELLE_WERROR=ON \
    -DTAVRELLE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" --target bench_classroom bench_classroom_host -j"$(nproc)"

work=$(mktemp -d "${TMPDIR:-/tmp}/tavrelle-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/xdg-runtime"
# Lecture journals of this run only: an earlier run's is never restored.
export XDG_DATA_HOME="$work/data"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
"$build_dir/bench/bench_classroom" --host "$build_dir/bench/bench_classroom_host" \
    --work "$work/classroom" "$@"
