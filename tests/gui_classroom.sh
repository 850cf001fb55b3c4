#!/usr/bin/env bash
# The real programs as a lecturer and a student use them, on a virtual X
# screen driven with xdotool:
#   - `tavrelle` starts in a folder with inivar.cfg; the roster is chosen in
#     its start-up dialog by typing the path;
#   - `tavrelle-client` starts beside its var.cfg; "出欠" is pressed, the
#     reply box confirmed; "課題" is pressed and a file chosen in the dialog;
#   - the stored file must equal the chosen one, and the table saved with
#     Ctrl+S must show the student present with a submission time;
#   - Qt's file dialogs of both programs carry Japanese titles ("開く",
#     "名前を付けて保存"): the programs load Qt's Japanese translations.
#   - `tavrelle` is then killed with SIGKILL and started with the same roster:
#     its restore question is answered with the default, and the table saved
#     again must equal the first.
#
#   gui_classroom.sh SERVER CLIENT [FIXED_CLIENT_FOLDER]
#
# Exits 77 (skipped) when xvfb-run or xdotool is missing, or when the client
# was built with a fixed folder for var.cfg. On failure the work folder is
# kept with a screenshot in it.
set -euo pipefail

if [[ ${1:-} == --inner ]]; then
    inner=1
else
    inner=0
    server_bin=$(realpath "$1")
    client_bin=$(realpath "$2")
    if [[ -n ${3:-} ]]; then
        echo "gui_classroom: the client reads var.cfg from the fixed folder $3: skipped"
        exit 77
    fi
    for tool in xvfb-run xauth xdotool iconv; do
        if ! command -v "$tool" >/dev/null; then
            echo "gui_classroom: $tool is missing (scripts/install-deps.sh installs it): skipped"
            exit 77
        fi
    done
fi

fail() {
    echo "gui_classroom: FAILED: $*" >&2
    if [[ -n ${DISPLAY:-} ]] && command -v import >/dev/null; then
        import -window root "$WORK/failure.png" 2>/dev/null &&
            echo "gui_classroom: screenshot in $WORK/failure.png" >&2
        echo "gui_classroom: windows shown:" >&2
        xdotool search --onlyvisible --name . 2>/dev/null | while read -r id; do
            echo "  $id $(xdotool getwindowname "$id" 2>/dev/null)" >&2
        done
    fi
    if [[ -n ${TAVRELLE_GUI_STACKS:-} ]]; then
        for pid in $(pgrep -x tavrelle) $(pgrep -x tavrelle-client); do
            gdb -batch -ex "thread apply all bt 25" -p "$pid" >"$WORK/stack.$pid.txt" 2>&1
        done
    fi
    exit 1
}

# With TAVRELLE_GUI_SHOTS set to a folder, the screen as it is now goes
# there as $1.png, for a person to look at.
shot() {
    [[ -n ${TAVRELLE_GUI_SHOTS:-} ]] || return 0
    sleep 0.3 # the activity log shows new entries a moment later
    import -window root "$TAVRELLE_GUI_SHOTS/$1.png"
}

# Waits for a visible window whose title matches the regular expression.
# A search can fail at once when another window vanishes during it, so it
# is repeated until the deadline rather than trusted once.
window() {
    local id=
    for _ in $(seq 200); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1) || true
        [[ -n $id ]] && break
        sleep 0.1
    done
    [[ -n $id ]] || fail "no window named $1"
    echo "$id"
}

# True once no visible window's title matches (at most 10 s).
gone() {
    for _ in $(seq 100); do
        xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    return 1
}

# Types a path into the focused file name field of a Qt file dialog; with
# $3, a screenshot of the dialog by that name first.
choose_file() {
    local dialog
    dialog=$(window "$1")
    [[ -z ${3:-} ]] || shot "$3"
    xdotool windowfocus --sync "$dialog"
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 12 --clearmodifiers "$2"
    xdotool key --clearmodifiers Return
    gone "$1" || fail "the dialog $1 stayed open after choosing $2"
}

