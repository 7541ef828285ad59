#!/usr/bin/env python3
"""Checks that the stub's tiers depend only downwards: every #include "..."
in a file of src/TIER/ names a file of the same tier or of a tier below it.

The tiers, bottom to top: platform (the Win32 subset on the host), core
(program state, run-time services, text, CRC-32, cipher, paths, the progress
calls), inflate, archive, install, ui, startup. The one call that goes up,
the lower tiers' status lines and password prompt, is declared in
core/progress.h and implemented by ui, so no include goes up.

Usage: check_tiers.py [SRC]   (exit status 1 and one line per upward include)
"""
import os
import re
import sys

TIERS = ['platform', 'core', 'inflate', 'archive', 'install', 'ui', 'startup']


def tier_of(path, src):
    parts = os.path.relpath(path, src).split(os.sep)
    return parts[0] if parts[0] in TIERS else None


def resolve(include, folder, src):
    """The file an #include "..." names: beside the including file when it
    is there, else below src (which the build also puts on the search path)."""
    beside = os.path.normpath(os.path.join(folder, include))
    below_src = os.path.normpath(os.path.join(src, include))
    if not os.path.exists(beside) and os.path.exists(below_src):
        return below_src
    return beside


def upward_includes(src):
    found = []
    for tier in TIERS:
        for folder, _, files in os.walk(os.path.join(src, tier)):
            for name in sorted(files):
                if not name.endswith(('.cpp', '.h', '.rc')):
                    continue
                path = os.path.join(folder, name)
                with open(path, errors='replace') as f:
                    for number, line in enumerate(f, 1):
                        m = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
                        if not m:
                            continue
                        target = resolve(m.group(1), folder, src)
                        target_tier = tier_of(target, src)
                        if target_tier and TIERS.index(target_tier) > TIERS.index(tier):
                            found.append(f'{os.path.relpath(path, src)}:{number}: {tier} '
                                         f'includes {m.group(1)} of {target_tier}, a tier above it')
    return found


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), '..', 'src')
    missing = [tier for tier in TIERS if not os.path.isdir(os.path.join(src, tier))]
    if missing:
        print(f'{src} is not the source folder: it has no {", ".join(missing)}')
        return 2
    problems = upward_includes(src)
    for problem in problems:
        print(problem)
    if not problems:
        print('every include of src points to its own tier or one below')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
