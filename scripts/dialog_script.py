#!/usr/bin/env python3
"""The stub's dialog templates as src/ui/resources.rc draws them: the one
place they are written down. The image test compares the templates windres
compiled into the stub with what this reads, and the host platform layer's
dialog manager is built from the table this writes.

Usage: dialog_script.py RESOURCES.RC RESOURCE_IDS.H --host-table OUT.inc
"""
import re
import sys

# The window, dialog and control styles the script uses (winuser.h values).
STYLES = {
    'WS_POPUP': 0x80000000, 'WS_VISIBLE': 0x10000000, 'WS_CAPTION': 0x00C00000,
    'WS_SYSMENU': 0x00080000, 'WS_MINIMIZEBOX': 0x00020000, 'WS_CHILD': 0x40000000,
    'WS_TABSTOP': 0x00010000, 'WS_GROUP': 0x00020000, 'WS_BORDER': 0x00800000,
    'WS_VSCROLL': 0x00200000,
    'DS_MODALFRAME': 0x80, 'DS_SETFONT': 0x40, 'DS_3DLOOK': 0x04, 'DS_CENTER': 0x800,
    'BS_PUSHBUTTON': 0, 'BS_DEFPUSHBUTTON': 1, 'SS_LEFT': 0, 'SS_ICON': 3,
    'ES_MULTILINE': 0x4, 'ES_AUTOVSCROLL': 0x40, 'ES_AUTOHSCROLL': 0x80, 'ES_PASSWORD': 0x20,
    'ES_READONLY': 0x800, 'ES_WANTRETURN': 0x1000,
}
# The predefined control classes, by the ordinals a compiled template uses.
CLASS_ORDINALS = {'BUTTON': 0x80, 'EDIT': 0x81, 'STATIC': 0x82}


class Control:
    def __init__(self, ident, cls, style, rect, text):
        self.ident, self.cls, self.style, self.rect, self.text = ident, cls, style, rect, text

    def is_icon(self):
        """An icon shows the resource its text names, not the text."""
        return self.cls == 'STATIC' and (self.style & 0x1F) == STYLES['SS_ICON']

    def compiled(self):
        """As a compiled template holds it: (id, class ordinal, style, rect, text)."""
        return (self.ident, CLASS_ORDINALS[self.cls], self.style, self.rect, self.text)


class Dialog:
    def __init__(self, name, rect):
        self.name, self.rect = name, rect
        self.style, self.caption, self.font, self.controls = 0, '', None, []


def read_ids(path):
    ids = {}
    with open(path) as f:
        for line in f:
            m = re.match(r'\s*#define\s+(\w+)\s+(\d+)', line)
            if m:
                ids[m.group(1)] = int(m.group(2))
    return ids


def style_value(text):
    value = 0
    for name in text.split('|'):
        value |= STYLES[name.strip()]
    return value


def numbers(text):
    return tuple(int(n) for n in text.split(','))


def read_dialogs(rc_path, ids_path):
    """Every DIALOG of the script, in order, by name."""
    ids = read_ids(ids_path)
    dialogs, dialog = {}, None
    with open(rc_path) as f:
        for raw in f:
            line = raw.strip()
            m = re.match(r'(\w+)\s+DIALOG\s+([\d, ]+)$', line)
            if m:
                dialog = Dialog(m.group(1), numbers(m.group(2)))
                dialogs[dialog.name] = dialog
                continue
            if dialog is None:
                continue
            if line.startswith('STYLE '):
                dialog.style = style_value(line[6:])
            elif line.startswith('CAPTION '):
                dialog.caption = re.match(r'CAPTION\s+"(.*)"$', line).group(1)
            elif line.startswith('FONT '):
                m = re.match(r'FONT\s+(\d+),\s*"(.*)"$', line)
                dialog.font = (int(m.group(1)), m.group(2))
            elif line.startswith('CONTROL '):
                m = re.match(r'CONTROL\s+"(.*?)",\s*(\w+),\s*"(\w+)",\s*([^,]+),\s*([\d, ]+)$', line)
                ident = ids.get(m.group(2)) if not m.group(2).isdigit() else int(m.group(2))
                dialog.controls.append(Control(ident, m.group(3).upper(), style_value(m.group(4)),
                                               numbers(m.group(5)), m.group(1)))
            elif line == 'END':
                dialog = None
    return dialogs


def c_string(text):
    return '"' + text.replace('\\', '\\\\').replace('"', '\\"') + '"'


def host_table(dialogs):
    """The templates as the host layer's dialog manager builds its windows."""
    lines = ['// Written by scripts/dialog_script.py from src/ui/resources.rc: edit the',
             '// script, not this file.']
    for d in dialogs.values():
        controls = ', '.join(
            '{%d, %s, %s, %s}' % (c.ident, 'true' if c.cls == 'BUTTON' else 'false',
                                  c_string('' if c.is_icon() else c.text),
                                  'true' if c.cls == 'EDIT' else 'false')
            for c in d.controls)
        lines.append('{%s, %s, %d, %d, {%s}},' % (c_string(d.name), c_string(d.caption),
                                                  d.rect[2], d.rect[3], controls))
    return '\n'.join(lines) + '\n'


def main():
    if len(sys.argv) != 5 or sys.argv[3] != '--host-table':
        sys.exit(__doc__.strip().splitlines()[-1])
    table = host_table(read_dialogs(sys.argv[1], sys.argv[2]))
    with open(sys.argv[4], 'w') as f:
        f.write(table)


if __name__ == '__main__':
    main()
