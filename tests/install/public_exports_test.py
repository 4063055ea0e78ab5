#!/usr/bin/env python3
"""Checks the public headers against the shared library.

Each header under include/vqscw/ must compile on its own with nothing but that folder on the
include path, and every function and data item it declares (leaving out what is defined inline,
constexpr, deleted or pure) must be in libvqscwlib.so's dynamic symbol table, so that a host
calling any of them links. Usage: public_exports_test.py LIBRARY INCLUDE_DIR CLANG
"""
import json
import os
import subprocess
import sys
import tempfile

FUNCTIONS = {"FunctionDecl", "CXXMethodDecl", "CXXConstructorDecl", "CXXDestructorDecl"}


def exported_symbols(library):
    out = subprocess.run(["nm", "-D", "--defined-only", library], check=True,
                         capture_output=True, text=True).stdout
    return {line.split()[-1] for line in out.splitlines() if line.strip()}


class Walker:
    """Walks a clang JSON AST in document order. Locations name their file only when it changes
    from the location printed before, so the current file is carried along."""

    def __init__(self, public_dir):
        self.public_dir = os.path.realpath(public_dir)
        self.file = ""
        self.required = {}  # mangled name -> what declares it

    def note_location(self, loc):
        if not isinstance(loc, dict):
            return
        for key in ("spellingLoc", "expansionLoc"):
            self.note_location(loc.get(key))
        if "file" in loc:
            self.file = loc["file"]

    def in_public_header(self):
        return os.path.realpath(self.file).startswith(self.public_dir + os.sep)

    def walk(self, node, record="", abstract=False):
        if isinstance(node, list):
            for item in node:
                self.walk(item, record, abstract)
            return
        if not isinstance(node, dict):
            return
        self.note_location(node.get("loc"))
        rng = node.get("range", {})
        self.note_location(rng.get("begin"))
        self.note_location(rng.get("end"))
        kind = node.get("kind")
        public = self.in_public_header()
        if kind in FUNCTIONS and public and self.needs_export(node):
            name = node["mangledName"]
            # An abstract class is never a complete object: its subclasses call the base-object
            # constructor (C2), and compilers need not emit the complete-object one (C1).
            if kind == "CXXConstructorDecl" and abstract:
                name = name.replace("C1E", "C2E", 1)
            self.required[name] = f"{record}{node.get('name')} ({self.file})"
        if kind == "VarDecl" and public and node.get("storageClass") == "extern":
            self.required[node["mangledName"]] = f"{node.get('name')} ({self.file})"
        if kind in ("CXXRecordDecl", "ClassTemplateDecl"):
            record = node.get("name", "") + "::"
            abstract = bool(node.get("definitionData", {}).get("isAbstract"))
        self.walk(node.get("inner", []), record, abstract)

    @staticmethod
    def needs_export(node):
        if node.get("isImplicit") or node.get("inline") or node.get("constexpr"):
            return False
        if node.get("explicitlyDeleted") or node.get("explicitlyDefaulted") or node.get("pure"):
            return False
        # A definition in the header (a body) is inline.
        return not any(child.get("kind") == "CompoundStmt" for child in node.get("inner", []))


def main():
    library, include_dir, clang = sys.argv[1:4]
    include_dir = os.path.abspath(include_dir)
    headers = sorted(h for h in os.listdir(os.path.join(include_dir, "vqscw")) if h.endswith(".h"))
    symbols = exported_symbols(library)
    walker = Walker(os.path.join(include_dir, "vqscw"))
    failures = 0
    with tempfile.TemporaryDirectory() as scratch:
        for header in headers:
            unit = os.path.join(scratch, header + ".cpp")
            with open(unit, "w") as f:
                f.write(f'#include "vqscw/{header}"\n')
            # -nostdinc++ is not used: the standard library is a host's too, nothing else is.
            result = subprocess.run(
                [clang, "-std=c++20", "-Wall", "-Wextra", "-Werror", "-I", include_dir,
                 "-fsyntax-only", "-Xclang", "-ast-dump=json", unit],
                capture_output=True, text=True, cwd=scratch)
            if result.returncode != 0:
                print(f"vqscw/{header} does not compile on its own:\n{result.stderr}")
                failures += 1
                continue
            walker.file = ""
            walker.walk(json.loads(result.stdout))
    missing = sorted(what for name, what in walker.required.items() if name not in symbols)
    for what in missing:
        print(f"declared in a public header but not exported: {what}")
    if len(walker.required) < 50:
        print(f"only {len(walker.required)} declarations found: the walk is broken")
        failures += 1
    if failures or missing:
        return 1
    print(f"{len(headers)} public headers compile on their own; "
          f"all {len(walker.required)} declared functions and data items are exported")
    return 0


if __name__ == "__main__":
    sys.exit(main())
