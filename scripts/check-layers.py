#!/usr/bin/env python3
"""Checks the layer map of the tree: which target each product source file belongs to, and that every
include points down a layer.

The map is the top CMakeLists.txt: each `qor_layer(name below sources...)` and each
`add_executable(name sources...)` names its files one by one, headers included, and
`target_link_libraries` gives an executable the layers under it. The check fails when
  - a .cpp or .hpp under the product folders belongs to no target, or to two;
  - a file includes a product header of a target that its own target does not link (an upward
    include, or a sideways one);
  - a file of runtime/ includes anything outside runtime/, or a file of errors/ anything outside
    runtime/ and errors/: those two sit under the rest of their layer;
  - a file other than the socket stack (the files of socket/ in the lowest layer, the one of
    runtime/) calls a socket or resolver function of the system, or syscall, which would also hide
    the call's buffers from the sanitizers. The one exception is the console's syscall: it writes
    standard output past the C library's cancellation point (and through the C library in
    sanitizer builds).

    scripts/check-layers.py [tree]        default: the tree this script is in
Prints each fault on a line of its own and exits 1 if there is any, else prints a summary and exits 0.
"""
import re
import sys
from pathlib import Path

PRODUCT_FOLDERS = ("runtime", "errors", "socket", "connection", "client", "frontend", "demo")
# Folders beneath the rest of their layer, lowest first: each may include only itself and those before it.
BOTTOM_FOLDERS = ("runtime", "errors")
SOURCE_SUFFIXES = (".cpp", ".hpp")
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]qorclnt/([^">]+)[">]', re.MULTILINE)
SYSTEM_CALLS = (
    "socket socketpair bind connect listen accept accept4 send sendto sendmsg recv recvfrom recvmsg shutdown "
    "setsockopt getsockopt getsockname getpeername select pselect poll ppoll epoll_wait getaddrinfo "
    "gethostbyname gethostbyname_r gethostbyname2_r gethostbyaddr gethostbyaddr_r getservbyname "
    "getservbyname_r getservbyport getservbyport_r getnameinfo syscall"
).split()
# Files that may make a direct system call (not a socket one): the console's write to standard output.
DIRECT_CALLERS = {"runtime/Console.cpp": {"syscall"}}
# A call of one of them, bare or as ::name, but not a member's (x.send, p->send) or another name's tail.
SYSTEM_CALL = re.compile(r"(?<![\w.>])(?:::\s*)?\b(" + "|".join(SYSTEM_CALLS) + r")\s*\(")


def strip_comments(text):
    return re.sub(r"#[^\n]*", "", text)


def calls(text, command):
    """The argument lists of every call of a CMake command, split into words."""
    pattern = re.compile(r"\b" + command + r"\s*\(([^)]*)\)", re.IGNORECASE)
    return [re.findall(r'"[^"]*"|[^\s"]+', m.group(1)) for m in pattern.finditer(text)]


def read_map(cmake_text):
    """Returns ({file: [targets]}, {target: set of targets it may include from})."""
    text = strip_comments(cmake_text)
    files, links = {}, {}
    for words in calls(text, "qor_layer"):
        name, below, sources = words[0], words[1].strip('"'), words[2:]
        links[name] = set(below.split(";"))
        for source in sources:
            files.setdefault(source, []).append(name)
    for words in calls(text, "add_executable"):
        name = words[0]
        links.setdefault(name, set())
        for source in words[1:]:
            files.setdefault(source, []).append(name)
    for words in calls(text, "target_link_libraries"):
        if words[0] in links:
            links[words[0]].update(w for w in words[1:] if w not in ("PUBLIC", "PRIVATE", "INTERFACE"))
    reach = {}
    for name in links:
        seen, todo = {name}, [name]
        while todo:
            for below in links.get(todo.pop(), ()):
                if below in links and below not in seen:
                    seen.add(below)
                    todo.append(below)
        reach[name] = seen
    return files, reach


def code_only(text):
    """The text without comments and string literals, so that only code is searched for calls."""
    return re.sub(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"', "", text, flags=re.DOTALL)


def check(tree):
    tree = Path(tree)
    files, reach = read_map((tree / "CMakeLists.txt").read_text())
    faults = []
    present = sorted(
        str(path.relative_to(tree))
        for folder in PRODUCT_FOLDERS
        if (tree / folder).is_dir()
        for path in (tree / folder).iterdir()
        if path.suffix in SOURCE_SUFFIXES
    )
    for path in present:
        targets = files.get(path, [])
        if not targets:
            faults.append(f"{path}: belongs to no target")
        elif len(targets) > 1:
            faults.append(f"{path}: belongs to more than one target: {' '.join(targets)}")
    core = {t for path in present if path.startswith("runtime/") for t in files.get(path, [])}
    for path in present:
        targets = files.get(path, [])
        if len(targets) != 1:
            continue
        folder = path.split("/")[0]
        text = (tree / path).read_text(errors="replace")
        if not (folder == "socket" and targets[0] in core):
            for name in sorted(set(SYSTEM_CALL.findall(code_only(text))) - DIRECT_CALLERS.get(path, set())):
                faults.append(f"{path}: calls {name}; only the socket stack calls the system's socket functions")
        for included in INCLUDE.findall(text):
            owner = files.get(included, [])
            if len(owner) != 1:
                faults.append(f"{path}: includes {included}, which belongs to no single target")
            elif owner[0] not in reach[targets[0]]:
                faults.append(f"{path}: includes {included} of {owner[0]}, above its own {targets[0]}")
            elif folder in BOTTOM_FOLDERS:
                allowed = BOTTOM_FOLDERS[: BOTTOM_FOLDERS.index(folder) + 1]
                if included.split("/")[0] not in allowed:
                    faults.append(f"{path}: includes {included}; {folder}/ includes only {'/, '.join(allowed)}/")
    return present, faults


def main(argv):
    tree = argv[1] if len(argv) > 1 else Path(__file__).resolve().parent.parent
    present, faults = check(tree)
    for fault in faults:
        print(f"layers: {fault}")
    if faults:
        return 1
    print(f"layers: {len(present)} files, each in one target, every include pointing down")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
