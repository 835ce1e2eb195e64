#!/usr/bin/env python3
"""Check that an executable is a 32-bit x86 Windows console program that
imports only DLLs Windows loads from its own folder, with ASLR and DEP, an
application manifest that asks for no elevation and version information that
names the program, its version and its authors; that its bytes are those of a
reproducible build: no time stamp, a correct checksum, no path of the
machine that built it. Print its size, imports, manifest and version. The
file is read with pefile.

usage: inspect_pe.py PATH.exe [--allow DLL]... [--max-kib N] [--machine x86-64]
                     [--version A.B.C.D] [--no-path DIR]...
Exit status 0 when every check passes, 1 on a failed check, 2 when the
file cannot be read as PE at all."""

import argparse
import struct
import sys
import textwrap
import xml.etree.ElementTree as ET

import pefile

# DLLs the loader never looks for beside the program: the KnownDLLs of every
# Windows from 7 to 11 (mapped from the system's own copy), and ntdll, which
# the system loads into every process before the program. Any other DLL,
# ucrtbase.dll and the api-ms-win-crt-* files of Windows 7 among them, is
# looked for in the program's folder first, where a planted copy would win.
KNOWN_DLLS = {
    'advapi32.dll', 'comdlg32.dll', 'gdi32.dll', 'imagehlp.dll', 'imm32.dll',
    'kernel32.dll', 'msctf.dll', 'msvcrt.dll', 'normaliz.dll', 'nsi.dll',
    'ole32.dll', 'oleaut32.dll', 'psapi.dll', 'rpcrt4.dll', 'sechost.dll',
    'setupapi.dll', 'shell32.dll', 'shlwapi.dll', 'user32.dll', 'wldap32.dll',
    'ws2_32.dll', 'ntdll.dll',
}

# IMAGE_DLLCHARACTERISTICS_*
HIGH_ENTROPY_VA = 0x0020
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
RELOCS_STRIPPED = 0x0001      # IMAGE_FILE_RELOCS_STRIPPED, COFF characteristics
RT_MANIFEST = 24
RT_VERSION = 16

# What the version resource must say.
AUTHORS = 'Orrinvale&Tamsk_Olu'
ORIGINAL_NAME = 'ThistlegardenPatch.exe'
CHINESE_UNICODE = '080404b0'    # Simplified Chinese, UTF-16

ASM_V1 = '{urn:schemas-microsoft-com:asm.v1}'
ASM_V3 = '{urn:schemas-microsoft-com:asm.v3}'
COMPAT = '{urn:schemas-microsoft-com:compatibility.v1}'
WINDOWS_SETTINGS = ('{http://schemas.microsoft.com/SMI/2005/WindowsSettings}',
                    '{http://schemas.microsoft.com/SMI/2016/WindowsSettings}')
SUPPORTED_OS = {
    '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}': 'Windows 7',
    '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}': 'Windows 8',
    '{1f676c76-80e1-4239-95bb-83d0f6d0da78}': 'Windows 8.1',
    '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}': 'Windows 10 and 11',
}

MACHINES = {0x14C: 'i386', 0x8664: 'x86-64', 0x1C0: 'arm', 0xAA64: 'arm64'}
SUBSYSTEMS = {1: 'native', 2: 'windows (GUI)', 3: 'console'}


