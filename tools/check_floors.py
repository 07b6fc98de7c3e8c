#!/usr/bin/env python3
"""Keeps the floors of src/: every quoted include must point to the same
folder or to a folder below it, and no two source files may include each
other in a loop (a unit is a header with its source file).

Usage: tools/check_floors.py [source root]   (default: src beside tools/)
Exits 1 and names every offending include or loop."""

import os
import re
import sys

# What each folder may include besides itself. The order of the keys is the
# order of the floors, from the bottom.
ALLOWED = {
    "states": set(),
    "icmphelper": set(),
    "platform": {"icmphelper"},
    "resolve": {"platform"},
    "echo": {"platform", "resolve"},
    "files": set(),
    "paths": {"platform", "resolve"},
    "history": {"states", "platform", "resolve", "echo", "paths"},
    "alerts": {"states"},
    "runs": {"platform", "resolve", "echo", "history"},
    "hosts": {"states"},
    "probe": {"states", "platform", "resolve", "echo", "files", "history", "alerts", "paths"},
    "desktop": {"platform"},
    "controls": {"platform", "desktop", "hosts"},
    "tray": {"platform", "desktop"},
    "dialogs": {"states", "platform", "desktop", "files", "controls", "alerts", "hosts"},
    "historyview": {"states", "platform", "desktop", "history", "controls"},
    "pathview": {"platform", "desktop", "files", "controls", "paths", "history"},
    "app": {"states", "platform", "desktop", "resolve", "echo", "files", "history", "controls", "tray",
            "dialogs", "historyview", "pathview", "alerts", "runs", "hosts", "paths"},
}

# Loops that are allowed, each within one folder. There are none: any loop
# fails.
KNOWN_LOOPS = []

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
SOURCES = (".h", ".hpp", ".c", ".cpp")


def units(root):
    """Maps every source file below root to (folder, unit, path)."""
    found = {}
    for folder in sorted(os.listdir(root)):
        path = os.path.join(root, folder)
        if not os.path.isdir(path):
            continue
        for name in sorted(os.listdir(path)):
            if name.endswith(SOURCES):
                found[f"{folder}/{name}"] = (folder, f"{folder}/{os.path.splitext(name)[0]}",
                                             os.path.join(path, name))
    return found


def resolve(include, folder, files):
    """The tree path an include names, or None for one outside src/."""
    if include in files:
        return include
    local = f"{folder}/{include}"
    if local in files:
        return local
    # Headers found through an include folder of their own library.
    matches = [f for f in files if f.endswith("/" + include)]
    return matches[0] if len(matches) == 1 else None


def loops(graph):
    """Strongly connected components with more than one unit (Tarjan)."""
    index, low, stack, on_stack, result = {}, {}, [], set(), []
    counter = [0]

    def visit(node):
        index[node] = low[node] = counter[0]
        counter[0] += 1
        stack.append(node)
        on_stack.add(node)
        for nxt in sorted(graph.get(node, ())):
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            component = []
            while True:
                top = stack.pop()
                on_stack.discard(top)
                component.append(top)
                if top == node:
                    break
            if len(component) > 1:
                result.append(sorted(component))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return result


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "src")
    files = units(root)
    problems = []
    graph = {}
    for name, (folder, unit, path) in files.items():
        if folder not in ALLOWED:
            problems.append(f"src/{name}: folder '{folder}' has no floor in tools/check_floors.py")
            continue
        with open(path, encoding="utf-8", errors="replace") as source:
            text = source.read()
        for include in INCLUDE.findall(text):
            target = resolve(include, folder, files)
            if target is None:
                continue
            to_folder, to_unit, _ = files[target]
            if to_folder != folder and to_folder not in ALLOWED[folder]:
                problems.append(f"src/{name}: includes {include}, a floor above or beside "
                                f"'{folder}'")
            if to_unit != unit:
                graph.setdefault(unit, set()).add(to_unit)
    for component in loops(graph):
        if component in KNOWN_LOOPS:
            print("note: known include loop between " + ", ".join(component))
        else:
            problems.append("include loop between " + ", ".join(component))
    for problem in problems:
        print(problem)
    if problems:
        return 1
    print(f"floors kept: {len(files)} files, {sum(len(v) for v in graph.values())} includes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
