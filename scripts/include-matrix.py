#!/usr/bin/env python3
"""Folder-to-folder include matrix of the tracked sources.

Each library folder (common, filters, Harlin, Corvel, relay, Mendrel, Vorlund-Remote) is one
layer, and so is each folder under Vorlund/. Prints how many includes go from each folder to
each other one, then flags folders that reach each other (directly or round a longer cycle),
any include from a library folder up into the server and any library folder's CMake file
that links a server library, and any file kept apart from a folder that reaches it through its
includes. Exits 1 when it flags anything.
Tests, benchmarks and cmake helpers are consumers, not layers, and are left out.
"""

import os
import re
import subprocess
import sys
from collections import defaultdict

LIBRARIES = ("common", "filters", "Harlin", "Corvel", "relay", "Mendrel", "Vorlund-Remote")
SERVER = "Vorlund"
SOURCE = re.compile(r"\.(h|hpp|c|cpp)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
# Files kept apart from a folder their own folder may use: nothing they include, directly or
# through other headers, sits in it. The view's core reaches the dialogs through the view.
KEPT_APART = {
    "Vorlund/view/ViewCore.h": "Vorlund/dialogs",
    "Vorlund/view/ViewCore.cpp": "Vorlund/dialogs",
}


def folder_of(path):
    parts = path.split("/")
    if parts[0] in LIBRARIES:
        return parts[0]
    if parts[0] == SERVER and len(parts) > 2:
        return "/".join(parts[:2])
    return None


def module_of(path):
    return path.split("/")[0]


def tracked_sources(root):
    out = subprocess.run(["git", "-C", root, "ls-files"], check=True, capture_output=True,
                         text=True).stdout.split()
    return [p for p in out if SOURCE.search(p) and folder_of(p)]


def resolve(includer, name, by_base, known):
    """The tracked file an include names: relative to the includer first, then by file name,
    preferring the includer's own program where two programs have a header of that name."""
    local = os.path.normpath(os.path.join(os.path.dirname(includer), name))
    if local in known:
        return local
    cands = by_base.get(os.path.basename(name), [])
    cands = [c for c in cands if c.endswith(name)]
    if len(cands) > 1:
        same = [c for c in cands if module_of(c) == module_of(includer)]
        cands = same or cands
    if len(cands) > 1:
        same = [c for c in cands if folder_of(c) == folder_of(includer)]
        cands = same or cands
    return cands[0] if len(cands) == 1 else None


def strongly_connected(nodes, edges):
    index, low, stack, on, out = {}, {}, [], set(), []

    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v)
        on.add(v)
        for w in sorted(edges.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            comp = []
            while True:
                w = stack.pop()
                on.discard(w)
                comp.append(w)
                if w == v:
                    break
            if len(comp) > 1:
                out.append(sorted(comp))

    for v in sorted(nodes):
        if v not in index:
            visit(v)
    return out


def server_links(root):
    """Library folders' CMake files that name a library the server's folders define."""
    lists = subprocess.run(["git", "-C", root, "ls-files", "*CMakeLists.txt"], check=True,
                           capture_output=True, text=True).stdout.split()
    server = set()
    for f in lists:
        if f.startswith(SERVER + "/"):
            with open(os.path.join(root, f), encoding="utf-8") as fh:
                server.update(re.findall(r"add_library\(\s*(\w+)", fh.read()))
    found = []
    for f in lists:
        if f.split("/")[0] in LIBRARIES:
            with open(os.path.join(root, f), encoding="utf-8") as fh:
                text = re.sub(r"#.*", "", fh.read())
            for name in sorted(server):
                if re.search(r"\b" + name + r"\b", text):
                    found.append(f"links the server: {f} names {name}")
    return found


def reached(start, deps):
    """Every tracked file `start` includes, directly or through the headers it includes."""
    seen, todo = set(), [start]
    while todo:
        for d in deps.get(todo.pop(), ()):
            if d not in seen:
                seen.add(d)
                todo.append(d)
    return seen


def kept_apart(deps):
    found = []
    for f, folder in sorted(KEPT_APART.items()):
        if f not in deps:
            found.append(f"kept apart: {f} is not a tracked source")
            continue
        into = sorted(r for r in reached(f, deps) if folder_of(r) == folder)
        if into:
            found.append(f"kept apart: {f} reaches {folder} ({', '.join(into)})")
    return found


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    files = tracked_sources(root)
    known = set(files)
    by_base = defaultdict(list)
    for f in files:
        by_base[os.path.basename(f)].append(f)

    counts = defaultdict(int)
    examples = {}
    deps = {}
    for f in files:
        deps[f] = set()
        with open(os.path.join(root, f), encoding="utf-8", errors="replace") as fh:
            text = fh.read()
        for name in INCLUDE.findall(text):
            target = resolve(f, name, by_base, known)
            if not target:
                continue
            deps[f].add(target)
            a, b = folder_of(f), folder_of(target)
            if a != b:
                counts[(a, b)] += 1
                examples.setdefault((a, b), f"{f} -> {target}")

    folders = sorted({folder_of(f) for f in files})
    edges = defaultdict(set)
    for a, b in counts:
        edges[a].add(b)

    print("includes from -> to (count)")
    for a in folders:
        for b in sorted(edges.get(a, ())):
            print(f"  {a:22} -> {b:22} {counts[(a, b)]:4}")

    problems = []
    for a, b in sorted(counts):
        if a < b and (b, a) in counts:
            problems.append(f"each other: {a} <-> {b} ({examples[(a, b)]}; {examples[(b, a)]})")
    for comp in strongly_connected(folders, edges):
        if len(comp) > 2:
            problems.append("cycle: " + " -> ".join(comp))
    for a, b in sorted(counts):
        if a in LIBRARIES and b.startswith(SERVER + "/"):
            problems.append(f"upward: {a} -> {b} ({examples[(a, b)]})")

    problems += server_links(root)
    problems += kept_apart(deps)

    print()
    if problems:
        print("flagged:")
        for p in problems:
            print("  " + p)
        return 1
    print("flagged: none")
    return 0


if __name__ == "__main__":
    sys.exit(main())
