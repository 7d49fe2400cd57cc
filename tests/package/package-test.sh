#!/usr/bin/env bash
# package-test.sh BUILD_DIR SOURCE_DIR
# Packs the built program with CPack, unpacks the .deb and checks its files, its menu entry
# (desktop-file-validate), its AppStream data (appstreamcli), its control fields and dependencies,
# and that lintian finds no error; then installs to an odd prefix and checks the entry follows it.
set -uo pipefail
build="$1"
src="$2"
for tool in cpack dpkg-deb desktop-file-validate appstreamcli lintian; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (./scripts/test installs it)"
        exit 77
    fi
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what="$1"; shift; "$@" >"$work/out" 2>&1 || { fail "$what"; cat "$work/out"; }; }

id=org.orvalink.Orvalink
if ! (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pack" >"$work/cpack.log" 2>&1); then
    cat "$work/cpack.log"
    fail "cpack could not build the package"
    exit 1
fi
deb="$(ls "$work"/pack/orvalink_*.deb 2>/dev/null | head -1)"
[ -n "$deb" ] || { fail "no orvalink_*.deb"; exit 1; }
echo "package: $(basename "$deb")"
dpkg-deb -x "$deb" "$work/root"

for f in usr/bin/orvalink usr/bin/orvalink-kconv usr/bin/orvalink-mbox; do
    [ -x "$work/root/$f" ] || fail "$f missing or not executable"
done
for f in usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
         usr/share/doc/orvalink/copyright usr/share/doc/orvalink/changelog.gz; do
    [ -s "$work/root/$f" ] || fail "$f missing or empty"
done
# Every icon size is a PNG of exactly that size with something drawn on it (not all transparent).
for size in 16 22 24 32 48 64 128 256; do
    png="$work/root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png"
    if [ ! -f "$png" ]; then fail "icon ${size}x${size} missing"; continue; fi
    /usr/bin/python3 - "$png" "$size" <<'PY' || fail "icon ${size}x${size} is not a ${size}-pixel PNG"
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
size = int(sys.argv[2])
assert data[:8] == b"\x89PNG\r\n\x1a\n"
w, h, depth, colour = struct.unpack(">IIBB", data[16:26])
assert (w, h) == (size, size), (w, h)
assert (depth, colour) == (8, 6), "8-bit RGBA"
idat, pos = b"", 8
while pos < len(data):
    n, kind = struct.unpack(">I4s", data[pos:pos + 8])
    if kind == b"IDAT":
        idat += data[pos + 8:pos + 8 + n]
    pos += n + 12
raw, stride, prev, alphas = zlib.decompress(idat), 4 * w, bytearray(4 * w), []
for r in range(h):
    kind, line = raw[r * (stride + 1)], bytearray(raw[r * (stride + 1) + 1:(r + 1) * (stride + 1)])
    for i in range(stride):
        a = line[i - 4] if i >= 4 else 0
        b = prev[i]
        c = prev[i - 4] if i >= 4 else 0
        if kind == 1: line[i] = (line[i] + a) & 255
        elif kind == 2: line[i] = (line[i] + b) & 255
        elif kind == 3: line[i] = (line[i] + (a + b) // 2) & 255
        elif kind == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    alphas += line[3::4]
    prev = line
opaque = sum(1 for a in alphas if a == 255)
assert opaque > size * size // 8, "too little drawn: %d opaque pixels" % opaque
assert alphas[0] == 0, "the corner is not transparent"
PY
done

# The scalable icon: an SVG document that draws the same icon as the 256-pixel PNG.
svg="$work/root/usr/share/icons/hicolor/scalable/apps/$id.svg"
if [ ! -s "$svg" ]; then
    fail "scalable icon missing"
else
    /usr/bin/python3 -c 'import sys, xml.etree.ElementTree as t; assert t.parse(sys.argv[1]).getroot().tag == "{http://www.w3.org/2000/svg}svg"' \
        "$svg" || fail "the scalable icon is not an SVG document"
    check "the scalable icon draws the 256-pixel one" "$build/tests/package/orvalink-svgiconcheck" "$svg" \
        "$work/root/usr/share/icons/hicolor/256x256/apps/$id.png"
fi

desktop="$work/root/usr/share/applications/$id.desktop"
check "desktop-file-validate" desktop-file-validate "$desktop"
grep -qx 'Categories=Network;Chat;Email;' "$desktop" || fail "Categories"
grep -qx 'Exec=/usr/bin/orvalink' "$desktop" || fail "Exec is not the installed program"
grep -qx "Icon=$id" "$desktop" || fail "Icon"
grep -q '^Name\[ja\]=' "$desktop" && grep -q '^Comment\[ja\]=.*チャット' "$desktop" || fail "Japanese Name/Comment"
check "appstreamcli validate" appstreamcli validate --no-net "$work/root/usr/share/metainfo/$id.metainfo.xml"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = orvalink ] || fail "Package field"
[ "$(field Section)" = net ] || fail "Section field: $(field Section)"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer field: $(field Maintainer)"
[ -n "$(field Description | sed -n 2p)" ] || fail "Description has no long text"
depends="$(field Depends)"
echo "Depends: $depends"
# Computed from the binaries: the C library, the C++ runtime, Qt (its bus and sockets too), libsecret.
for lib in libc6 libstdc++6 libqt6widgets6 libqt6gui6 libqt6core6 libqt6dbus6 libqt6network6 libsecret-1-0; do
    [[ ", $depends" == *", $lib "* || ", $depends" == *", $lib,"* || ", $depends" == *", $lib" ]] || fail "Depends lacks $lib"
done
[[ "$(field Recommends)" == *fcitx5-frontend-qt6* ]] || fail "Recommends lacks the fcitx5 front end"

lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1
cat "$work/lintian"
if grep -q '^E: ' "$work/lintian"; then fail "lintian reports errors"; fi

# Installed to another prefix, the menu entry starts the program there.
prefix="$work/prefix"
check "cmake --install" cmake --install "$build" --prefix "$prefix"
grep -qx "Exec=$prefix/bin/orvalink" "$prefix/share/applications/$id.desktop" || fail "Exec after install to $prefix"
[ -x "$prefix/bin/orvalink" ] && [ -f "$prefix/share/icons/hicolor/48x48/apps/$id.png" ] \
    && [ -f "$prefix/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "files under the prefix"

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "package checks passed"
