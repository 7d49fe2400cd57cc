# Shared by the scripts: where things are, and installing the Debian packages that are missing.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# Packages to build and run the program (Qt's Japanese catalogue for its standard dialogs, libsecret
# for the desktop keyring, the fcitx5 input method's Qt 6 front end: the ibus one comes with Qt; Qt's
# SVG writer draws the scalable icon at build time).
RUN_PACKAGES=(cmake ninja-build g++ qt6-base-dev libssl-dev libgl-dev libgtest-dev netbase iproute2 fonts-ipafont-gothic
    qt6-translations-l10n fcitx5-frontend-qt6 pkg-config libsecret-1-dev qt6-svg-dev)
# What the test suite needs on top: the private network namespaces (iproute2, util-linux), the real
# mail servers the mail tests start inside them (dovecot's POP3 server, aiosmtpd under Debian's
# python3), the desktop suite's X server, window manager with a tray and input driver, and the
# formatter scripts/check holds the sources to; the package test's checkers (dpkg-shlibdeps comes
# with dpkg-dev); a private session bus with a recording notification service and a keyring; the
# input methods with mozc that the desktop suite types Japanese through; mpop, the receiving
# benchmark's baseline (plain and over TLS).
TEST_PACKAGES=("${RUN_PACKAGES[@]}" util-linux dovecot-pop3d python3-aiosmtpd mpop xvfb icewm xdotool clang-format
    dpkg-dev desktop-file-utils appstream lintian dbus python3-dbus python3-gi gnome-keyring libsecret-tools
    ibus ibus-mozc fcitx5 fcitx5-mozc)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

ensure_packages() {
    local missing=()
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing Debian packages: ${missing[*]}"
        as_root apt-get update -q
        # Installing a server package must not start a system-wide service: the tests start their
        # own servers inside private namespaces. A policy that denies every start is put in place
        # for the install only (an existing policy is left alone).
        local policy=/usr/sbin/policy-rc.d placed=0
        if [ ! -e "$policy" ]; then
            printf '#!/bin/sh\nexit 101\n' | as_root tee "$policy" >/dev/null && as_root chmod 755 "$policy" && placed=1
        fi
        local status=0
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" || status=$?
        if [ "$placed" = 1 ]; then as_root rm -f "$policy"; fi
        return "$status"
    fi
}

# configure_and_build BUILD_DIR [cmake options...]
configure_and_build() {
    local dir="$1"; shift
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$(nproc)"
}

# run_ctest BUILD_DIR [VAR=value...]: runs the suite of BUILD_DIR through CTest (its own output, the
# closing summary included, goes through unchanged), then counts the tests that did not run. A
# test that skipped (a privilege or a package missing) tested nothing: any skip fails the run,
# unless ORVALINK_ALLOW_SKIPS names it (space-separated shell patterns over CTest's test names);
# every skip is listed either way.
run_ctest() {
    local dir; dir="$(cd "$1" && pwd)"; shift
    local log="$dir/ctest-output.log" status_file="$dir/ctest-status" status=0
    # CTest's own status goes through a file: the pipe's status is tee's.
    (
        cd "$dir" || exit 1
        s=0
        env "$@" ctest --output-on-failure -j "$(nproc)" || s=$?
        echo "$s" >"$status_file"
    ) | tee "$log"
    status="$(cat "$status_file" 2>/dev/null || echo 1)"
    local skipped=() name allowed=() refused=() pattern ok
    mapfile -t skipped < <(sed -n -E 's/^[[:space:]]*[0-9]+ - (.*) \((Skipped|Not Run|Disabled)\)[[:space:]]*$/\1/p' "$log")
    for name in "${skipped[@]}"; do
        ok=0
        for pattern in ${ORVALINK_ALLOW_SKIPS:-}; do
            # shellcheck disable=SC2053 # the pattern is matched as a pattern on purpose
            if [[ "$name" == $pattern ]]; then ok=1; fi
        done
        if [ "$ok" = 1 ]; then allowed+=("$name"); else refused+=("$name"); fi
    done
    echo "== $(basename "$dir"): ${#skipped[@]} tests skipped (${#allowed[@]} allowed by ORVALINK_ALLOW_SKIPS)"
    for name in "${allowed[@]}"; do echo "   skipped, allowed: $name"; done
    if [ ${#refused[@]} -gt 0 ]; then
        echo "== FAILED: ${#refused[@]} tests could not run:"
        for name in "${refused[@]}"; do echo "   not run: $name"; done
        echo "   what they lack (from $dir/Testing/Temporary/LastTest.log):"
        grep -h '^NOT RUN (skipped)' "$dir/Testing/Temporary/LastTest.log" | sed -E 's/^NOT RUN \(skipped\) [^:]*: //' |
            sort | uniq -c | sed 's/^/   /' || true
        echo "   (to accept these, name them in ORVALINK_ALLOW_SKIPS)"
        [ "$status" -ne 0 ] || status=1
    fi
    return "$status"
}
