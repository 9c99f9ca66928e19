#!/usr/bin/env python3
"""The product's sources name every header by a path the build gives them, never by a path of their own.

Each area of the library, the data layer and the hosts see only the include folders CMake gives them, so
an include across a forbidden line fails to compile. A quoted include that climbs out of its own folder
("../../link/calibrator/x.h") or names an absolute path is found without those folders and would slip
past that rule; this check refuses it.

usage: check-includes.py [REPO]     exit status 1 and one line per offending include, 0 when none
"""
import os
import re
import sys

PRODUCT = ("link", "lab", "workstation", "cli", "xlsxgen", "sim", "host", "common")
SOURCE = (".h", ".hpp", ".c", ".cpp", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def offending(root):
    for top in PRODUCT:
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if not name.endswith(SOURCE):
                    continue
                path = os.path.join(folder, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if m and (m.group(1).startswith(("../", "/")) or "/../" in m.group(1)):
                            yield "%s:%d: %s" % (os.path.relpath(path, root), number, line.strip())


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    found = list(offending(root))
    for line in found:
        print(line)
    if found:
        print("%d include(s) bypass the build's include folders: name the header by its path from the "
              "folder the build gives (e.g. \"calibrator/verification.h\" inside link/)" % len(found))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
