#!/bin/bash
# ime-session.sh METHOD LOG PROGRAM [ARGS...]
# Inside a session bus of its own (run under dbus-run-session), as the user the input method
# accepts (mozc refuses root): starts METHOD (ibus: ibus-daemon with ibus-mozc; fcitx5: fcitx5 with
# fcitx5-mozc), set to start in Japanese input, then runs PROGRAM with Qt's front end for it and
# ends with PROGRAM's exit code. The input method's settings go under $XDG_CONFIG_HOME, its output
# to LOG; DISPLAY names the X server.
method="$1"
log="$2"
shift 2
: "${XDG_CONFIG_HOME:?}" "${DISPLAY:?}"
mkdir -p "$XDG_CONFIG_HOME"
if [ "$method" = ibus ]; then
    mkdir -p "$XDG_CONFIG_HOME/mozc"
    # Mozc starts in Japanese input (hiragana), not in direct input.
    printf 'engines {\n  name : "mozc-jp"\n  longname : "Mozc"\n  layout : "default"\n  layout_variant : ""\n  layout_option : ""\n  rank : 80\n}\nactive_on_launch: True\n' \
        >"$XDG_CONFIG_HOME/mozc/ibus_config.textproto"
    ibus-daemon --replace --panel=disable >>"$log" 2>&1 &
    for _ in $(seq 100); do ibus engine mozc-jp >>"$log" 2>&1 && break; sleep 0.2; done
    echo "engine: $(ibus engine 2>&1)" >>"$log"
    export QT_IM_MODULE=ibus
elif [ "$method" = fcitx5 ]; then
    mkdir -p "$XDG_CONFIG_HOME/fcitx5"
    printf '[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=mozc\n\n[Groups/0/Items/0]\nName=keyboard-us\nLayout=\n\n[Groups/0/Items/1]\nName=mozc\nLayout=\n\n[GroupOrder]\n0=Default\n' \
        >"$XDG_CONFIG_HOME/fcitx5/profile"
    printf '[Behavior]\nActiveByDefault=True\n' >"$XDG_CONFIG_HOME/fcitx5/config"
    fcitx5 --disable=wayland >>"$log" 2>&1 &
    # Ready once it owns its name on the session bus.
    for _ in $(seq 100); do
        dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
            string:org.fcitx.Fcitx5 2>/dev/null | grep -q 'boolean true' && break
        sleep 0.2
    done
    sleep 1 # its addons (mozc) load after the name
    export QT_IM_MODULE=fcitx
else
    echo "unknown input method $method" >>"$log"
    exit 2
fi
"$@"
status=$?
kill $(jobs -p) 2>/dev/null
wait
exit "$status"
