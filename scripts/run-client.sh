#!/usr/bin/env bash
# Installs what is missing, builds, and starts the student program
# tavrelle-client against a server on this machine.
#
# The client reads var.cfg from the folder that holds its program. If that
# folder has none, one is written for the server on 127.0.0.1, port 10013
# (the example classroom's). Edit it to reach another server.
# Started with sudo, it installs as root and builds and runs as the calling
# user (scripts/privileges.sh). TAVRELLE_BUILD_DIR overrides the build
# folder. The exit code is the client's.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/preamble.sh"

build_dir=${TAVRELLE_BUILD_DIR:-build}
case $build_dir in
/*) ;;
*) build_dir="$root/$build_dir" ;;
esac
client="$build_dir/client/tavrelle-client"

source scripts/privileges.sh
install_deps_then_drop_root "${BASH_SOURCE[0]}"
bash scripts/build.sh

settings="$build_dir/client/var.cfg"
if [[ ! -f $settings ]]; then
    printf '# Tavrelle client settings\r\nserveraddress=127.0.0.1\r\nport=10013\r\n' >"$settings"
    echo "run-client.sh: wrote $settings (server 127.0.0.1, port 10013)"
fi

if [[ -z ${DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
    echo "run-client.sh: no DISPLAY is set; run it from a graphical session" >&2
    exit 1
fi
exec "$client"
