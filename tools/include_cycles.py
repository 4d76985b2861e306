#!/usr/bin/env python3
# Measures the include structure of one source folder: its include cycles and the includes that
# close them (an include that points back up to a file that depends on the includer).
#
# A unit is a header with the .cpp of the same name; a .cpp without a header of its own belongs
# to the unit of the class whose members it defines (a class whose methods are spread over many
# files is one unit with all their includes). Units are linked by the `#include "folder/..."`
# lines of their files; the largest strongly connected set of units is reported in files, and
# every include between two units of one such set is one that points back up.
#
#   tools/include_cycles.py engine
import re
import sys
from pathlib import Path

INCLUDE = re.compile(r'^\s*#include\s+"([^"]+)"', re.M)
CLASS = re.compile(r'^\s*(?:class|struct)\s+(\w+)\b[^;{(]*\{', re.M)
MEMBER = re.compile(r'^[\w:<>,*& \t]*?\b(T\w+)::~?\w+\s*\(', re.M)


def tarjan(nodes, edges):
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
            out.append(comp)

    sys.setrecursionlimit(10000)
    for v in nodes:
        if v not in index:
            visit(v)
    return out


def units(folder, text):
    declared = {}
    for f in text:
        if f.endswith(".h"):
            for name in CLASS.findall(text[f]):
                declared.setdefault(name, f[:-2])
    unit = {}
    for f in text:
        stem = f.rsplit(".", 1)[0]
        if f.endswith(".h") or stem + ".h" in text:
            unit[f] = stem
        else:
            owners = sorted({declared[n] for n in MEMBER.findall(text[f]) if n in declared})
            unit[f] = owners[0] if owners else stem
    return unit


def main():
    folder = Path(sys.argv[1] if len(sys.argv) > 1 else "engine")
    prefix = folder.name + "/"
    text = {p.name: p.read_text() for p in sorted(folder.iterdir()) if p.suffix in (".h", ".cpp")}
    unit = units(folder, text)
    edges, includes = {}, []
    for f in text:
        for inc in INCLUDE.findall(text[f]):
            target = inc[len(prefix):]
            if inc.startswith(prefix) and target in text and unit[target] != unit[f]:
                edges.setdefault(unit[f], set()).add(unit[target])
                includes.append((f, target))
    comps = tarjan(sorted(set(unit.values())), edges)
    comp_of = {u: i for i, c in enumerate(comps) for u in c}
    size = {i: sum(1 for u in unit.values() if comp_of[u] == i) for i in range(len(comps))}
    cyclic = [i for i, c in enumerate(comps) if len(c) > 1]
    largest = max(cyclic, key=lambda i: size[i], default=None)
    print(f"largest include cycle: {size[largest] if largest is not None else 0} files")
    if largest is not None:
        print("  " + " ".join(sorted(f for f in text if comp_of[unit[f]] == largest)))
    back = [(f, t) for f, t in includes if comp_of[unit[f]] in cyclic
            and comp_of[unit[f]] == comp_of[unit[t]]]
    print(f"includes inside cycles: {len(back)}")
    for f, t in back:
        print(f"  {f} -> {t}")


if __name__ == "__main__":
    main()