# Confirms the message box titled $1 and waits until it has gone.
confirm() {
    local box
    box=$(window "$1")
    xdotool windowfocus --sync "$box"
    xdotool key --clearmodifiers Return
    gone "$1" || fail "the message box $1 stayed open"
}

# Waits (at most 10 s) for a file to exist.
appears() {
    for _ in $(seq 100); do
        [[ -s $1 ]] && return 0
        sleep 0.1
    done
    return 1
}

# True once the client's connection to the server's port is established.
connected() {
    local hex
    hex=$(printf '%04X' "$PORT")
    for _ in $(seq 100); do
        awk -v p=":$hex" '$3 ~ p"$" && $4 == "01" { found = 1 } END { exit !found }' \
            /proc/net/tcp && return 0
        sleep 0.1
    done
    return 1
}

if ((inner)); then
    export QT_QPA_PLATFORM=xcb
    unset QT_QPA_PLATFORMTHEME XDG_CURRENT_DESKTOP
    client_title='^Tavrelleクライアント$'

    cd "$WORK/server"
    timeout 120 "$SERVER" >"$WORK/server.log" 2>&1 &
    server_pid=$!
    choose_file '^開く$' "$WORK/roster.cfg" server-open-dialog
    server_window=$(window '^Tavrelle$')

    cd "$WORK/client"
    HOME=$WORK/home timeout 120 ./tavrelle-client >"$WORK/client.log" 2>&1 &
    client_pid=$!
    client_window=$(window "^Tavrelleクライアント - $STUDENT\$")
    connected || fail "the client did not connect to port $PORT"

    # "出欠" (client area 8,64 57x33); the button is enabled once the
    # connection is up, so a click that finds it disabled is repeated.
    for try in 1 2 3 4 5; do
        xdotool mousemove --window "$client_window" 36 80 click 1
        if timeout 4 xdotool search --sync --onlyvisible --name "$client_title" >/dev/null 2>&1; then
            break
        fi
        ((try < 5)) || fail "pressing 出欠 brought no reply"
    done
    confirm "$client_title"

    # "課題" (64,64 65x33): the file dialog, the upload, the confirmation.
    xdotool mousemove --window "$client_window" 96 80 click 1
    choose_file '^開く$' "$WORK/report.bin" client-open-dialog
    confirm "$client_title"
    appears "$WORK/kadai/$STUDENT.bin" || fail "nothing stored as kadai/$STUDENT.bin"
    cmp "$WORK/report.bin" "$WORK/kadai/$STUDENT.bin" || fail "the stored file differs"
    shot uploaded

    # File > データ保存 (Ctrl+S) on the lecturer's window.
    xdotool windowfocus --sync "$server_window"
    xdotool key --clearmodifiers ctrl+s
    choose_file '^名前を付けて保存$' "$WORK/table.txt"
    appears "$WORK/table.txt" || fail "the table was not saved"

    # The lecturer's program killed outright and started again with the same
    # roster: before its window shows, it asks whether to restore today's
    # records; Return takes the default, はい.
    kill "$client_pid" 2>/dev/null || true
    # $server_pid is the timeout wrapper: the program is its child.
    kill -KILL "$(pgrep -P "$server_pid")"
    wait "$server_pid" 2>/dev/null || true
    gone '^Tavrelle$' || fail "the killed program's window stayed"
    cd "$WORK/server" # its settings, not the default port
    timeout 120 "$SERVER" >>"$WORK/server.log" 2>&1 &
    server_pid=$!
    choose_file '^開く$' "$WORK/roster.cfg"
    question=$(window '^Tavrelle$')
    xdotool windowfocus --sync "$question"
    xdotool key --clearmodifiers Return
    server_window=
    for _ in $(seq 100); do
        server_window=$(xdotool search --onlyvisible --name '^Tavrelle$' 2>/dev/null |
            grep -vx "$question" | head -n1) && break
        sleep 0.1
    done
    [[ -n $server_window ]] || fail "no main window after the restore question"
    xdotool windowfocus --sync "$server_window"
    xdotool key --clearmodifiers ctrl+s
    choose_file '^名前を付けて保存$' "$WORK/restored.txt"
    appears "$WORK/restored.txt" || fail "the restored table was not saved"
    shot restored

    kill "$client_pid" "$server_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    exit 0
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/tavrelle-gui.XXXXXX")
STUDENT=$(id -un)
mkdir -p "$WORK/server" "$WORK/client" "$WORK/kadai"

