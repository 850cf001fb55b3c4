#!/usr/bin/env bash
# Installs what is missing, builds, and starts the server on the example
# classroom in examples/classroom. The server first shows a roster open
# dialog: pick examples/classroom/roster.cfg there.
#
# roster.cfg is generated on every run from roster.template.cfg, with
# @KADAIDIR@ replaced by the full path of examples/classroom/kadai, so the
# example works from any checkout location. Edit the template, not roster.cfg.
# Started with sudo, it installs as root and builds and runs as the calling
# user (scripts/privileges.sh). TAVRELLE_BUILD_DIR overrides the build
# folder. The exit code is the server's.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/preamble.sh"

if (($#)); then
    usage
    [[ $1 == -h || $1 == --help ]] && exit 0
    exit 2
fi

source scripts/privileges.sh
install_deps_then_drop_root "${BASH_SOURCE[0]}"

classroom="$root/examples/classroom"
kadai="$classroom/kadai"
build_dir=${TAVRELLE_BUILD_DIR:-build}
case $build_dir in
/*) server="$build_dir/server/tavrelle" ;;
*) server="$root/$build_dir/server/tavrelle" ;;
esac

# The roster file is code page 932 with CR LF line ends: substitute bytes only.
# A non-ASCII checkout path is converted to code page 932 first.
mkdir -p "$kadai"
if ! kadai_cp932=$(printf '%s' "$kadai" | iconv -f UTF-8 -t CP932); then
    echo "run-server.sh: the path $kadai cannot be written in code page 932" >&2
    exit 1
fi
replacement=$(printf '%s' "$kadai_cp932" | LC_ALL=C sed 's/[\\|&]/\\&/g')
LC_ALL=C sed "s|@KADAIDIR@|$replacement|g" "$classroom/roster.template.cfg" \
    >"$classroom/roster.cfg.tmp"
mv "$classroom/roster.cfg.tmp" "$classroom/roster.cfg"
echo "run-server.sh: wrote examples/classroom/roster.cfg (kadaidir=$kadai)"

bash scripts/build.sh

if [[ ! -x $server ]]; then
    echo "run-server.sh: $server was not built" >&2
    exit 1
fi

if [[ -z ${DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
    cat >&2 <<MSG
run-server.sh: no DISPLAY is set, so the server window cannot be shown.
Run it from a graphical session, or on a virtual X screen with:
    xvfb-run -a bash scripts/run-server.sh
(the window is then invisible; drive it with xdotool, look at it with
'import -window root shot.png').
MSG
    exit 1
fi

echo "run-server.sh: starting $server in examples/classroom"
echo "run-server.sh: choose examples/classroom/roster.cfg in the roster dialog"
cd "$classroom"
exec "$server"
