#!/usr/bin/env bash
# The real window under Xvfb: `quillon FILE`, Ctrl+G, an offset typed in hex,
# Enter; the viewer's state file (QUILLON_STATE_FILE) must then name the
# outermost element that holds the byte, with its range, as quillon-dump
# reports it, put the caret on the byte and have it in view. Enter in the hex
# view (which has the focus then) leaves the window open; Esc closes it.
#   goto_offset_smoke.sh QUILLON QUILLON_DUMP FILE OFFSET [PAD_BYTES]
# With PAD_BYTES a copy of FILE with an OB value of that many bytes added
# (0042,0011) is opened instead, so that OFFSET can lie far into a large file.
set -u
quillon=$1 dump=$2 file=$3 offset=$4 pad=${5:-}

for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
xvfb_pid="" app_pid=""
cleanup() {
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [[ -f $work/app.log ]] && sed 's/^/  app: /' "$work/app.log"; exit 1; }

if [[ -n $pad ]]; then
  /usr/bin/python3 - "$file" "$work/padded.dcm" "$pad" <<'PY' || fail "cannot write the padded copy"
import sys
from pydicom import dcmread
ds = dcmread(sys.argv[1])
ds.add_new(0x00420011, "OB", bytes(range(256)) * (int(sys.argv[3]) // 256))
ds.save_as(sys.argv[2])
PY
  file=$work/padded.dcm
fi

# The expected line: the first element in pre-order whose range holds the byte.
expected=$("$dump" "$file" | awk -F'\t' -v off="$offset" \
  '$7 <= off && off <= $8 { print $2 " " $7 " " $8; exit }')
[[ -n $expected ]] || fail "no element of $file holds byte $offset"

# A free display, chosen by Xvfb itself.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -1 "$work/display")"

mkdir -p "$work/config"
# Under the sanitizers: the X connection's D-Bus library keeps memory until exit.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(dirname "$0")/lsan.supp"
XDG_CONFIG_HOME="$work/config" QUILLON_STATE_FILE="$work/state" QT_QPA_PLATFORM=xcb \
  "$quillon" "$file" >"$work/app.log" 2>&1 &
app_pid=$!

# The title names the open file.
title="^$(basename "$file" | sed 's/[.]/[.]/g') - Quillon\$"
window=$(timeout 20 xdotool search --sync --onlyvisible --name "$title" | head -1)
[[ -n $window ]] || fail "no window"

# Type the offset until the selection shows up (the first keys may arrive
# before the window takes input).
hex=$(printf '0x%X' "$offset")
got=""
for attempt in 1 2 3; do
  xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
  xdotool key --clearmodifiers ctrl+g
  sleep 0.2
  xdotool key ctrl+a BackSpace
  xdotool type --delay 20 "$hex"
  xdotool key Return
  for _ in $(seq 30); do
    got=$(head -1 "$work/state" 2>/dev/null)
    [[ $got == "$expected" ]] && break 2
    sleep 0.1
  done
done
[[ $got == "$expected" ]] || fail "after Ctrl+G $hex: state '$got', expected '$expected'"

# The caret on the byte, and the byte among those in view.
for _ in $(seq 30); do grep -qx "caret=$offset" "$work/state" && break; sleep 0.1; done
grep -qx "caret=$offset" "$work/state" || fail "after Ctrl+G $hex: no caret=$offset in: $(tr '\n' ' ' <"$work/state")"
visible=$(sed -n 's/^visible=//p' "$work/state")
first=${visible%-*} last=${visible#*-}
[[ $visible =~ ^[0-9]+-[0-9]+$ ]] && (( first <= offset && offset <= last )) ||
  fail "after Ctrl+G $hex: byte $offset not in view ($visible)"

# Enter in the hex view does nothing: it must not reach the dialog, which
# would close.
xdotool key Return
sleep 0.5
kill -0 "$app_pid" 2>/dev/null || fail "the window closed on Enter in the hex view"

xdotool key Escape
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "the window did not close on Esc"
wait "$app_pid"; status=$?
app_pid=""
[[ $status -eq 0 ]] || fail "quillon exited with $status"
echo "PASS: $hex selected $expected, caret=$offset, visible=$visible"
