#!/usr/bin/env python3
# Counts the public names a class shows its users, its public bases' included: fields, methods
# (overloads once), types and friends, read from clang's syntax tree of a header.
#
#   tools/public_names.py build/release engine/FFmpeg.h TCustomFFmpeg
import json
import subprocess
import sys
from pathlib import Path


def records(node, found):
    if node.get("kind") == "CXXRecordDecl" and node.get("completeDefinition"):
        found.setdefault(node["name"], node) if "name" in node else None
    for child in node.get("inner", []):
        records(child, found)


def dump(build, header, name):
    includes = sorted(str(p) for p in Path(build, "include").iterdir())
    ast = subprocess.run(
        ["clang++", "-std=c++20", "-fsyntax-only", "-x", "c++", header, "-Xclang",
         "-ast-dump=json", "-Xclang", f"-ast-dump-filter={name}"]
        + [f"-I{p}" for p in includes], capture_output=True, text=True).stdout
    found = {}
    decoder = json.JSONDecoder()
    pos = 0
    while pos < len(ast):
        while pos < len(ast) and ast[pos] != "{":
            pos += 1
        if pos >= len(ast):
            break
        node, pos = decoder.raw_decode(ast, pos)
        records(node, found)
    return found


def main():
    build, header, name = sys.argv[1:4]
    found = {}
    total = 0
    todo, seen = [name], set()
    while todo:
        cls = todo.pop()
        if cls in seen:
            continue
        found.update(dump(build, header, cls))
        seen.add(cls)
        rec = found[cls]
        access = "private" if rec.get("tagUsed") == "class" else "public"
        names, friends = set(), 0
        for child in rec.get("inner", []):
            kind = child.get("kind")
            if kind == "AccessSpecDecl":
                access = child["access"]
            elif kind == "FriendDecl":
                friends += 1
            elif child.get("isImplicit") or kind == "CXXRecordDecl" and child.get("name") == cls:
                continue
            elif access == "public" and "name" in child and kind != "CXXDestructorDecl":
                names.add(child["name"])
        print(f"{cls}: {len(names)} public names, {friends} friends")
        total += len(names)
        for base in rec.get("bases", []):
            if base.get("access") == "public":
                todo.append(base["type"]["qualType"].split("::")[-1])
    print(f"total public names (bases included): {total}")


if __name__ == "__main__":
    main()
