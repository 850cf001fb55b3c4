# Sourced first by the scripts here (not run on its own): moves to the
# checkout's root, kept in $root, and prints a script's usage from its
# header comment.
#
#   source "$(dirname "${BASH_SOURCE[0]}")/preamble.sh"
#   exit_on_help "$@"    # or call usage from the script's own option loop

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# By its full path: the calling script may have been named relative to the
# folder it was started from, which is left now.
script_path="$root/scripts/$(basename "${BASH_SOURCE[1]}")"
cd "$root"

# The calling script's header comment: the comment lines below the first one.
usage() {
    sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$script_path"
}

# Prints the usage and exits when the first argument is -h or --help.
exit_on_help() {
    if [[ ${1:-} == -h || ${1:-} == --help ]]; then
        usage
        exit 0
    fi
}
