#!/usr/bin/env python3
"""Checks of the stub image: its size, what it imports, its subsystem
version, the bytes it must never hold, and its dialog templates and icon."""
import re
import shutil
import struct
import subprocess
import sys
import unittest

STUB = sys.argv.pop(1) if len(sys.argv) > 1 else 'build/bin/vantrel-stub.exe'
HEADER_OFFSET = 35328

# Functions that every target system (Windows 95 and NT 4.0 onwards) exports.
ALLOWED_IMPORTS = {
    'KERNEL32.DLL': {
        'CreateFileA', 'ReadFile', 'WriteFile', 'SetFilePointer', 'GetFileSize', 'CloseHandle',
        'DeleteFileA', 'CreateDirectoryA', 'RemoveDirectoryA', 'FindFirstFileA', 'FindClose',
        'GetFileAttributesA', 'SetFileTime', 'DosDateTimeToFileTime', 'LocalFileTimeToFileTime',
        'GetTempPathA', 'GetSystemDirectoryA', 'GetWindowsDirectoryA', 'GetCurrentDirectoryA',
        'SetCurrentDirectoryA', 'GetModuleFileNameA', 'GetModuleHandleA', 'GetVersionExA',
        'CreateProcessA', 'GetExitCodeProcess', 'GetCurrentProcess', 'GetCurrentThread',
        'GetLastError', 'SetLastError', 'ExitProcess', 'GetProcessHeap', 'HeapAlloc', 'HeapFree',
    },
    'USER32.DLL': {
        'DialogBoxParamA', 'EndDialog', 'GetDlgItem', 'GetDlgItemTextA', 'SendMessageA',
        'SetWindowTextA', 'SetFocus', 'SetForegroundWindow', 'EnableWindow', 'GetWindowRect',
        'GetSystemMetrics', 'SetWindowPos', 'PeekMessageA', 'TranslateMessage',
        'DispatchMessageA', 'MessageBoxA', 'MsgWaitForMultipleObjects',
    },
    'ADVAPI32.DLL': {
        'OpenThreadToken', 'OpenProcessToken', 'GetTokenInformation', 'AllocateAndInitializeSid',
        'EqualSid', 'FreeSid',
    },
}

# What a Pentium (without MMX) cannot run: the Pentium Pro's CMOVcc, FCMOVcc,
# FCOMI/FUCOMI, UD2, SYSENTER and multi-byte NOP, and any MMX or SSE code.
LATER_THAN_PENTIUM = re.compile(
    r'^(cmov|fcmov|fcomi|fucomi|ud2|sysenter|sysexit|nopw|nopl|emms|movq|movd|prefetch|'
    r'lfence|mfence|sfence|clflush)|%x?mm\d|%ymm')

WS_POPUP, WS_VISIBLE, WS_CAPTION, WS_SYSMENU = 0x80000000, 0x10000000, 0x00C00000, 0x00080000
WS_MINIMIZEBOX, WS_CHILD, WS_TABSTOP, WS_GROUP = 0x00020000, 0x40000000, 0x00010000, 0x00020000
WS_BORDER, WS_VSCROLL = 0x00800000, 0x00200000
DS_MODALFRAME, DS_SETFONT, DS_3DLOOK, DS_CENTER = 0x80, 0x40, 0x04, 0x800
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, SS_LEFT, SS_ICON = 0, 1, 0, 3
ES_MULTILINE, ES_AUTOVSCROLL, ES_AUTOHSCROLL = 0x4, 0x40, 0x80
ES_PASSWORD, ES_READONLY, ES_WANTRETURN = 0x20, 0x800, 0x1000
BUTTON, EDIT, STATIC = 0x80, 0x81, 0x82
# A class may be written by name or by its predefined ordinal; both mean the same.
CLASS_ORDINALS = {'BUTTON': BUTTON, 'EDIT': EDIT, 'STATIC': STATIC}
CHILD = WS_CHILD | WS_VISIBLE

