#!/usr/bin/env bash
# second-start-test.sh PROGRAM LAN-TOOL
# On an X server of its own with a window manager that has a tray (icewm): the program runs on a
# simulated LAN host, hidden in the tray; a second start with the same settings (in a network
# namespace of its own, with no interface up) is refused with the written message, and the first
# instance's main window becomes visible and the active window.
set -uo pipefail
program="$1"
lan="$2"
[ "$(id -u)" -eq 0 ] || { echo "SKIP: the simulated LAN needs root"; exit 77; }
for tool in Xvfb icewm xdotool unshare; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work="$(mktemp -d)"
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; wait "${pids[i]}" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; for f in "$work"/*.log; do echo "== $f"; tail -5 "$f"; done; exit 1; }

Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$work/display")"
mkdir -p "$work/home/.icewm" && : >"$work/home/.icewm/preferences"
HOME="$work/home" icewm >"$work/icewm.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do xdotool get_num_desktops >/dev/null 2>&1 && break; sleep 0.1; done
sleep 1 # the tray

export QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS= ORVALINK_MESSAGEBOX_LOG=
"$lan" --hosts 1 --dir "$work/lan" -- "$program" >"$work/lan.log" 2>&1 &
pids+=($!)
config="$work/lan/host1/config"
for _ in $(seq 200); do [ -S "$config/Orvalink/Orvalink.instance/raise" ] && break; sleep 0.1; done
[ -S "$config/Orvalink/Orvalink.instance/raise" ] || fail "the first instance does not listen"
sleep 1
[ -z "$(xdotool search --onlyvisible --name '^Orvalink$' 2>/dev/null)" ] || fail "the first instance's window is shown at start (no tray?)"

XDG_CONFIG_HOME="$config" ORVALINK_MESSAGEBOX_LOG="$work/second.txt" timeout 30 unshare -n "$program" >"$work/second.log" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "the second start ended with $status"
[ "$(cat "$work/second.txt")" = "$(printf 'メッセージ\t２重起動は出来ません')" ] || fail "the second start said: $(cat "$work/second.txt")"

for _ in $(seq 100); do
    window="$(xdotool search --onlyvisible --name '^Orvalink$' 2>/dev/null | head -1)"
    [ -n "$window" ] && [ "$(xdotool getactivewindow 2>/dev/null)" = "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || fail "the first instance's window did not come up"
[ "$(xdotool getactivewindow 2>/dev/null)" = "$window" ] || fail "the first instance's window is shown but not active"
echo "the running window came forward and is active; the second start said why it ended"
