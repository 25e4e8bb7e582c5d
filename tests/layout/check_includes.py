#!/usr/bin/env python3
"""The shape of the code's includes, checked over the source tree given as the only argument:

- no file outside app/ includes a header of app/ (front ends sit on the core, never under it);
- no portable file (one whose name does not end in _win32) includes a *_win32.h header;
- no portable file of the core (decoder/, report/, capture/) includes <windows.h>;
- no two units include each other, directly or round a longer circle, where a unit is a header
  with the .cpp of the same name.

Prints every breach and exits 1 when there is one.
"""
import os
import re
import sys

CORE = ("tape", "decoder", "report", "capture", "audio", "rescue")
FOLDERS = CORE + ("app", "tools", "tests", "bench", "resources")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def sources(root):
    for folder in FOLDERS:
        for base, _, files in os.walk(os.path.join(root, folder)):
            for name in files:
                if name.endswith((".cpp", ".h")):
                    path = os.path.join(base, name)
                    yield os.path.relpath(path, root).replace(os.sep, "/")


def unit(path):
    return os.path.splitext(path)[0]


def main(root):
    problems = []
    arrows = {}
    for path in sources(root):
        with open(os.path.join(root, path), encoding="utf-8") as f:
            text = f.read()
        folder = path.split("/")[0]
        portable = not unit(path).endswith("_win32")
        for kind, target in INCLUDE.findall(text):
            if kind == "<":
                if target.lower() == "windows.h" and portable and folder in CORE:
                    problems.append("%s includes <windows.h>" % path)
                continue
            if target.startswith("app/") and folder != "app":
                problems.append("%s includes %s (a front end's header)" % (path, target))
            if unit(target).endswith("_win32") and portable:
                problems.append("%s (portable) includes %s" % (path, target))
            if unit(target) != unit(path):
                arrows.setdefault(unit(path), set()).add(unit(target))

    # A circle among units: depth-first search for a back edge.
    state = {}

    def visit(node, trail):
        state[node] = "open"
        for nxt in sorted(arrows.get(node, ())):
            if state.get(nxt) == "open":
                circle = trail[trail.index(nxt):] + [nxt]
                problems.append("include circle: " + " -> ".join(circle))
            elif nxt not in state:
                visit(nxt, trail + [nxt])
        state[node] = "done"

    for node in sorted(arrows):
        if node not in state:
            visit(node, [node])

    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
