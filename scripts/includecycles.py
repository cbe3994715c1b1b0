#!/usr/bin/env python3
"""Refuses a cycle in the include graph between the folders of src/ (src/core/<name> counts as a folder of
its own), and one between the units of src/core and of src/ui (a unit is a .h with its .cpp). Prints each
cycle and exits 1 when there is one."""
import collections, os, re, subprocess, sys

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
os.chdir(root)
listed = subprocess.run(["git", "ls-files", "src"], capture_output=True, text=True).stdout.split()
if not listed:
    listed = [os.path.join(d, f) for d, _, fs in os.walk("src") for f in fs]
sources = {f for f in listed if f.endswith((".cpp", ".h"))}
include = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def folder(path):
    parts = path.split("/")
    if len(parts) >= 4 and parts[1] == "core":
        return "/".join(parts[1:3])
    return parts[1] if len(parts) >= 3 else parts[0]


def unit(path):
    # A class's private header (name_p.h, for its own sources only) belongs to the class's unit.
    stem = os.path.splitext(path)[0]
    return stem[:-2] if stem.endswith("_p") else stem


def graph(group, within):
    """Edges between the groups of the sources that within() takes, each with an include that makes it."""
    edges = collections.defaultdict(set)
    for source in sorted(f for f in sources if within(f)):
        with open(source, encoding="utf-8", errors="replace") as handle:
            text = handle.read()
        for target in include.findall(text):
            candidate = "src/" + target
            if candidate not in sources:
                candidate = os.path.normpath(os.path.join(os.path.dirname(source), target))
            if candidate in sources and within(candidate) and group(candidate) != group(source):
                edges[group(source)].add((group(candidate), source, target))
    return edges


def cycle_from(edges, start):
    """A path of groups leading from start back to start, with the include that makes each step."""
    stack, seen = [(start, [])], set()
    while stack:
        node, path = stack.pop()
        for to, source, target in sorted(edges.get(node, ())):
            step = path + [(node, to, source, target)]
            if to == start:
                return step
            if to not in seen:
                seen.add(to)
                stack.append((to, step))
    return None


def report(edges, what):
    found = set()
    for start in sorted(edges):
        cycle = cycle_from(edges, start)
        if cycle:
            key = frozenset(step[0] for step in cycle)
            if key in found:
                continue
            found.add(key)
            print("includecycles: the %s %s include each other in a circle:" % (what, " → ".join(
                [cycle[0][0]] + [step[1] for step in cycle])), file=sys.stderr)
            for node, to, source, target in cycle:
                print("  %s includes \"%s\" (%s → %s)" % (source, target, node, to), file=sys.stderr)
    return bool(found)


folders = report(graph(folder, lambda path: True), "folders")
units = report(graph(unit, lambda path: path.startswith(("src/core/", "src/ui/"))), "units")
sys.exit(1 if folders or units else 0)
