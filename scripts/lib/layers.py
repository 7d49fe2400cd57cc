#!/usr/bin/python3
"""Checks that every include stays inside the library graph the CMake files declare.

The graph has one source: the CMakeLists.txt files. A library is an orvalink_std_library or
orvalink_qt_library call; it owns the sources it lists (target_sources adds more), the header of the
same name next to each source, and the headers without a source of their own in the folder of the
first library declared there. Its dependencies are its target_link_libraries, followed transitively.
Executables and tests (add_executable, orvalink_test, orvalink_fuzzer) are checked the same way
against what they link. A header named *_p.h is private: only the libraries of its own folder may
include it.

Prints one line "file:line: ..." per wrong include and exits 1 if there is any.
"""
import os
import re
import sys

ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "../.."))
SCAN = ("src", "res", "tools", "tests")
# Folders a quoted include is looked up in, in the order the compiler would (the same roots the
# build stages each library's headers under).
INCLUDE_ROOTS = ("src", "tools", "tests", "")
LIBRARY_CALLS = ("orvalink_std_library", "orvalink_qt_library")
# Keywords that end a list of sources in the calls read here.
KEYWORDS = {"NAME", "SOURCES", "LIBS", "CORPUS", "TIMEOUT", "QT", "NETNS", "TSAN", "SERIAL", "PUBLIC",
            "PRIVATE", "INTERFACE", "STATIC", "SHARED", "OBJECT"}


def rel(p):
    return os.path.relpath(p, ROOT)


def cmake_calls(text):
    """Yields (command, [arguments]) for every call in a CMake file (comments removed)."""
    text = re.sub(r"#[^\n]*", "", text)
    for m in re.finditer(r"\b([A-Za-z_][A-Za-z0-9_]*)\s*\(", text):
        depth, i = 1, m.end()
        while i < len(text) and depth:
            depth += {"(": 1, ")": -1}.get(text[i], 0)
            i += 1
        yield m.group(1), text[m.end():i - 1].split()


def source_path(folder, arg):
    arg = arg.replace("${PROJECT_SOURCE_DIR}", ROOT).replace("${CMAKE_CURRENT_SOURCE_DIR}", folder)
    if "$" in arg or not re.search(r"\.(cpp|h|c)$", arg):
        return None
    return os.path.normpath(os.path.join(folder, arg))


late_sources = []


