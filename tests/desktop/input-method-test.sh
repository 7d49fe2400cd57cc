#!/usr/bin/env bash
# input-method-test.sh PROBE
# Types romaji through a real input method with real keys on an X server of its own and checks that
# 日本語 lands, committed, in the chat write text and in the compose body (orvalink-imeprobe shows
# both). Each input method runs in its own dbus-run-session: ibus-daemon with ibus-mozc (Qt's ibus
# front end), then fcitx5 with fcitx5-mozc (the fcitx5-frontend-qt6 package). The mozc server
# refuses to run as root, so as root the session runs as nobody. An input method that is not
# installed is skipped with a line saying so; none installed skips the test. The input method is
# set up and started by ime-session.sh, as for the whole program (InputMethodOnLanTest.cpp).
set -uo pipefail
probe="$1"
for tool in Xvfb xdotool dbus-run-session setpriv; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
methods=()
if command -v ibus-daemon >/dev/null && [ -x /usr/lib/ibus-mozc/ibus-engine-mozc ]; then methods+=(ibus)
else echo "ibus with ibus-mozc is not installed: not tried"; fi
if command -v fcitx5 >/dev/null && ls /usr/lib/*/fcitx5/fcitx5-mozc.so >/dev/null 2>&1 \
    && ls /usr/lib/*/qt6/plugins/platforminputcontexts/libfcitx5platforminputcontextplugin.so >/dev/null 2>&1; then
    methods+=(fcitx5)
else echo "fcitx5 with fcitx5-mozc and its Qt 6 front end is not installed: not tried"; fi
[ ${#methods[@]} -gt 0 ] || { echo "SKIP: no input method with mozc installed"; exit 77; }

work="$(mktemp -d)"
chmod 755 "$work"
xpid=""
cleanup() { [ -n "$xpid" ] && kill "$xpid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
cp "$probe" "$work/probe" && chmod 755 "$work/probe"
as_user=()
if [ "$(id -u)" -eq 0 ]; then as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups); fi

Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>"$work/xvfb.log" &
xpid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
display=":$(head -1 "$work/display")"
[ "$display" != ":" ] || { echo "FAIL: no X server"; cat "$work/xvfb.log"; exit 1; }

# The session's program (ime-session.sh starts the input method first): the probe and the keys.
cat >"$work/session.sh" <<'SESSION'
#!/bin/bash
method="$1"; work="$2"
"$work/probe" >"$work/$method.out" 2>>"$work/$method.log" &
for _ in $(seq 100); do wid=$(xdotool search --name '^imeprobe$' 2>/dev/null | head -1); [ -n "$wid" ] && break; sleep 0.1; done
xdotool windowfocus --sync "$wid" >>"$work/$method.log" 2>&1
sleep 1
for target in chat compose; do
    xdotool type --delay 100 nihongo; sleep 0.5
    xdotool key space; sleep 1
    xdotool key Return; sleep 1.5
done
kill $(jobs -p) 2>/dev/null
wait
SESSION
chmod 755 "$work/session.sh"
cp "$(dirname "$0")/ime-session.sh" "$work/ime-session.sh"

failures=0
for method in "${methods[@]}"; do
    home="$work/home-$method"
    mkdir -p "$home/run" && chmod 700 "$home/run"
    [ ${#as_user[@]} -gt 0 ] && chown -R nobody:nogroup "$home"
    touch "$work/$method.log" "$work/$method.out"
    [ ${#as_user[@]} -gt 0 ] && chown nobody:nogroup "$work/$method.log" "$work/$method.out"
    # The probe's windows go to this X server, whatever platform the suite runs the other tests on
    # (scripts/test runs them offscreen, where no key typed on the display would reach them).
    timeout 90 "${as_user[@]}" env DISPLAY="$display" HOME="$home" XDG_CONFIG_HOME="$home/.config" \
        XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=xcb setsid dbus-run-session -- \
        bash "$work/ime-session.sh" "$method" "$work/$method.log" "$work/session.sh" "$method" "$work" \
        >>"$work/$method.log" 2>&1
    # The mozc server leaves the session as a daemon of its own: it is found by the home this test
    # gave it, and ended.
    for environ in /proc/[0-9]*/environ; do
        if { tr '\0' '\n' <"$environ"; } 2>/dev/null | grep -qx "HOME=$home"; then
            pid="${environ#/proc/}"
            kill "${pid%/environ}" 2>/dev/null
        fi
    done
    echo "== $method: what the probe saw"
    cat "$work/$method.out"
    for target in chat compose; do
        if tail -1 <(grep "^$target " "$work/$method.out") | grep -qx "$target 日本語"; then
            echo "$method: $target holds 日本語"
        else
            echo "FAIL: $method: $target does not hold 日本語"
            failures=$((failures + 1))
        fi
    done
    if grep -qE "^(chat|compose) .*(にほ|ほん|んご)" "$work/$method.out"; then
        echo "FAIL: $method: the reading reached the text before it was committed"
        failures=$((failures + 1))
    fi
    [ "$failures" -eq 0 ] || grep -v "fd limit" "$work/$method.log" | tail -20
done
[ "$failures" -eq 0 ] || exit 1
echo "input method checks passed: ${methods[*]}"
