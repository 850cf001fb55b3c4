#!/usr/bin/env bash
# Builds the Debian packages of both programs into build-pkg/:
# tavrelle_<version>_<arch>.deb (lecturer) and
# tavrelle-client_<version>_<arch>.deb (students).
#
#   scripts/package.sh [extra cmake configure arguments...]
#
# The programs are built for the prefix /usr, and the client reads its
# var.cfg from /etc/tavrelle. TAVRELLE_BUILD_DIR overrides the build folder.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/preamble.sh"
exit_on_help "$@"

build_dir=${TAVRELLE_BUILD_DIR:-build-pkg}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DTAVRELLE_WERROR=ON \
    -DCMAKE_INSTALL_PREFIX=/usr -DTAVRELLE_CLIENT_DIR=/etc/tavrelle \
    -DTAVRELLE_BUILD_TESTS=OFF -DTAVRELLE_BUILD_BENCH=OFF "$@"
cmake --build "$build_dir" -j"$(nproc)" --target tavrelle tavrelle-client
(cd "$build_dir" && cpack -G DEB)
ls -1 "$build_dir"/*.deb