# A free port below the range the kernel hands out to outgoing connections
# (tests running beside this one open thousands of those), and not in use.
read -r ephemeral_low _ </proc/sys/net/ipv4/ip_local_port_range
in_use() {
    local hex
    hex=$(printf ':%04X' "$1")
    awk -v p="$hex" '$2 ~ p"$" { found = 1 } END { exit !found }' /proc/net/tcp /proc/net/tcp6
}
for _ in $(seq 50); do
    if ((ephemeral_low > 11024)); then
        PORT=$((ephemeral_low - 1 - RANDOM % 10000))
    else
        PORT=$((1025 + RANDOM % 9000))
    fi
    in_use "$PORT" || break
done

to_cp932() { iconv -f UTF-8 -t CP932; }
printf 'port=%s\r\n' "$PORT" >"$WORK/server/inivar.cfg"
printf 'kougimei=情報処理演習Ⅰ\r\ntantousya=中村　誠\r\nkadaidir=%s\r\n<start data>\r\nhanako,佐藤　花子\r\n%s,操作 確認\r\n<end data>\r\n' \
    "$WORK/kadai" "$STUDENT" | to_cp932 >"$WORK/roster.cfg"
printf 'serveraddress=127.0.0.1\r\nport=%s\r\n' "$PORT" >"$WORK/client/var.cfg"
cp "$client_bin" "$WORK/client/tavrelle-client"
head -c 300000 /dev/urandom >"$WORK/report.bin"
# The student's own home, whose Documents folder the file dialog opens in,
# and a second roster beside the settings: files of known sizes and dates
# for the dialogs' columns.
mkdir -p "$WORK/home/Documents"
head -c 1572864 /dev/zero >"$WORK/home/Documents/レポート第1回.docx"
head -c 2048 /dev/zero >"$WORK/home/Documents/memo.txt"
head -c 20480 /dev/zero >"$WORK/server/前期の名簿.cfg"
touch -d '2026-12-09 14:37' "$WORK/home/Documents/"* "$WORK/server/前期の名簿.cfg"

# The lecture journals of this run only: none of an earlier run is offered.
export XDG_DATA_HOME=$WORK/data
export WORK STUDENT PORT SERVER=$server_bin
if ! timeout 150 xvfb-run -a -s "-screen 0 1024x768x24 -noreset" bash "$0" --inner; then
    echo "gui_classroom: work folder kept: $WORK" >&2
    exit 1
fi

# The saved table: code page 932, the student's row with both times and the
# loopback address; hanako is absent.
table=$(iconv -f CP932 -t UTF-8 "$WORK/table.txt")
time='[0-2][0-9]:[0-5][0-9]:[0-5][0-9]'
if ! grep -Eq "^$STUDENT,操作 確認,$time,$time,127\.0\.0\.1"$'\r'"?\$" <<<"$table" ||
    ! grep -Eq "^hanako,佐藤　花子,,,"$'\r'"?\$" <<<"$table"; then
    echo "gui_classroom: FAILED: unexpected table:" >&2
    echo "$table" >&2
    echo "gui_classroom: work folder kept: $WORK" >&2
    exit 1
fi
# The table after the kill and the restore holds the same marks and stamp.
if ! cmp -s "$WORK/table.txt" "$WORK/restored.txt"; then
    echo "gui_classroom: FAILED: the restored table differs:" >&2
    diff <(iconv -f CP932 -t UTF-8 "$WORK/table.txt") <(iconv -f CP932 -t UTF-8 "$WORK/restored.txt") >&2
    echo "gui_classroom: work folder kept: $WORK" >&2
    exit 1
fi
rm -rf "$WORK"
echo "gui_classroom: passed"
