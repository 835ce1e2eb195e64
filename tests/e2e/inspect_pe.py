#!/usr/bin/env python3
"""Check that an executable is a 32-bit x86 Windows console program that
imports only Windows system DLLs; print its size, sections, manifest,
DllCharacteristics and imports. The file is read with pefile.

usage: inspect_pe.py PATH.exe [--allow DLL]... [--max-kib N]
Exit status 0 when every check passes, 1 on a failed check, 2 when the
file cannot be read as PE at all."""

import argparse
import struct
import sys
import textwrap

import pefile

SYSTEM_DLLS = {
    'kernel32.dll', 'user32.dll', 'gdi32.dll', 'advapi32.dll', 'shell32.dll',
    'shlwapi.dll', 'comdlg32.dll', 'ole32.dll', 'oleaut32.dll', 'ntdll.dll',
    'msvcrt.dll', 'ucrtbase.dll',
}
SYSTEM_PREFIXES = ('api-ms-win-crt-',)

MACHINES = {0x14C: 'i386', 0x8664: 'x86-64', 0x1C0: 'arm', 0xAA64: 'arm64'}
SUBSYSTEMS = {1: 'native', 2: 'windows (GUI)', 3: 'console'}


# Resource type of an application manifest.
RT_MANIFEST = 24


def load(data):
    """The parsed file; pefile.PEFormatError when it is not PE."""
    pe = pefile.PE(data=data, fast_load=True)
    pe.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_IMPORT'],
        pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT'],
        pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_RESOURCE']])
    return pe


def _names(entry):
    return [imp.name.decode('latin-1') if imp.name else '#%d' % imp.ordinal
            for imp in entry.imports]


def imports(pe):
    """[(dll, [function names])] of the import directory."""
    return [(e.dll.decode('latin-1'), _names(e)) for e in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', [])]


def delay_imports(pe):
    """[(dll, [function names])] of the delay-load import directory."""
    return [(e.dll.decode('latin-1'), _names(e))
            for e in getattr(pe, 'DIRECTORY_ENTRY_DELAY_IMPORT', [])]


def sections(pe):
    """[(name, virtual address, virtual size, raw size)]."""
    return [(s.Name.rstrip(b'\0').decode('latin-1'), s.VirtualAddress, s.Misc_VirtualSize,
             s.SizeOfRawData) for s in pe.sections]


def manifest(pe):
    """The bytes of the first manifest resource, or None."""
    for kind in getattr(getattr(pe, 'DIRECTORY_ENTRY_RESOURCE', None), 'entries', []):
        if kind.id != RT_MANIFEST:
            continue
        for name in kind.directory.entries:
            for lang in name.directory.entries:
                return pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
    return None


def dll_characteristics(pe):
    return pe.OPTIONAL_HEADER.DllCharacteristics


# ---------------------------------------------------------------- checks
# Each returns the failures it finds, as text.

def check_format(pe):
    magic = pe.OPTIONAL_HEADER.Magic
    if magic != 0x10B:
        return ['optional header magic is 0x%X, not 0x10B (PE32)' % magic]
    return []


def check_machine(pe):
    machine = pe.FILE_HEADER.Machine
    if machine != 0x14C:
        return ['machine is 0x%X (%s), not 0x14C (i386)' % (machine, MACHINES.get(machine, 'unknown'))]
    return []


def check_subsystem(pe):
    subsystem = pe.OPTIONAL_HEADER.Subsystem
    if subsystem != 3:
        return ['subsystem is %d (%s), not 3 (console)'
                % (subsystem, SUBSYSTEMS.get(subsystem, 'unknown'))]
    return []


def check_size(size, max_kib):
    if max_kib is not None and size > max_kib * 1024:
        return ['file is %.1f KiB, more than %g KiB' % (size / 1024, max_kib)]
    return []


def is_system(dll, extra):
    d = dll.lower()
    return d in SYSTEM_DLLS or d in extra or d.startswith(SYSTEM_PREFIXES)


def _import_tables(pe):
    return (('', imports(pe)), (' (delay-loaded)', delay_imports(pe)))


def check_imports(pe, extra):
    return ['imports %s%s, which is not a Windows system DLL' % (dll, kind)
            for kind, table in _import_tables(pe) for dll, _ in table if not is_system(dll, extra)]


def print_imports(pe, extra):
    print('imports:')
    tables = _import_tables(pe)
    for kind, table in tables:
        for dll, funcs in table:
            ok = is_system(dll, extra)
            print('  %s%s: %d function(s)%s' % (dll, kind, len(funcs), '' if ok else '  <-- not a system DLL'))
            if funcs:
                print(textwrap.fill(', '.join(funcs), 100, initial_indent='    ',
                                    subsequent_indent='    ', break_on_hyphens=False))
    if not any(table for _, table in tables):
        print('  (none)')


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('path')
    ap.add_argument('--allow', action='append', default=[],
                    help='also accept this DLL (repeatable)')
    ap.add_argument('--max-kib', type=float, help='fail when the file is larger')
    args = ap.parse_args(argv)

    try:
        with open(args.path, 'rb') as f:
            data = f.read()
    except OSError as e:
        print('FAIL: cannot read %s: %s' % (args.path, e))
        return 2
    try:
        pe = load(data)
    except (pefile.PEFormatError, struct.error, ValueError) as e:
        print('FAIL: %s is not a readable PE file: %s' % (args.path, e))
        return 2

    size = len(data)
    magic, machine = pe.OPTIONAL_HEADER.Magic, pe.FILE_HEADER.Machine
    subsystem = pe.OPTIONAL_HEADER.Subsystem
    found = manifest(pe)
    print('file: %s' % args.path)
    print('size: %d bytes (%.1f KiB)' % (size, size / 1024))
    print('format: %s, machine 0x%X (%s), subsystem %d (%s)' % (
        'PE32' if magic == 0x10B else 'PE32+', machine, MACHINES.get(machine, '?'),
        subsystem, SUBSYSTEMS.get(subsystem, '?')))
    print('dll characteristics: 0x%04X' % dll_characteristics(pe))
    print('sections: %s' % ', '.join(name for name, _, _, _ in sections(pe)))
    print('manifest: %s' % ('none' if found is None else '%d bytes' % len(found)))
    extra = {a.lower() if a.lower().endswith('.dll') else a.lower() + '.dll' for a in args.allow}
    print_imports(pe, extra)

    failures = (check_format(pe) + check_machine(pe) + check_subsystem(pe)
                + check_size(size, args.max_kib) + check_imports(pe, extra))
    if failures:
        for f in failures:
            print('FAIL: ' + f)
        return 1
    print('OK: PE32 i386 console program importing only system DLLs')
    return 0


if __name__ == '__main__':
    sys.exit(main())
