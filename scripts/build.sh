#!/usr/bin/env bash
# Configures and builds Tavrelle with CMake from the repository root.
#
#   scripts/build.sh [--sanitize] [extra cmake configure arguments...]
#
# The build goes to build/ (RelWithDebInfo), or with --sanitize to
# build-sanitize/ (Debug, AddressSanitizer and UndefinedBehaviorSanitizer).
# TAVRELLE_BUILD_DIR overrides the build folder.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/preamble.sh"

sanitize=0
extra=()
for arg in "$@"; do
    case $arg in
    --sanitize) sanitize=1 ;;
    -h | --help)
        usage
        exit 0
        ;;
    *) extra+=("$arg") ;;
    esac
done

if ((sanitize)); then
    build_dir=${TAVRELLE_BUILD_DIR:-build-sanitize}
    config=(-DCMAKE_BUILD_TYPE=Debug -DTAVRELLE_WERROR=ON -DTAVRELLE_SANITIZE=ON)
else
    build_dir=${TAVRELLE_BUILD_DIR:-build}
    config=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRELLE_WERROR=ON)
fi

cmake -S . -B "$build_dir" "${config[@]}" "${extra[@]}"
cmake --build "$build_dir" -j"$(nproc)"
