#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless.
#
#   scripts/test.sh [--sanitize] [extra ctest arguments...]
#
# --sanitize builds and tests build-sanitize/ instead of build/.
# TAVRELLE_BUILD_DIR overrides the build folder. The exit code is ctest's.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

build_args=()
ctest_args=()
build_dir=${TAVRELLE_BUILD_DIR:-build}
for arg in "$@"; do
    case $arg in
    --sanitize)
        build_args+=(--sanitize)
        build_dir=${TAVRELLE_BUILD_DIR:-build-sanitize}
        ;;
    -h | --help)
        sed -n '2,7s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"
        exit 0
        ;;
    *) ctest_args+=("$arg") ;;
    esac
done

bash scripts/install-deps.sh
bash scripts/build.sh "${build_args[@]}"

export QT_QPA_PLATFORM=offscreen
case $build_dir in
/*) export XDG_RUNTIME_DIR="$build_dir/xdg-runtime" ;;
*) export XDG_RUNTIME_DIR="$root/$build_dir/xdg-runtime" ;;
esac
mkdir -p "$XDG_RUNTIME_DIR"
chmod 0700 "$XDG_RUNTIME_DIR"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

exec ctest --test-dir "$build_dir" --output-on-failure -j2 "${ctest_args[@]}"