class Image:
    """What the checks read of an executable, taken from pefile."""

    def __init__(self, data):
        pe = pefile.PE(data=data, fast_load=True)
        pe.parse_data_directories(directories=[
            pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_IMPORT'],
            pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT'],
            pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_RESOURCE'],
            pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_DEBUG']])
        self.pe = pe
        self.data = data
        self.time_stamp = pe.FILE_HEADER.TimeDateStamp
        self.checksum = pe.OPTIONAL_HEADER.CheckSum
        self.machine = pe.FILE_HEADER.Machine
        self.characteristics = pe.FILE_HEADER.Characteristics
        self.magic = pe.OPTIONAL_HEADER.Magic
        self.subsystem = pe.OPTIONAL_HEADER.Subsystem
        self.dll_characteristics = pe.OPTIONAL_HEADER.DllCharacteristics
        self.dirs = [(d.VirtualAddress, d.Size) for d in pe.OPTIONAL_HEADER.DATA_DIRECTORY]
        self.sections = [s.Name.rstrip(b'\0').decode('latin-1') for s in pe.sections]

    @staticmethod
    def _table(entries):
        return [(e.dll.decode('latin-1'),
                 [i.name.decode('latin-1') if i.name else '#%d' % i.ordinal for i in e.imports])
                for e in entries]

    def imports(self):
        """[(dll, [function names])] of the import directory."""
        return self._table(getattr(self.pe, 'DIRECTORY_ENTRY_IMPORT', []))

    def delay_imports(self):
        return self._table(getattr(self.pe, 'DIRECTORY_ENTRY_DELAY_IMPORT', []))

    def computed_checksum(self):
        return self.pe.generate_checksum()

    def other_time_stamps(self):
        """[(where, value)] of the time stamps beside the file header's."""
        found = []
        res = getattr(self.pe, 'DIRECTORY_ENTRY_RESOURCE', None)
        if res is not None:
            found.append(('resource directory', res.struct.TimeDateStamp))
        for entry in getattr(self.pe, 'DIRECTORY_ENTRY_DEBUG', []):
            found.append(('debug directory', entry.struct.TimeDateStamp))
        return found

    def version_info(self):
        """(fixed file and product versions as 'a.b.c.d', {table: {name: text}},
        [translations]) of the version resource; None when there is none."""
        fixed = getattr(self.pe, 'VS_FIXEDFILEINFO', None)
        if not fixed:
            return None
        f = fixed[0]
        four = lambda ms, ls: '%d.%d.%d.%d' % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        versions = (four(f.FileVersionMS, f.FileVersionLS), four(f.ProductVersionMS, f.ProductVersionLS))
        tables, translations = {}, []
        for info in getattr(self.pe, 'FileInfo', []):
            for entry in info:
                for table in getattr(entry, 'StringTable', []):
                    tables[table.LangID.decode('latin-1').lower()] = {
                        k.decode('utf-8'): v.decode('utf-8') for k, v in table.entries.items()}
                for var in getattr(entry, 'Var', []):
                    translations.extend(v for v in var.entry.values())
        return versions, tables, translations

    def resources(self, type_id):
        """[bytes] of every resource of this numeric type, any name and language."""
        out = []
        for kind in getattr(getattr(self.pe, 'DIRECTORY_ENTRY_RESOURCE', None), 'entries', []):
            if kind.id != type_id or not hasattr(kind, 'directory'):
                continue
            for name in kind.directory.entries:
                for lang in getattr(getattr(name, 'directory', None), 'entries', []):
                    if hasattr(lang, 'data'):
                        out.append(self.pe.get_data(lang.data.struct.OffsetToData,
                                                    lang.data.struct.Size))
        return out


def is_system(dll, extra):
    d = dll.lower()
    return d in KNOWN_DLLS or d in extra


def check_manifest(pe, arch, failures):
    """The manifest's checks; prints what it holds."""
    manifests = pe.resources(RT_MANIFEST)
    if len(manifests) != 1:
        failures.append('%d manifest resources, not 1' % len(manifests))
        return
    try:
        root = ET.fromstring(manifests[0])
    except ET.ParseError as e:
        failures.append('the manifest is no XML: %s' % e)
        return
    print('manifest: %d bytes' % len(manifests[0]))
    if root.tag != ASM_V1 + 'assembly':
        failures.append('manifest root is %s, not assembly' % root.tag)
    identity = root.find(ASM_V1 + 'assemblyIdentity')
    if identity is None or identity.get('processorArchitecture') != arch:
        failures.append('assemblyIdentity processorArchitecture is not %s' % arch)
    levels = [e for e in root.iter() if e.tag.endswith('}requestedExecutionLevel')]
    for e in levels:
        print('  requestedExecutionLevel level=%s uiAccess=%s' % (e.get('level'), e.get('uiAccess')))
    if len(levels) != 1 or levels[0].tag != ASM_V3 + 'requestedExecutionLevel':
        failures.append('no single requestedExecutionLevel in the asm.v3 trustInfo')
    elif levels[0].get('level') != 'asInvoker' or levels[0].get('uiAccess') != 'false':
        failures.append('execution level %s, uiAccess %s: not asInvoker, false'
                        % (levels[0].get('level'), levels[0].get('uiAccess')))
    oses = [e.get('Id', '').lower() for e in root.iter(COMPAT + 'supportedOS')]
    print('  supportedOS: %s' % ', '.join(SUPPORTED_OS.get(i, i) for i in oses))
    if sorted(oses) != sorted(SUPPORTED_OS):
        failures.append('supportedOS is %s, not Windows 7 to 11' % oses)
    dpi = [e.tag for e in root.iter() if e.tag.startswith(WINDOWS_SETTINGS)]
    if dpi:
        failures.append('the manifest sets %s: the window would change its geometry' % dpi)
    for dep in root.iter(ASM_V1 + 'dependentAssembly'):
        ident = dep.find(ASM_V1 + 'assemblyIdentity')
        name = ident.get('name') if ident is not None else ''
        failures.append('the manifest depends on %s (common controls 6 would change the look)'
                        % name)


def has_chinese(text):
    return any('\u4e00' <= c <= '\u9fff' for c in text)


def check_version(pe, version, failures):
    """The version resource: Chinese texts, the build's version, the authors."""
    info = pe.version_info()
    if info is None:
        failures.append('no version information (VERSIONINFO)')
        return
    (file_version, product_version), tables, translations = info
    print('version information: file %s, product %s, translations %s'
          % (file_version, product_version, ', '.join(translations)))
    for lang, strings in tables.items():
        for name, value in sorted(strings.items()):
            print('  %s %s: %s' % (lang, name, value))
    if version is not None:
        for name, value in (('fixed file version', file_version),
                            ('fixed product version', product_version)):
            if value != version:
                failures.append('%s is %s, not %s' % (name, value, version))
    strings = tables.get(CHINESE_UNICODE)
    if strings is None:
        failures.append('no string table %s (Simplified Chinese, UTF-16): %s'
                        % (CHINESE_UNICODE, sorted(tables)))
        return
    if not any(t.split() == ['0x0804', '0x04b0'] for t in translations):
        failures.append('the translation list does not name 0x0804 0x04b0')
    expected = {'CompanyName': AUTHORS, 'OriginalFilename': ORIGINAL_NAME}
    if version is not None:
        expected.update(FileVersion=version, ProductVersion=version)
    for name, value in expected.items():
        if strings.get(name) != value:
            failures.append('%s is %r, not %r' % (name, strings.get(name), value))
    for name in ('ProductName', 'FileDescription'):
        if not has_chinese(strings.get(name, '')):
            failures.append('%s is %r: no Chinese text' % (name, strings.get(name)))


def check_reproducible(pe, paths, failures):
    """No time stamp, a correct checksum, none of `paths` in the bytes."""
    print('time stamp: 0x%08X; checksum: 0x%08X' % (pe.time_stamp, pe.checksum))
    if pe.time_stamp != 0:
        failures.append('the file header has a time stamp (0x%08X): two builds differ'
                        % pe.time_stamp)
    for where, value in pe.other_time_stamps():
        if value != 0:
            failures.append('the %s has a time stamp (0x%08X)' % (where, value))
    computed = pe.computed_checksum()
    if pe.checksum == 0 or pe.checksum != computed:
        failures.append('checksum 0x%08X, the bytes give 0x%08X' % (pe.checksum, computed))
    for path in paths:
        path = path.rstrip('/')
        for form, needle in (('', path.encode('utf-8')), (' (UTF-16)', path.encode('utf-16-le'))):
            if needle and needle in pe.data:
                failures.append('the build path %s%s is in the file' % (path, form))


def check_hardening(pe, wide, failures):
    dc = pe.dll_characteristics
    print('DllCharacteristics: 0x%04X' % dc)
    for bit, name in ((DYNAMIC_BASE, 'DYNAMIC_BASE'), (NX_COMPAT, 'NX_COMPAT')) + (
            ((HIGH_ENTROPY_VA, 'HIGH_ENTROPY_VA'),) if wide else ()):
        if not dc & bit:
            failures.append('DllCharacteristics lacks %s' % name)
    # A movable image needs its base relocations.
    if pe.characteristics & RELOCS_STRIPPED or len(pe.dirs) < 6 or not pe.dirs[5][0]:
        failures.append('no base relocations: the image cannot be moved (ASLR)')


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('path')
    ap.add_argument('--allow', action='append', default=[],
                    help='also accept this DLL (repeatable)')
    ap.add_argument('--max-kib', type=float, help='fail when the file is larger')
    ap.add_argument('--machine', choices=('i386', 'x86-64'), default='i386',
                    help='the architecture expected (default i386, the release)')
    ap.add_argument('--version', help='the version the build defines (A.B.C.D)')
    ap.add_argument('--no-path', action='append', default=[],
                    help='a folder of the build machine that must not be in the file (repeatable)')
    args = ap.parse_args(argv)

    try:
        with open(args.path, 'rb') as f:
            data = f.read()
    except OSError as e:
        print('FAIL: cannot read %s: %s' % (args.path, e))
        return 2
    try:
        pe = Image(data)
        imports = pe.imports()
        delayed = pe.delay_imports()
    except (pefile.PEFormatError, struct.error, ValueError) as e:
        print('FAIL: %s is not a readable PE file: %s' % (args.path, e))
        return 2

    failures = []
    size = len(data)
    print('file: %s' % args.path)
    print('size: %d bytes (%.1f KiB)' % (size, size / 1024))
    print('format: %s, machine 0x%X (%s), subsystem %d (%s)' % (
        'PE32' if pe.magic == 0x10B else 'PE32+', pe.machine,
        MACHINES.get(pe.machine, '?'), pe.subsystem, SUBSYSTEMS.get(pe.subsystem, '?')))
    print('sections: %s' % ', '.join(pe.sections))
    wide = args.machine == 'x86-64'
    magic, machine = (0x20B, 0x8664) if wide else (0x10B, 0x14C)
    if pe.magic != magic:
        failures.append('optional header magic is 0x%X, not 0x%X' % (pe.magic, magic))
    if pe.machine != machine:
        failures.append('machine is 0x%X (%s), not 0x%X (%s)'
                        % (pe.machine, MACHINES.get(pe.machine, 'unknown'), machine, args.machine))
    if pe.subsystem != 3:
        failures.append('subsystem is %d (%s), not 3 (console)'
                        % (pe.subsystem, SUBSYSTEMS.get(pe.subsystem, 'unknown')))
    if args.max_kib is not None and size > args.max_kib * 1024:
        failures.append('file is %.1f KiB, more than %g KiB' % (size / 1024, args.max_kib))

    extra = {a.lower() if a.lower().endswith('.dll') else a.lower() + '.dll' for a in args.allow}
    print('imports:')
    for kind, table in (('', imports), (' (delay-loaded)', delayed)):
        for dll, funcs in table:
            ok = is_system(dll, extra)
            print('  %s%s: %d function(s)%s' % (dll, kind, len(funcs),
                                                '' if ok else '  <-- not loaded from the system'))
            if funcs:
                print(textwrap.fill(', '.join(funcs), 100, initial_indent='    ',
                                    subsequent_indent='    ', break_on_hyphens=False))
            if not ok:
                failures.append('imports %s%s, which Windows may load from the program\'s folder'
                                % (dll, kind))
    if not imports and not delayed:
        print('  (none)')
    check_hardening(pe, wide, failures)
    try:
        check_manifest(pe, 'amd64' if wide else 'x86', failures)
        check_version(pe, args.version, failures)
    except (pefile.PEFormatError, struct.error) as e:
        failures.append('the resources cannot be read: %s' % e)
    check_reproducible(pe, args.no_path, failures)

    if failures:
        for f in failures:
            print('FAIL: ' + f)
        return 1
    print('OK: %s console program importing only DLLs of the system, with ASLR, DEP, a manifest'
          ' and version information; no time stamp, a correct checksum, no build path'
          % ('PE32+ x86-64' if wide else 'PE32 i386'))
    return 0


if __name__ == '__main__':
    sys.exit(main())
