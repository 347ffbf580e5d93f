#!/usr/bin/env bash
# The real window end to end: qmfix under Xvfb on a 3440x1440 screen, driven with xdotool.
#   1. start-up preselects "3440x1440"; Start, type qm.exe into the file dialog, confirm the success
#      message: the four bytes become 8E E3 18 40, qm.old equals the original, exit status 0;
#   2. again on the patched file: Escape does not close the window; the "already patched" question
#      appears; No leaves the file unchanged;
#   3. the Down key selects 3840x1080; Yes writes its bytes 39 8E 63 40 and makes no backup.
# Saves a screenshot of the window as <out>/qmfix-window.png.
# Usage: qmfix_window_test.sh <qmfix> <out folder>
set -euo pipefail

QMFIX=$(realpath "$1")
OUT=$2
TITLE="Quillmoor Widescreen Fix - Steam Version"
PATCH_OFFSET=58285748
WAIT=30 # seconds for any one step

for tool in Xvfb xdotool import convert; do
    command -v "$tool" >/dev/null || { echo "e2e: $tool is missing (scripts/install-deps installs it)" >&2; exit 1; }
done
mkdir -p "$OUT"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/qmfix-e2e-XXXXXX")
XVFB_PID=""
APP_PID=""
cleanup() {
    [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "e2e: FAIL: $*" >&2
    import -window root "$OUT/failure.png" 2>/dev/null && echo "e2e: screen at the failure: $OUT/failure.png" >&2
    [ -s "$WORK/exit" ] && echo "e2e: qmfix ended with status $(cat "$WORK/exit")" >&2
    [ -f "${GAME:-}/qm.exe" ] && echo "e2e: aspect bytes now $(aspect_bytes "$GAME/qm.exe")" >&2
    [ -f "$WORK/app.log" ] && sed 's/^/e2e: qmfix: /' "$WORK/app.log" >&2
    exit 1
}

# Xvfb picks a free display number itself and tells it through a file descriptor, so parallel runs
# never collide.
exec {display_fd}>"$WORK/display"
Xvfb -displayfd "$display_fd" -screen 0 3440x1440x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
XVFB_PID=$!
for _ in $(seq 1 $((WAIT * 10))); do
    [ -s "$WORK/display" ] && break
    kill -0 "$XVFB_PID" 2>/dev/null || { cat "$WORK/xvfb.log" >&2; fail "Xvfb did not start"; }
    sleep 0.1
done
[ -s "$WORK/display" ] || fail "Xvfb gave no display number"
export DISPLAY=":$(head -n1 "$WORK/display")"
echo "e2e: display $DISPLAY"

# A home folder with a Steam tree holding a sparse fake qm.exe, and FLTK's own file chooser (the
# desktop's GTK chooser is not deterministic enough to drive).
export HOME="$WORK/home"
GAME="$HOME/.local/share/Steam/steamapps/common/Quillmoor"
mkdir -p "$GAME" "$HOME/.fltk/fltk.org"
printf '; FLTK preferences file format 1.0\n; vendor: fltk.org\n; application: fltk\n\n[.]\n\n[./options]\nFNFCUsesGTK:0\n' \
    >"$HOME/.fltk/fltk.org/fltk.prefs"
printf 'MZ' >"$GAME/qm.exe"
printf '\x55\x12\x34\x56' | dd of="$GAME/qm.exe" bs=1 seek=$PATCH_OFFSET conv=notrunc status=none
truncate -s $((PATCH_OFFSET + 4096)) "$GAME/qm.exe"
cp --sparse=always "$GAME/qm.exe" "$WORK/original.exe"

aspect_bytes() { od -A n -t x1 -j $PATCH_OFFSET -N 4 "$1" | tr -d ' \n'; }

start_app() {
    rm -f "$WORK/exit"
    (
        set +e
        "$QMFIX" >"$WORK/app.log" 2>&1
        echo $? >"$WORK/exit"
    ) &
    APP_PID=$!
}

# Waits for a window whose title is exactly $1 and prints its id.
find_window() {
    local id
    id=$(timeout "$WAIT" xdotool search --sync --onlyvisible --name "^$1\$" | head -n1) || fail "no window \"$1\""
    [ -n "$id" ] || fail "no window \"$1\""
    echo "$id"
}

wait_exit() {
    for _ in $(seq 1 $((WAIT * 10))); do
        [ -s "$WORK/exit" ] && break
        sleep 0.1
    done
    [ -s "$WORK/exit" ] || fail "qmfix did not end"
    wait "$APP_PID" 2>/dev/null || true
    APP_PID=""
    cat "$WORK/exit"
}

# Without a window manager focus follows the pointer: put it on the window before typing.
focus() { xdotool mousemove --sync --window "$1" "$2" "$3"; }

# Presses Start and answers the file dialog with the bare name (relative to its start folder).
start_and_choose_qm_exe() {
    local window=$1 dialog
    xdotool mousemove --sync --window "$window" 157 405 click 1 # Start: x 47..267, y 388..423
    dialog=$(find_window "Open qm.exe")
    focus "$dialog" 200 300
    xdotool type --delay 30 "qm.exe"
    xdotool key Return
}

# --- run 1: unpatched, backup box checked (its start-up state) ---
start_app
WINDOW=$(find_window "$TITLE")
[ "$(xdotool getwindowname "$WINDOW")" = "$TITLE" ] || fail "title"
eval "$(xdotool getwindowgeometry --shell "$WINDOW")"
[ "$WIDTH" = 500 ] && [ "$HEIGHT" = 460 ] || fail "client size ${WIDTH}x${HEIGHT}, expected 500x460"

# Let the first frame settle, then keep the picture of the window.
sleep 0.5
import -window "$WINDOW" "$OUT/qmfix-window.png"

# The selected row is the one band of the highlight colour in the list (x 47..267, y 155..362). Rows
# start below the list's sunken edge (where white begins) and lie one highlight plus 2 pixels apart.
band=$(convert "$OUT/qmfix-window.png" -crop 1x207+60+155 +repage txt:- |
    awk -F'[,:]' '/#FFFFFF/ && white == "" { white = $2 }
                  /#2F5F7A/ { if (top == "") top = $2; bottom = $2 }
                  END { print white, top, bottom }')
read -r list_top band_top band_bottom <<<"$band"
[ -n "$band_bottom" ] || fail "no selected row in the list"
row_pitch=$((band_bottom - band_top + 1 + 2))
row=$(((band_top - list_top + row_pitch / 2) / row_pitch))
[ "$row" = 2 ] || fail "selected row $row (rows from $list_top, band $band_top..$band_bottom), expected 2 (3440x1440)"
echo "e2e: row 2 (3440x1440) is selected"

start_and_choose_qm_exe "$WINDOW"
MESSAGE=$(find_window "Information")
focus "$MESSAGE" 20 20
xdotool key Return
status=$(wait_exit)
[ "$status" = 0 ] || fail "exit status $status after the patch"
[ "$(aspect_bytes "$GAME/qm.exe")" = "8ee31840" ] || fail "bytes $(aspect_bytes "$GAME/qm.exe"), expected 8ee31840"
[ -f "$GAME/qm.old" ] || fail "no qm.old"
cmp -s "$GAME/qm.old" "$WORK/original.exe" || fail "qm.old differs from the original"
[ "$(stat -c %s "$GAME/qm.exe")" = $((PATCH_OFFSET + 4096)) ] || fail "qm.exe changed size"
echo "e2e: run 1 patched qm.exe and kept qm.old"

# --- run 2: already patched, answer No ---
cp --sparse=always "$GAME/qm.exe" "$WORK/patched.exe"
start_app
WINDOW=$(find_window "$TITLE")
# Escape is no close request: the window stays.
focus "$WINDOW" 400 445
xdotool key Escape
sleep 0.5
[ -z "$(cat "$WORK/exit" 2>/dev/null)" ] || fail "Escape ended qmfix"
xdotool search --onlyvisible --name "^$TITLE\$" >/dev/null || fail "Escape closed the window"
start_and_choose_qm_exe "$WINDOW"
QUESTION=$(find_window "Info")
focus "$QUESTION" 20 20
xdotool key Tab space # from the default button Yes to No, then press it
status=$(wait_exit)
[ "$status" = 0 ] || fail "exit status $status after No"
cmp -s "$GAME/qm.exe" "$WORK/patched.exe" || fail "qm.exe changed after No"
cmp -s "$GAME/qm.old" "$WORK/original.exe" || fail "qm.old changed after No"
echo "e2e: run 2 asked and left the patched file alone"

# --- run 3: the arrow key picks the next row (3840x1080); Yes patches again, without a backup ---
rm -f "$GAME/qm.old"
start_app
WINDOW=$(find_window "$TITLE")
focus "$WINDOW" 250 60 # over the banner; the list keeps the keyboard focus it got at start-up
xdotool key Down
start_and_choose_qm_exe "$WINDOW"
QUESTION=$(find_window "Info")
focus "$QUESTION" 20 20
xdotool key Return # Yes is the default button
MESSAGE=$(find_window "Information")
focus "$MESSAGE" 20 20
xdotool key Return
status=$(wait_exit)
[ "$status" = 0 ] || fail "exit status $status after Yes"
[ "$(aspect_bytes "$GAME/qm.exe")" = "398e6340" ] || fail "bytes $(aspect_bytes "$GAME/qm.exe"), expected 398e6340"
[ ! -e "$GAME/qm.old" ] || fail "a backup was made of an already patched file"
echo "e2e: run 3 moved the selection with the arrow key and patched again"
echo "e2e: screenshot $OUT/qmfix-window.png"
