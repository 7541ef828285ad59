#!/usr/bin/env python3
"""Checks that the code depends only downwards.

The stub (src/): every #include "..." in a file of src/TIER/ names a file of
the same tier or of a tier below it. The tiers, bottom to top: platform (the
Win32 subset on the host), core (program state, run-time services, text,
CRC-32, cipher, paths, the progress and report calls), inflate, archive,
install, ui, startup. The one call that goes up, the lower tiers' status
lines and password prompt, is declared in core/progress.h and implemented by
ui, so no include goes up.

vantrel-pack (tools/pack/): its folders are tiers too, bottom to top: cli,
bridge, zip, package, inf, commands (main.cpp above them all). Of the stub's
headers only bridge/ includes any, apart from the constants every folder may
use (core/package_layout.h). And nothing in tools/ may read what the stub
shows a user: no dialog template or control id (ui/), no recorded message
box, status line or event of the host driver, and none of the stub's own
texts written out again.

Usage: check_tiers.py [ROOT]   (the repository; exit status 1 and one line
per fault)
"""
import os
import re
import sys

TIERS = ['platform', 'core', 'inflate', 'archive', 'install', 'ui', 'startup']
TOOL = os.path.join('tools', 'pack')
TOOL_TIERS = ['cli', 'bridge', 'zip', 'package', 'inf', 'commands']
STUB_INCLUDER = 'bridge'
SHARED_HEADERS = {os.path.join('core', 'package_layout.h')}
# How a tool would read what the stub shows: its dialogs and controls, and
# the host driver's record of boxes, texts and events.
SHOWN_TO_USER = re.compile(r'"ui/|\b(?:Events|MessageBoxes|TextHistory|OnDialog|CurrentDialog|'
                           r'OnMessageBox|MessageBoxRecord|IDC_[A-Z_]+|DLG_[A-Za-z]+)\b')
SOURCES = ('.cpp', '.h', '.rc')
INCLUDE = re.compile(r'\s*#\s*include\s+"([^"]+)"')
LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')


def source_files(folder):
    for parent, _, files in os.walk(folder):
        for name in sorted(files):
            if name.endswith(SOURCES):
                yield os.path.join(parent, name)


def includes(path):
    with open(path, errors='replace') as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if m:
                yield number, m.group(1)


def resolve(include, folder, roots):
    """The file an #include "..." names: beside the including file when it
    is there, else below the first root that holds it (the build puts each
    on the search path)."""
    beside = os.path.normpath(os.path.join(folder, include))
    if os.path.exists(beside):
        return beside
    for root in roots:
        candidate = os.path.normpath(os.path.join(root, include))
        if os.path.exists(candidate):
            return candidate
    return beside


def tier_of(path, base, tiers):
    parts = os.path.relpath(path, base).split(os.sep)
    return parts[0] if parts[0] in tiers and not parts[0].startswith('..') else None


def stub_faults(src):
    found = []
    for tier in TIERS:
        for path in source_files(os.path.join(src, tier)):
            for number, include in includes(path):
                target_tier = tier_of(resolve(include, os.path.dirname(path), [src]), src, TIERS)
                if target_tier and TIERS.index(target_tier) > TIERS.index(tier):
                    found.append(f'{path}:{number}: {tier} includes {include} of {target_tier}, '
                                 f'a tier above it')
    return found


def without_comments(text):
    text = re.sub(r'/\*.*?\*/', '', text, flags=re.S)
    return re.sub(r'//[^\n]*', '', text)


def literals(path):
    with open(path, errors='replace') as f:
        lines = [line for line in without_comments(f.read()).split('\n')
                 if not INCLUDE.match(line)]
    return LITERAL.findall('\n'.join(lines))


def stub_texts(src):
    """What the stub shows a user, as its sources write it: every text of
    words (a space and a letter in it), without the line breaks and spaces
    around it."""
    texts = set()
    for tier in TIERS[1:]:
        for path in source_files(os.path.join(src, tier)):
            for text in literals(path):
                text = re.sub(r'^(?:\\[rn]|\s)+|(?:\\[rn]|\s)+$', '', text)
                if len(text) >= 8 and ' ' in text and re.search('[A-Za-z]', text):
                    texts.add(text)
    return texts


def tool_faults(root):
    src, tool = os.path.join(root, 'src'), os.path.join(root, TOOL)
    texts = stub_texts(src)
    found = []
    for path in source_files(tool):
        tier = tier_of(path, tool, TOOL_TIERS)
        rank = TOOL_TIERS.index(tier) if tier else len(TOOL_TIERS)
        where = tier or 'main'
        for number, include in includes(path):
            target = resolve(include, os.path.dirname(path), [tool, src])
            if os.path.relpath(target, src).split(os.sep)[0] in TIERS:
                shared = os.path.relpath(target, src) in SHARED_HEADERS
                if tier != STUB_INCLUDER and not shared:
                    found.append(f'{path}:{number}: {where} includes the stub\'s {include}; only '
                                 f'{STUB_INCLUDER}/ may')
                continue
            target_tier = tier_of(target, tool, TOOL_TIERS)
            if target_tier and TOOL_TIERS.index(target_tier) > rank:
                found.append(f'{path}:{number}: {where} includes {include} of {target_tier}, a '
                             f'tier above it')
        with open(path, errors='replace') as f:
            code = without_comments(f.read())
        for m in SHOWN_TO_USER.finditer(code):
            number = code.count('\n', 0, m.start()) + 1
            found.append(f'{path}:{number}: reads what the stub shows a user ({m.group(0)})')
        for text in literals(path):
            for shown in texts:
                if shown in text:
                    found.append(f'{path}: writes out the stub\'s own text "{shown}"')
    return found


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), '..')
    src = os.path.join(root, 'src')
    missing = [tier for tier in TIERS if not os.path.isdir(os.path.join(src, tier))]
    missing += [os.path.join(TOOL, tier) for tier in TOOL_TIERS
                if not os.path.isdir(os.path.join(root, TOOL, tier))]
    if missing:
        print(f'{root} is not the repository: it has no {", ".join(missing)}')
        return 2
    problems = stub_faults(src) + tool_faults(root)
    for problem in problems:
        print(problem)
    if not problems:
        print('every include of src and tools points to its own tier or one below, and '
              'tools read nothing the stub shows')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
