#!/usr/bin/env bash
# Without any display qmfix says so in one line on standard error and exits with status 1.
set -uo pipefail
err=$(mktemp)
trap 'rm -f "$err"' EXIT
env -u DISPLAY -u WAYLAND_DISPLAY "$1" 2>"$err" >/dev/null
status=$?
[ "$status" = 1 ] || { echo "exit status $status, expected 1" >&2; exit 1; }
lines=$(wc -l <"$err")
[ "$lines" = 1 ] || { echo "standard error has $lines lines, expected 1:" >&2; cat "$err" >&2; exit 1; }
grep -q display "$err" || { echo "the line does not mention the display:" >&2; cat "$err" >&2; exit 1; }
echo "ok: $(cat "$err")"
