#!/usr/bin/env python3
"""Checks of the stub image: its size, what it imports, the bytes it must
never hold, its dialog templates and icon, and every header field the
Windows 95 and Windows NT 4.0 loaders read (from Microsoft's "PE Format"
document, learn.microsoft.com/windows/win32/debug/pe-format)."""
import os
import re
import shutil
import struct
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ElementTree

try:
    import pefile
except ImportError:  # Debian's python3-pefile, under another interpreter than the system's
    sys.path.append('/usr/lib/python3/dist-packages')
    import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'scripts'))
from dialog_script import CLASS_ORDINALS, STYLES, read_dialogs  # noqa: E402

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'src', 'ui')

STUB = sys.argv.pop(1) if len(sys.argv) > 1 else 'build/bin/vantrel-stub.exe'
HEADER_OFFSET = 35328

# What a Pentium (without MMX) cannot run: the Pentium Pro's CMOVcc, FCMOVcc,
# FCOMI/FUCOMI, UD2, SYSENTER and multi-byte NOP, and any MMX or SSE code.
LATER_THAN_PENTIUM = re.compile(
    r'^(cmov|fcmov|fcomi|fucomi|ud2|sysenter|sysexit|nopw|nopl|emms|movq|movd|prefetch|'
    r'lfence|mfence|sfence|clflush)|%x?mm\d|%ymm')

