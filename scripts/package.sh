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

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

if [[ ${1:-} == -h || ${1:-} == --help ]]; then
    sed -n '2,9s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"
    exit 0
fi

build_dir=${TAVRELLE_BUILD_DIR:-build-pkg}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DTAVRELLE_WERROR=ON \
    -DCMAKE_INSTALL_PREFIX=/usr -DTAVRELLE_CLIENT_DIR=/etc/tavrelle \
    -DTAVRELLE_BUILD_TESTS=OFF -DTAVRELLE_BUILD_BENCH=OFF "$@"
cmake --build "$build_dir" -j"$(nproc)" --target tavrelle tavrelle-client
(cd "$build_dir" && cpack -G DEB)
ls -1 "$build_dir"/*.deb
