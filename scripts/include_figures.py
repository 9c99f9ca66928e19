#!/usr/bin/env python3
"""Figures about the layering of the sources, counted from their #include "..." lines.

  cli -> workstation   includes in cli/ whose header lives under workstation/
  screens back up      include arrows inside workstation/screens that run back up: from one file pair
                       (X.h + X.cpp) to a pair that includes it, directly or through others (the
                       arrow closes a cycle), or to a pair that stands higher (its header sits on a
                       longer chain of headers of the folder than the including pair's header)
  largest folder       the top-level folder with the most lines of product code (.h/.c/.cpp, blank
                       lines not counted; tests/, bench/, fuzz/ and examples/ are not product code)
                       and its share of all of it

Usage: scripts/include_figures.py [--list] [REPO]   (REPO: the repository's root, default: this one)
"""
import collections
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCE = ('.h', '.hpp', '.c', '.cpp')
NOT_PRODUCT = {'tests', 'bench', 'fuzz', 'examples', 'build', 'docs', 'scripts'}


def includes(path):
    with open(path, encoding='utf-8', errors='replace') as f:
        for line in f:
            m = INCLUDE.match(line)
            if m:
                yield m.group(1)


def source_files(root):
    for top, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if not d.startswith('.') and d != 'build' and not d.startswith('build')]
        for name in files:
            if name.endswith(SOURCE):
                yield os.path.relpath(os.path.join(top, name), root)


def cli_into_workstation(root, files):
    by_name = collections.defaultdict(list)
    for f in files:
        by_name[os.path.basename(f)].append(f)
    hits = []
    for f in files:
        if not f.startswith('cli' + os.sep):
            continue
        for inc in includes(os.path.join(root, f)):
            beside = os.path.normpath(os.path.join(os.path.dirname(f), inc))
            target = beside if beside in files else None
            if target is None:
                candidates = [c for c in by_name.get(os.path.basename(inc), []) if c.endswith(inc)]
                target = candidates[0] if len(candidates) == 1 else None
                if len(candidates) > 1:
                    target = next((c for c in candidates if c.startswith('workstation' + os.sep)), candidates[0])
            if target and target.startswith('workstation' + os.sep):
                hits.append((f, inc))
    return hits


def screens_back_up(folder):
    names = [n for n in os.listdir(folder) if n.endswith(SOURCE)]
    pair = lambda n: os.path.splitext(n)[0]
    arrows = []
    for n in names:
        for inc in includes(os.path.join(folder, n)):
            if inc in names and pair(inc) != pair(n):
                arrows.append((n, inc))
    graph = collections.defaultdict(set)
    headers = collections.defaultdict(set)
    for a, b in arrows:
        graph[pair(a)].add(pair(b))
        if a.endswith(('.h', '.hpp')):
            headers[a].add(b)

    def reaches(start):
        seen, todo = set(), [start]
        while todo:
            for nxt in graph[todo.pop()]:
                if nxt not in seen:
                    seen.add(nxt)
                    todo.append(nxt)
        return seen

    level_cache = {}

    def level(header, stack=()):
        if header in level_cache:
            return level_cache[header]
        if header in stack:  # a cycle of headers: counted by the cycle rule
            return 0
        below = [level(h, stack + (header,)) for h in headers[header]]
        level_cache[header] = 1 + max(below) if below else 0
        return level_cache[header]

    def pair_level(n):
        for h in (pair(n) + '.h', pair(n) + '.hpp'):
            if h in names:
                return level(h)
        return 0

    back = [(a, b) for a, b in arrows if pair(a) in reaches(pair(b)) or level(b) > pair_level(a)]
    return arrows, back


def largest_folder(root, files):
    lines = collections.Counter()
    for f in files:
        top = f.split(os.sep)[0]
        if os.sep not in f or top in NOT_PRODUCT:
            continue
        with open(os.path.join(root, f), encoding='utf-8', errors='replace') as fh:
            lines[top] += sum(1 for line in fh if line.strip())
    total = sum(lines.values())
    top, n = lines.most_common(1)[0]
    return top, n, total, lines


def main(argv):
    show = '--list' in argv
    args = [a for a in argv if a != '--list']
    root = os.path.abspath(args[0] if args else os.path.join(os.path.dirname(__file__), '..'))
    files = sorted(source_files(root))
    hits = cli_into_workstation(root, files)
    print(f'includes from cli/ into workstation/: {len(hits)}')
    if show:
        for f, inc in hits:
            print(f'    {f} -> {inc}')
    arrows, back = screens_back_up(os.path.join(root, 'workstation', 'screens'))
    print(f'include arrows inside workstation/screens running back up: {len(back)} of {len(arrows)}')
    if show:
        for a, b in sorted(back):
            print(f'    {a} -> {b}')
    top, n, total, lines = largest_folder(root, files)
    print(f'largest top-level folder: {top}/ {n} of {total} lines of product code ({100.0 * n / total:.0f} %)')
    if show:
        for name, count in lines.most_common():
            print(f'    {name}/ {count}')


if __name__ == '__main__':
    main(sys.argv[1:])
