#!/usr/bin/env bash
# Starts the real window program as a user would, on an X server of its own (Xvfb), against morvane-recomd at the
# address the program was built with, and drives it with xdotool: paste seeds, press Start, copy the results and
# read them from the clipboard; then a file-output job through the save-file dialog, closed with Esc while it
# runs. The program must mine the same words the service gives, keep whole lines in the file, ignore SIGXFSZ (so
# that a file-size limit fails a write instead of ending it) and end with 0.
# Usage: real_program_test.sh MORVANE MORVANE_RECOMD SERVICE_BASE
set -euo pipefail
morvane=$1
recomd=$2
base=$3

fail() { echo "real program: $*" >&2; exit 1; }
hostport=${base#http://}
hostport=${hostport%%/*}
case $hostport in
127.0.0.1:*) ;;
*) echo "the program is built for $base, not a loopback address: nothing to start here"; exit 0 ;;
esac
port=${hostport##*:}

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $1 seconds for the command in the other arguments to succeed.
wait_for() {
    local seconds=$1 deadline
    shift
    deadline=$((SECONDS + seconds))
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

# The X server picks a free display and writes its number to descriptor 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for 20 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n 1 "$work/display")"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
# Qt's own texts in English, so that the save-file dialog is found by its title "Save As".
export LC_ALL=C.UTF-8

cat >"$work/corpus.txt" <<'WORDS'
手机 900
手机壳 500
手机套 400
苹果手机 300
二手手机 200
电脑 800
电脑桌 300
笔记本电脑 250
WORDS
"$recomd" --listen "$hostport" --corpus "$work/corpus.txt" --quiet 2>"$work/recomd.log" &
pids+=($!)
answers() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
wait_for 20 answers || fail "morvane-recomd does not answer on $hostport"

# The words the service gives for a seed, one per line, as the window's result list must hold them.
words_for() {
    python3 - "$port" "$1" <<'PY'
import json, sys, urllib.parse, urllib.request
port, seed = sys.argv[1], sys.argv[2]
url = f"http://127.0.0.1:{port}/recomword/recomWordCache_findRecomWord.htm?area_id=0&word={urllib.parse.quote(seed)}&ie=utf-8"
for item in json.load(urllib.request.urlopen(url))["data"]["list"]:
    print(item["word"])
PY
}
expected="$(words_for 手机; words_for 电脑)"
[ -n "$expected" ] || fail "the service gave no words"

start_program() {
    (cd "$work" && exec "$morvane") >"$work/morvane.log" 2>&1 &
    program=$!
    pids+=("$program")
    window=$(timeout 60 xdotool search --sync --onlyvisible --name 'Morvane' | head -n 1 || true)
    [ -n "$window" ] || fail "no window: $(cat "$work/morvane.log")"
    timeout 20 xdotool windowfocus --sync "$window" || true
}
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
clipboard() { xclip -selection clipboard -o 2>/dev/null || true; }
put_on_clipboard() { printf '%s' "$1" | xclip -selection clipboard -i; }
ended_with() {
    local status=0
    wait_for 20 bash -c "! kill -0 $program 2>/dev/null" || fail "the program did not end"
    wait "$program" || status=$?
    [ "$status" -eq "$1" ] || fail "exit status $status, expected $1: $(cat "$work/morvane.log")"
}

# Result-list output: seeds pasted into the seed list, Start, then Copy results until the job's words are there.
start_program
# Started from another folder, the program works in its own.
[ "$(readlink "/proc/$program/cwd")" = "$(dirname "$(readlink -f "$morvane")")" ] ||
    fail "the current folder is $(readlink "/proc/$program/cwd"), not the program's"
# The window shows only after the program set up its signals: SIGXFSZ (25) must be ignored by now.
ignored=$(awk '/^SigIgn:/ { print $2 }' "/proc/$program/status")
(((16#$ignored >> 24) & 1)) || fail "the program does not ignore SIGXFSZ (ignored signals: $ignored)"
click 116 200 # the seed list
put_on_clipboard $'手机\n电脑'
xdotool key --clearmodifiers ctrl+v
click 56 419 # 开始获取
copied_all() {
    click 426 371 # 复制结果
    [ "$(clipboard)" = "$expected" ]
}
wait_for 30 copied_all || fail "the result list holds $(clipboard | wc -l) lines, not the service's words:
$(clipboard)"
xdotool key Escape
ended_with 0

# File output: tick the check box, Start, answer the save-file dialog; then Esc while the job still runs.
start_program
click 116 200
seeds=$(for _ in $(seq 1 40); do printf '手机\n电脑\n'; done)
put_on_clipboard "$seeds"
xdotool key --clearmodifiers ctrl+v
click 275 22 # 选择框1
click 56 419
dialog=$(timeout 60 xdotool search --sync --onlyvisible --name 'Save' | head -n 1 || true)
[ -n "$dialog" ] || fail "no save-file dialog: $(cat "$work/morvane.log")"
timeout 20 xdotool windowfocus --sync "$dialog" || true
xdotool type --delay 20 "$work/words"
xdotool key Return
file="$work/words.txt"
has_lines() { [ -s "$file" ] && [ "$(wc -l <"$file")" -ge "$(printf '%s\n' "$expected" | wc -l)" ]; }
wait_for 30 has_lines || fail "no words in $file"
timeout 20 xdotool windowfocus --sync "$window" || true
xdotool key Escape
ended_with 0

# Whole lines only, each a word of the service, GBK with CR LF.
[ "$(tail -c 2 "$file" | od -An -tx1 | tr -d ' ')" = "0d0a" ] || fail "the file does not end with CR LF"
iconv -f GBK -t UTF-8 "$file" | tr -d '\r' | while IFS= read -r word; do
    grep -qxF "$word" <<<"$expected" || fail "the file holds a line that is no word of the service: $word"
done
echo "real program: mined $(printf '%s\n' "$expected" | wc -l) words into the list and $(wc -l <"$file") lines into the file"
