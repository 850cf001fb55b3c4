#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless, then the
# fuzz targets for 30 s each (scripts/fuzz.sh, a clang build in build-fuzz/).
#
#   scripts/test.sh [--sanitize] [--no-fuzz] [extra ctest arguments...]
#
# --sanitize builds and tests build-sanitize/ instead of build/.
# --no-fuzz skips the fuzz targets; extra ctest arguments apply to the tests.
# Started with sudo, it installs as root and builds and tests as the calling
# user (scripts/privileges.sh). TAVRELLE_BUILD_DIR overrides the build
# folder. Fails if any test fails.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/preamble.sh"

build_args=()
ctest_args=()
fuzz=1
build_dir=${TAVRELLE_BUILD_DIR:-build}
for arg in "$@"; do
    case $arg in
    --sanitize)
        build_args+=(--sanitize)
        build_dir=${TAVRELLE_BUILD_DIR:-build-sanitize}
        ;;
    --no-fuzz) fuzz=0 ;;
    -h | --help)
        usage
        exit 0
        ;;
    *) ctest_args+=("$arg") ;;
    esac
done

source scripts/privileges.sh
install_deps_then_drop_root "${BASH_SOURCE[0]}" "$@"
bash scripts/build.sh "${build_args[@]}"

export QT_QPA_PLATFORM=offscreen
case $build_dir in
/*) export XDG_RUNTIME_DIR="$build_dir/xdg-runtime" ;;
*) export XDG_RUNTIME_DIR="$root/$build_dir/xdg-runtime" ;;
esac
mkdir -p "$XDG_RUNTIME_DIR"
chmod 0700 "$XDG_RUNTIME_DIR"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

status=0
ctest --test-dir "$build_dir" --output-on-failure -j2 "${ctest_args[@]}" || status=$?
if ((fuzz)); then
    bash scripts/fuzz.sh || status=1
fi
exit "$status"
