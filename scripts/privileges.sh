# Sourced by the scripts that install, build and run (not run on its own).
#
# Installing packages needs root; building, testing and running do not, and
# the lecturer's window must not run as root only because a package was
# missing. So:
#   - started with sudo: install what is missing as root, then start the
#     calling script again as the user who called sudo ($SUDO_USER);
#   - run as plain root (containers, CI, machines without sudo): go on as
#     root;
#   - run as an ordinary user: install-deps.sh asks sudo for the install
#     only when something is missing.
#
#   install_deps_then_drop_root "${BASH_SOURCE[0]}" "$@"

install_deps_then_drop_root() {
    # By its full path: the script has changed to the checkout's root.
    local script
    script="$root/scripts/$(basename "$1")"
    shift
    bash "$root/scripts/install-deps.sh"
    if [[ $EUID -ne 0 || -z ${SUDO_USER:-} || $SUDO_USER == root ]]; then
        return 0
    fi
    if ! id -u "$SUDO_USER" >/dev/null 2>&1; then
        echo "$(basename "$script"): the calling user $SUDO_USER does not exist; going on as root" >&2
        return 0
    fi
    if ! runuser -u "$SUDO_USER" -- test -w "$root"; then
        echo "$(basename "$script"): $SUDO_USER cannot write to $root; going on as root" >&2
        return 0
    fi
    # What an earlier run as root left in the checkout (build folders, the
    # example classroom) would refuse the user's build and run: give it back.
    local path
    for path in "$root"/build* "$root/examples/classroom"; do
        if [[ -e $path ]]; then
            find "$path" -uid 0 -exec chown -h "$SUDO_USER:" {} +
        fi
    done
    echo "$(basename "$script"): packages are in place; going on as $SUDO_USER"
    # runuser keeps DISPLAY and XAUTHORITY and sets HOME to the user's, where
    # the user's X authority file is found.
    exec runuser -u "$SUDO_USER" -- bash "$script" "$@"
}