# Each dialog as drawn: style, caption, (x, y, cx, cy), font, and its
# controls in tab order: id, class, style, (x, y, cx, cy), text.
DIALOGS = {
    'DLG_MAIN': (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME
                 | DS_SETFONT | DS_3DLOOK | DS_CENTER,
                 'Self-extracting Archive', (6, 78, 296, 83), [
                     (3003, STATIC, CHILD | SS_ICON, (5, 8, 18, 20), 'MNICON'),
                     (1, BUTTON, CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP, (249, 13, 43, 15), '&Install'),
                     (2, BUTTON, CHILD | BS_PUSHBUTTON | WS_TABSTOP, (249, 33, 43, 15), '&Close'),
                     (3002, STATIC, CHILD | SS_LEFT | WS_GROUP, (32, 6, 212, 75), ''),
                 ]),
    'DLG_LIC': (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
                | DS_3DLOOK | DS_CENTER,
                'Lic..', (17, 23, 315, 157), [
                    (2004, STATIC, CHILD | SS_LEFT, (10, 123, 297, 22), 'To cont....'),
                    (2, BUTTON, CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP, (168, 140, 55, 14), 'Cancel'),
                    (1, BUTTON, CHILD | BS_PUSHBUTTON | WS_TABSTOP, (103, 140, 55, 14), 'I agree'),
                    (2002, EDIT, CHILD | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_READONLY
                     | ES_WANTRETURN | WS_BORDER | WS_VSCROLL | WS_TABSTOP, (9, 7, 296, 109), ''),
                ]),
    'DLG_PASS': (WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SETFONT | DS_3DLOOK
                 | DS_CENTER,
                 'Enter pw...', (12, 26, 191, 41), [
                     # Scrolls, so that passwords wider than the field can be typed.
                     (101, EDIT, CHILD | ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP,
                      (5, 6, 181, 12), ''),
                     (1, BUTTON, CHILD | BS_PUSHBUTTON | WS_TABSTOP, (62, 24, 32, 13), '&Ok'),
                     (2, BUTTON, CHILD | BS_PUSHBUTTON | WS_TABSTOP, (102, 24, 35, 13), '&Cancel'),
                 ]),
}


