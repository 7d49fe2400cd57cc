# Shared by scripts/format and scripts/check: the C++ files .clang-format governs and the formatter.
# format_files prints them NUL-separated, relative to ROOT (the tree's own files only: no build trees).
format_files() {
    (cd "$ROOT" && find src tests tools -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
}

clang_format_program() {
    local p
    for p in clang-format-14 clang-format; do
        if command -v "$p" >/dev/null; then echo "$p"; return; fi
    done
    echo "clang-format is not installed (Debian package clang-format)" >&2
    return 1
}
