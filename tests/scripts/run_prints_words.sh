#!/usr/bin/env bash
# scripts/run on a machine without a display: it must print mined words on standard output and end the job
# normally, then stop the service it started.
set -euo pipefail
root=$1
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

if ! env -u DISPLAY -u WAYLAND_DISPLAY bash "$root/scripts/run" >"$out" 2>"$err" </dev/null; then
    echo "scripts/run failed:" >&2
    tail -n 20 "$err" >&2
    exit 1
fi
words=$(grep -c -P '\p{Han}' "$out" || true)
if [ "$words" -lt 3 ]; then
    echo "scripts/run printed $words Chinese words; expected some:" >&2
    head -n 20 "$out" >&2
    exit 1
fi
grep -q '停止挖！' "$err" || { echo "no final status on standard error" >&2; tail -n 5 "$err" >&2; exit 1; }
echo "scripts/run printed $words words"