class PeImage:
    def __init__(self, data):
        self.data = data
        self.pe = struct.unpack_from('<I', data, 0x3C)[0]
        assert data[self.pe:self.pe + 4] == b'PE\0\0'
        self.sections_count = struct.unpack_from('<H', data, self.pe + 6)[0]
        optional_size = struct.unpack_from('<H', data, self.pe + 20)[0]
        self.optional = self.pe + 24
        self.sections = []
        at = self.optional + optional_size
        for i in range(self.sections_count):
            name, vsize, va, rawsize, rawptr = struct.unpack_from('<8sIIII', data, at + 40 * i)
            self.sections.append((va, max(vsize, rawsize), rawptr))

    def u16(self, off):
        return struct.unpack_from('<H', self.data, off)[0]

    def u32(self, off):
        return struct.unpack_from('<I', self.data, off)[0]

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError(f'rva {rva:#x} outside every section')

    def directory(self, index):
        rva, size = struct.unpack_from('<II', self.data, self.optional + 96 + 8 * index)
        return rva, size

    def cstring(self, off):
        end = self.data.index(b'\0', off)
        return self.data[off:end].decode('latin-1')

    def imports(self):
        rva, _ = self.directory(1)
        result = {}
        at = self.offset(rva)
        while True:
            lookup, _, _, name_rva, thunk = struct.unpack_from('<IIIII', self.data, at)
            if name_rva == 0:
                break
            dll = self.cstring(self.offset(name_rva)).upper()
            names = set()
            t = self.offset(lookup or thunk)
            while self.u32(t):
                entry = self.u32(t)
                if entry & 0x80000000:
                    names.add(f'#ordinal {entry & 0xFFFF}')
                else:
                    names.add(self.cstring(self.offset(entry) + 2))
                t += 4
            result[dll] = names
            at += 20
        return result

    def resources(self):
        """{type: {name: data}} for the first language of each resource."""
        rva, _ = self.directory(2)
        base = self.offset(rva)

        def entries(directory):
            named, ids = struct.unpack_from('<HH', self.data, directory + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from('<II', self.data, directory + 16 + 8 * i)
                if name & 0x80000000:
                    at = base + (name & 0x7FFFFFFF)
                    n = self.u16(at)
                    key = self.data[at + 2:at + 2 + 2 * n].decode('utf-16-le')
                else:
                    key = name
                yield key, target

        result = {}
        for rtype, t in entries(base):
            result[rtype] = {}
            for rname, n in entries(base + (t & 0x7FFFFFFF)):
                _, leaf = next(entries(base + (n & 0x7FFFFFFF)))
                data_rva, size = struct.unpack_from('<II', self.data, base + leaf)
                at = self.offset(data_rva)
                result[rtype][rname] = self.data[at:at + size]
        return result


def parse_sz_or_ord(data, at):
    first = struct.unpack_from('<H', data, at)[0]
    if first == 0xFFFF:
        return struct.unpack_from('<H', data, at + 2)[0], at + 4
    end = at
    while struct.unpack_from('<H', data, end)[0] != 0:
        end += 2
    return data[at:end].decode('utf-16-le'), end + 2


def parse_dialog(data):
    style, _, count, x, y, cx, cy = struct.unpack_from('<IIHhhhh', data, 0)
    at = 18
    _, at = parse_sz_or_ord(data, at)  # menu
    _, at = parse_sz_or_ord(data, at)  # class
    caption, at = parse_sz_or_ord(data, at)
    font = None
    if style & DS_SETFONT:
        size = struct.unpack_from('<H', data, at)[0]
        face, at = parse_sz_or_ord(data, at + 2)
        font = (size, face)
    controls = []
    for _ in range(count):
        at = (at + 3) & ~3
        cstyle, _, x1, y1, cx1, cy1, cid = struct.unpack_from('<IIhhhhH', data, at)
        at += 18
        cls, at = parse_sz_or_ord(data, at)
        cls = CLASS_ORDINALS.get(cls.upper(), cls) if isinstance(cls, str) else cls
        text, at = parse_sz_or_ord(data, at)
        extra = struct.unpack_from('<H', data, at)[0]
        at += 2 + extra
        controls.append((cid, cls, cstyle, (x1, y1, cx1, cy1), text))
    return style, caption, (x, y, cx, cy), font, controls


class StubImage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(STUB, 'rb') as f:
            cls.data = f.read()
        cls.image = PeImage(cls.data)

    def test_size_is_exactly_the_header_offset(self):
        self.assertEqual(HEADER_OFFSET, len(self.data))

    def test_never_holds_a_local_header_signature(self):
        self.assertNotIn(b'PK\x03\x04', self.data)

    def test_is_a_32_bit_gui_program_for_subsystem_4_0(self):
        machine = self.image.u16(self.image.pe + 4)
        self.assertEqual(0x14C, machine)
        major = self.image.u16(self.image.optional + 48)
        minor = self.image.u16(self.image.optional + 50)
        subsystem = self.image.u16(self.image.optional + 68)
        self.assertEqual((4, 0), (major, minor))
        self.assertEqual(2, subsystem)

    def test_imports_only_functions_every_target_system_has(self):
        imports = self.image.imports()
        self.assertLessEqual(set(imports), set(ALLOWED_IMPORTS))
        for dll, names in imports.items():
            self.assertLessEqual(names, ALLOWED_IMPORTS[dll], dll)

    def test_uses_only_instructions_a_pentium_has(self):
        objdump = shutil.which('i686-w64-mingw32-objdump') or 'objdump'
        listing = subprocess.run([objdump, '-d', '--no-show-raw-insn', STUB], capture_output=True,
                                 text=True, check=True).stdout
        later = set()
        for line in listing.splitlines():
            fields = line.split('\t')
            if len(fields) >= 2 and fields[0].strip().endswith(':'):
                if LATER_THAN_PENTIUM.search(fields[1].strip()):
                    later.add(fields[1].split()[0])
        self.assertEqual(set(), later)

    def test_dialogs_are_as_drawn(self):
        dialogs = self.image.resources()[5]
        for name, (style, caption, rect, controls) in DIALOGS.items():
            with self.subTest(dialog=name):
                got_style, got_caption, got_rect, font, got_controls = parse_dialog(dialogs[name])
                self.assertEqual(style, got_style)
                self.assertEqual(caption, got_caption)
                self.assertEqual(rect, got_rect)
                self.assertEqual((8, 'MS Sans Serif'), font)
                self.assertEqual(controls, got_controls)

    def test_icon_is_one_32_by_32_image_of_16_colours(self):
        resources = self.image.resources()
        group = resources[14]['MNICON']
        _, kind, count = struct.unpack_from('<HHH', group, 0)
        self.assertEqual((1, 1), (kind, count))
        width, height, colours, _, planes, bits, _, icon_id = struct.unpack_from('<BBBBHHIH', group, 6)
        self.assertEqual((32, 32, 16, 4), (width, height, colours, bits))
        bitmap = resources[3][icon_id]
        self.assertEqual(4, struct.unpack_from('<H', bitmap, 14)[0])


if __name__ == '__main__':
    unittest.main()