def read_build():
    libs = {}  # name -> {"deps": set, "files": set, "folder": str}
    programs = []  # (name, files, deps)
    claimed = set()
    cmake_files = []
    for top in SCAN:
        for d, _, names in os.walk(os.path.join(ROOT, top)):
            if "CMakeLists.txt" in names:
                cmake_files.append(os.path.join(d, "CMakeLists.txt"))
    cmake_files.sort()
    pending_links = []
    listed = set()  # headers a library call names: they belong to that library
    for cm in cmake_files:
        with open(cm, encoding="utf-8") as f:
            for cmd, args in cmake_calls(f.read()):
                if cmd in LIBRARY_CALLS:
                    listed |= {p for p in (source_path(os.path.dirname(cm), a) for a in args[1:]) if p and p.endswith(".h")}
    for cm in cmake_files:
        folder = os.path.dirname(cm)
        with open(cm, encoding="utf-8") as f:
            calls = list(cmake_calls(f.read()))
        for cmd, args in calls:
            if cmd in LIBRARY_CALLS and args:
                files = {p for p in (source_path(folder, a) for a in args[1:]) if p}
                libs[args[0]] = {"deps": set(), "files": files, "folder": folder, "qt": cmd == "orvalink_qt_library",
                                 "where": rel(cm)}
                for src in list(files):
                    header = os.path.splitext(src)[0] + ".h"
                    if os.path.exists(header):
                        files.add(header)
                for src_dir in sorted({os.path.dirname(p) for p in files}):
                    if src_dir in claimed:
                        continue
                    claimed.add(src_dir)
                    for n in sorted(os.listdir(src_dir)):
                        p = os.path.join(src_dir, n)
                        if n.endswith(".h") and not os.path.exists(p[:-2] + ".cpp") and p not in listed:
                            files.add(p)
            elif cmd == "target_sources" and args:
                pending_links.append(("sources", folder, args))
            elif cmd == "target_link_libraries" and args:
                pending_links.append(("links", folder, args))
            elif cmd == "add_executable" and args:
                files = {p for p in (source_path(folder, a) for a in args[1:]) if p}
                programs.append([args[0], files, set()])
            elif cmd in ("orvalink_test", "orvalink_fuzzer"):
                name, files, deps, key = None, set(), set(), None
                for a in args:
                    if a in KEYWORDS:
                        key = a
                    elif key == "NAME":
                        name = a
                    elif key == "SOURCES":
                        p = source_path(folder, a)
                        if p:
                            files.add(p)
                    elif key == "LIBS":
                        deps.add(a)
                programs.append([name, files, deps])
    by_name = {p[0]: p for p in programs}
    for kind, folder, args in pending_links:
        name = args[0]
        if kind == "sources":
            files = {p for p in (source_path(folder, a) for a in args[1:]) if p}
            if name in libs:
                # The build exposes the headers of the sources the library call lists only.
                late_sources.append(f"{rel(os.path.join(folder, 'CMakeLists.txt'))}: sources of {name} are added with "
                                    "target_sources; list them in its library call")
                libs[name]["files"] |= files
            elif name in by_name:
                by_name[name][1] |= files
        else:
            deps = {a for a in args[1:] if a not in KEYWORDS}
            if name in libs:
                libs[name]["deps"] |= deps
            elif name in by_name:
                by_name[name][2] |= deps
    return libs, programs


def closure(libs, deps):
    seen, todo = set(), list(deps)
    while todo:
        d = todo.pop()
        if d in seen or d not in libs:
            continue
        seen.add(d)
        todo.extend(libs[d]["deps"])
    return seen


def includes(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        for n, line in enumerate(f, 1):
            m = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
            if m:
                yield n, m.group(1)


def resolve(including, name):
    for base in [os.path.dirname(including)] + [os.path.join(ROOT, r) for r in INCLUDE_ROOTS]:
        p = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(p):
            return p
    return None


def main():
    libs, programs = read_build()
    owner = {}
    for name, lib in libs.items():
        for p in lib["files"]:
            owner.setdefault(p, name)
    errors = list(late_sources)
    # The graph itself: plain C++ libraries stand on plain C++ libraries only, and no library
    # reaches itself through its dependencies.
    for name, lib in sorted(libs.items()):
        for d in sorted(lib["deps"]):
            if not lib["qt"] and d.startswith("Qt6::") or d in libs and libs[d]["qt"] and not lib["qt"]:
                errors.append(f"{lib['where']}: plain C++ library {name} links {d}, which needs Qt")
        if name in closure(libs, lib["deps"]):
            errors.append(f"{lib['where']}: {name} depends on itself through its dependencies")

    def check(path, who, allowed):
        for line, name in includes(path):
            target = resolve(path, name)
            lib = owner.get(target) if target else None
            if lib is None or lib == who:
                continue
            if lib not in allowed:
                errors.append(f"{rel(path)}:{line}: includes {name} of {lib}, which {who} does not link")
            elif target.endswith("_p.h") and os.path.dirname(target) != os.path.dirname(path):
                errors.append(f"{rel(path)}:{line}: includes {name}, a private header of {lib}")

    for path, who in sorted(owner.items()):
        check(path, who, closure(libs, libs[who]["deps"]))
    for name, files, deps in programs:
        allowed = closure(libs, deps)
        for path in sorted(files):
            if path in owner or not os.path.exists(path):
                continue
            check(path, name, allowed)
    for e in errors:
        print(e)
    if errors:
        print(f"{len(errors)} fault(s) against the library graph the CMakeLists.txt files declare", file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