# Functions that every target system (Windows 95 and NT 4.0 onwards) exports.
ALLOWED_IMPORTS = {
    'KERNEL32.DLL': {
        'CreateFileA', 'ReadFile', 'WriteFile', 'SetFilePointer', 'GetFileSize', 'CloseHandle',
        'DeleteFileA', 'CreateDirectoryA', 'RemoveDirectoryA', 'FindFirstFileA', 'FindClose',
        'GetFileAttributesA', 'SetFileTime', 'DosDateTimeToFileTime', 'LocalFileTimeToFileTime',
        'GetTempPathA', 'GetSystemDirectoryA', 'GetWindowsDirectoryA', 'GetCurrentDirectoryA',
        'SetCurrentDirectoryA', 'GetModuleFileNameA', 'GetModuleHandleA', 'GetCommandLineA',
        'GetVersionExA', 'CreateProcessA', 'GetExitCodeProcess', 'GetCurrentProcess',
        'GetCurrentThread', 'GetLastError', 'SetLastError', 'ExitProcess', 'GetProcessHeap',
        'HeapAlloc', 'HeapFree', 'WaitForSingleObject', 'GetShortPathNameA', 'LoadLibraryA',
        'GetProcAddress',
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

# The resource types Windows XP and later read and Windows 95 to 2000 pass over.
RT_VERSION, RT_MANIFEST = 16, 24
ASM_V1, ASM_V2 = 'urn:schemas-microsoft-com:asm.v1', 'urn:schemas-microsoft-com:asm.v2'
COMPATIBILITY = 'urn:schemas-microsoft-com:compatibility.v1'
# supportedOS: Windows Vista, 7, 8, 8.1, and 10/11.
SUPPORTED_OS = {'{e2011457-1546-43c5-a5fe-008deee3d3f0}', '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}',
                '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}', '{1f676c76-80e1-4239-95bb-83d0f6d0da78}',
                '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'}
LONGEST_LEVEL = 'requireAdministrator'

# Section characteristics.
SCN_CNT_CODE, SCN_MEM_EXECUTE, SCN_MEM_READ = 0x20, 0x20000000, 0x40000000
SCN_MEM_WRITE, SCN_MEM_SHARED = 0x80000000, 0x10000000
# Meaningful in object files only: LNK_INFO, LNK_REMOVE, LNK_COMDAT, the ALIGN
# values, LNK_NRELOC_OVFL; and TYPE_NO_PAD, which is obsolete.
SCN_OBJECT_ONLY = 0x200 | 0x800 | 0x1000 | 0x00F00000 | 0x01000000 | 0x8

# Data directories a Windows 95 or NT 4.0 loader cannot take from this
# image: exception (x86 has none), certificate, debug, architecture, global
# pointer, TLS (callbacks), load configuration (its layout grew after NT
# 4.0), bound imports (addresses of other systems' DLLs), delay imports and
# the CLR header.
EMPTY_DIRECTORIES = {3: 'exception', 4: 'certificate', 6: 'debug', 7: 'architecture',
                     8: 'global pointer', 9: 'TLS', 10: 'load configuration',
                     11: 'bound import', 13: 'delay import', 14: 'CLR runtime', 15: 'reserved'}
# DllCharacteristics that change how a later Windows loads the image:
# FORCE_INTEGRITY refuses an unsigned image, APPCONTAINER confines it,
# GUARD_CF needs a load configuration.
DLL_FORCE_INTEGRITY, DLL_APPCONTAINER, DLL_GUARD_CF, DLL_DYNAMIC_BASE = 0x80, 0x1000, 0x4000, 0x40
# An executable is the first module mapped into its process, so its base is
# always free: Windows 95 to 2000 never move it, and Vista and later move
# only images marked DYNAMIC_BASE. RELOCS_STRIPPED tells every loader to
# map the image at its base or not at all (PE Format, Characteristics).
FILE_RELOCS_STRIPPED = 0x0001


def align_up(value, alignment):
    return (value + alignment - 1) // alignment * alignment


class PeImage:
    def __init__(self, data):
        self.data = data
        self.pe = struct.unpack_from('<I', data, 0x3C)[0]
        assert data[self.pe:self.pe + 4] == b'PE\0\0'
        self.sections_count = struct.unpack_from('<H', data, self.pe + 6)[0]
        self.optional_size = struct.unpack_from('<H', data, self.pe + 20)[0]
        self.optional = self.pe + 24
        self.sections = []
        self.section_headers = []
        self.section_table = self.optional + self.optional_size
        at = self.section_table
        for i in range(self.sections_count):
            (name, vsize, va, rawsize, rawptr, relocs, lines, nrelocs, nlines,
             flags) = struct.unpack_from('<8sIIIIIIHHI', data, at + 40 * i)
            self.sections.append((va, max(vsize, rawsize), rawptr))
            self.section_headers.append({
                'name': name.rstrip(b'\0'), 'vsize': vsize, 'va': va, 'rawsize': rawsize,
                'rawptr': rawptr, 'relocs': relocs, 'nrelocs': nrelocs, 'lines': lines,
                'nlines': nlines, 'flags': flags})

    def optional_field(self, fmt, offset):
        return struct.unpack_from('<' + fmt, self.data, self.optional + offset)[0]

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

    def import_descriptors(self):
        rva, _ = self.directory(1)
        at = self.offset(rva)
        while True:
            descriptor = struct.unpack_from('<IIIII', self.data, at)
            if descriptor[3] == 0:
                return
            yield descriptor
            at += 20

    def thunks(self, rva):
        at = self.offset(rva)
        while self.u32(at):
            yield self.u32(at)
            at += 4

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
    if style & STYLES['DS_SETFONT']:
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

    def test_file_header_is_that_of_a_32_bit_executable(self):
        image = self.image
        self.assertEqual(b'MZ', self.data[:2])
        self.assertLess(image.pe + 24 + image.optional_size, len(self.data))
        characteristics = image.u16(image.pe + 22)
        self.assertTrue(characteristics & 0x0002, 'IMAGE_FILE_EXECUTABLE_IMAGE')
        self.assertTrue(characteristics & 0x0100, 'IMAGE_FILE_32BIT_MACHINE')
        self.assertFalse(characteristics & 0x2000, 'an executable, not a DLL')
        self.assertEqual(224, image.optional_size)  # the PE32 optional header, 16 directories
        # The Windows loader takes at most 96 sections.
        self.assertTrue(1 <= image.sections_count <= 96)
        # No COFF symbol table in an image.
        self.assertEqual((0, 0), struct.unpack_from('<II', self.data, image.pe + 12))

    def test_optional_header_holds_what_the_oldest_loaders_accept(self):
        image = self.image
        field = image.optional_field
        self.assertEqual(0x10B, field('H', 0), 'PE32 magic')
        image_base, section_alignment, file_alignment = (field('I', 28), field('I', 32),
                                                         field('I', 36))
        # The default image base of Windows 95/98/Me and the NT family; a
        # multiple of 64 KiB below the 2 GiB user space.
        self.assertEqual(0x400000, image_base)
        self.assertEqual(0x1000, section_alignment, 'the x86 page size')
        self.assertIn(file_alignment, (512, 1024, 2048, 4096))
        self.assertLessEqual(file_alignment, section_alignment)
        # Windows NT 4.0 refuses an image that asks for a later system.
        self.assertLessEqual((field('H', 40), field('H', 42)), (4, 0), 'operating system version')
        self.assertLessEqual((field('H', 48), field('H', 50)), (4, 0), 'subsystem version')
        self.assertEqual(0, field('I', 52), 'Win32VersionValue is reserved, must be zero')
        self.assertEqual(0, field('I', 88), 'LoaderFlags is reserved, must be zero')
        self.assertEqual(16, field('I', 92), 'NumberOfRvaAndSizes')
        size_of_image, size_of_headers = field('I', 56), field('I', 60)
        self.assertEqual(0, size_of_image % section_alignment)
        self.assertEqual(0, size_of_headers % file_alignment)
        headers_end = image.section_table + 40 * image.sections_count
        self.assertEqual(align_up(headers_end, file_alignment), size_of_headers)
        last = max(image.section_headers, key=lambda s: s['va'])
        self.assertEqual(align_up(last['va'] + max(last['vsize'], last['rawsize']),
                                  section_alignment), size_of_image)
        reserve, commit = field('I', 72), field('I', 76)
        self.assertLessEqual(commit, reserve)
        characteristics = field('H', 70)
        for flag, name in ((DLL_FORCE_INTEGRITY, 'FORCE_INTEGRITY'),
                           (DLL_APPCONTAINER, 'APPCONTAINER'), (DLL_GUARD_CF, 'GUARD_CF')):
            self.assertFalse(characteristics & flag, name)
        # The image carries no base relocations (the room is the stub's):
        # it says so, so that a loader maps it at its base or refuses it,
        # and it never asks Vista and later to move it.
        self.assertEqual((0, 0), image.directory(5), 'base relocations')
        self.assertTrue(image.u16(image.pe + 22) & FILE_RELOCS_STRIPPED, 'RELOCS_STRIPPED')
        self.assertFalse(characteristics & DLL_DYNAMIC_BASE, 'DYNAMIC_BASE without relocations')
        self.assertNotIn(b'.reloc', [s['name'] for s in image.section_headers])
        # The entry point lies in an executable code section.
        entry = field('I', 16)
        holders = [s for s in image.section_headers if s['va'] <= entry < s['va'] + s['vsize']]
        self.assertEqual(1, len(holders))
        self.assertEqual(SCN_CNT_CODE | SCN_MEM_EXECUTE | SCN_MEM_READ,
                         holders[0]['flags'] & (SCN_CNT_CODE | SCN_MEM_EXECUTE | SCN_MEM_READ))

    def test_sections_are_laid_out_as_the_loaders_map_them(self):
        image = self.image
        section_alignment = image.optional_field('I', 32)
        file_alignment = image.optional_field('I', 36)
        size_of_headers = image.optional_field('I', 60)
        expected_va = align_up(size_of_headers, section_alignment)
        linked_end = 0
        for section in image.section_headers:
            with self.subTest(section=section['name']):
                # Images have no string table: names of eight bytes at most.
                self.assertFalse(section['name'].startswith(b'/'))
                # Ascending, adjacent and page-aligned in memory.
                self.assertEqual(expected_va, section['va'])
                expected_va = align_up(section['va'] + max(section['vsize'], section['rawsize']),
                                       section_alignment)
                self.assertEqual(0, section['rawsize'] % file_alignment)
                if section['rawsize']:
                    self.assertEqual(0, section['rawptr'] % file_alignment)
                    self.assertGreaterEqual(section['rawptr'], size_of_headers)
                    linked_end = max(linked_end, section['rawptr'] + section['rawsize'])
                self.assertEqual((0, 0, 0, 0), (section['relocs'], section['nrelocs'],
                                                section['lines'], section['nlines']))
                flags = section['flags']
                self.assertFalse(flags & SCN_OBJECT_ONLY, hex(flags))
                # Windows 95 maps a shared section into every process.
                self.assertFalse(flags & SCN_MEM_SHARED)
                self.assertTrue(flags & SCN_MEM_READ)
                if flags & SCN_MEM_EXECUTE:
                    self.assertFalse(flags & SCN_MEM_WRITE, 'writable code')
        self.assertLessEqual(linked_end, HEADER_OFFSET)

    def test_no_directory_the_oldest_loaders_cannot_handle(self):
        for index, name in EMPTY_DIRECTORIES.items():
            with self.subTest(directory=name):
                self.assertEqual((0, 0), self.image.directory(index))
        size_of_image = self.image.optional_field('I', 56)
        for index in (1, 2, 5, 12):  # imports, resources, relocations, import address table
            rva, size = self.image.directory(index)
            self.assertLessEqual(rva + size, size_of_image, index)

    def test_imports_are_unbound_and_by_name(self):
        image = self.image
        descriptors = list(image.import_descriptors())
        self.assertTrue(descriptors)
        for lookup, stamp, forwarder, name_rva, thunk in descriptors:
            dll = image.cstring(image.offset(name_rva))
            with self.subTest(dll=dll):
                # A time stamp would tell Windows 95 the addresses are bound
                # to some system's DLLs and used as they stand.
                self.assertEqual(0, stamp)
                self.assertIn(forwarder, (0, 0xFFFFFFFF))
                self.assertNotEqual(0, lookup, 'a lookup table apart from the address table')
                names = list(image.thunks(lookup))
                self.assertEqual(names, list(image.thunks(thunk)), 'address table unbound')
                for entry in names:
                    self.assertFalse(entry & 0x80000000, 'imported by ordinal')

    def test_imports_only_functions_every_target_system_has(self):
        imports = self.image.imports()
        self.assertLessEqual(set(imports), set(ALLOWED_IMPORTS))
        for dll, names in imports.items():
            self.assertLessEqual(names, ALLOWED_IMPORTS[dll], dll)

    def test_dialogs_are_the_resource_scripts(self):
        dialogs = self.image.resources()[5]
        drawn = read_dialogs(os.path.join(SOURCE, 'resources.rc'),
                             os.path.join(SOURCE, 'resource_ids.h'))
        self.assertEqual(set(drawn), set(dialogs))
        for name, dialog in drawn.items():
            with self.subTest(dialog=name):
                got_style, got_caption, got_rect, font, got_controls = parse_dialog(dialogs[name])
                self.assertEqual(dialog.style, got_style)
                self.assertEqual(dialog.caption, got_caption)
                self.assertEqual(dialog.rect, got_rect)
                self.assertEqual(dialog.font, font)
                self.assertEqual([c.compiled() for c in dialog.controls], got_controls)

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

    def test_icon_is_one_32_by_32_image_of_16_colours(self):
        resources = self.image.resources()
        group = resources[14]['MNICON']
        _, kind, count = struct.unpack_from('<HHH', group, 0)
        self.assertEqual((1, 1), (kind, count))
        width, height, colours, _, planes, bits, _, icon_id = struct.unpack_from('<BBBBHHIH', group, 6)
        self.assertEqual((32, 32, 16, 4), (width, height, colours, bits))
        bitmap = resources[3][icon_id]
        self.assertEqual(4, struct.unpack_from('<H', bitmap, 14)[0])

    def manifest(self):
        return self.image.resources()[RT_MANIFEST][1]

    def test_manifest_asks_for_no_elevation_and_keeps_room_for_any_level(self):
        text = self.manifest().decode('utf-8')
        root = ElementTree.fromstring(text)
        self.assertEqual(f'{{{ASM_V1}}}assembly', root.tag)
        level = root.find(f'.//{{{ASM_V2}}}requestedExecutionLevel')
        self.assertEqual('asInvoker', level.get('level'))
        self.assertEqual('false', level.get('uiAccess'))
        # Windows XP SP2 fails on a trustInfo that declares a second
        # namespace (KB921337): one xmlns, no prefixes.
        trust = re.search(r'<trustInfo[^>]*>', text).group(0)
        self.assertEqual(1, trust.count('xmlns'), trust)
        self.assertNotIn('xmlns:', text)
        # The packer writes the package's level over the blanks that follow.
        room = re.search(r'level="asInvoker"( *)', text).group(1)
        self.assertGreaterEqual(len('asInvoker') + len(room), len(LONGEST_LEVEL))

    def test_manifest_names_every_windows_version_since_vista(self):
        root = ElementTree.fromstring(self.manifest())
        ids = {e.get('Id') for e in root.iter(f'{{{COMPATIBILITY}}}supportedOS')}
        self.assertEqual(SUPPORTED_OS, ids)

    def test_an_independent_reader_finds_the_version_strings_and_checksum(self):
        pe = pefile.PE(STUB)
        self.assertEqual(pe.generate_checksum(), pe.OPTIONAL_HEADER.CheckSum)
        strings = {}
        for info in pe.FileInfo[0]:
            for table in getattr(info, 'StringTable', []):
                strings.update(table.entries)
        self.assertEqual(b'Vantrel', strings[b'ProductName'])
        self.assertIn(b'setup', strings[b'FileDescription'])
        self.assertEqual(0xFEEF04BD, pe.VS_FIXEDFILEINFO[0].Signature)
        self.assertIn(1, self.image.resources()[RT_VERSION])


if __name__ == '__main__':
    unittest.main()
