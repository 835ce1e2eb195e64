#!/usr/bin/env python3
"""Check that an executable is a 32-bit x86 Windows console program that
imports only Windows system DLLs; print its size and imports.

usage: inspect_pe.py PATH.exe [--allow DLL]... [--max-kib N]
Exit status 0 when every check passes, 1 on a failed check, 2 when the
file cannot be read as PE at all."""

import argparse
import os
import struct
import sys
import textwrap

SYSTEM_DLLS = {
    'kernel32.dll', 'user32.dll', 'gdi32.dll', 'advapi32.dll', 'shell32.dll',
    'shlwapi.dll', 'comdlg32.dll', 'ole32.dll', 'oleaut32.dll', 'ntdll.dll',
    'msvcrt.dll', 'ucrtbase.dll',
}
SYSTEM_PREFIXES = ('api-ms-win-crt-',)

MACHINES = {0x14C: 'i386', 0x8664: 'x86-64', 0x1C0: 'arm', 0xAA64: 'arm64'}
SUBSYSTEMS = {1: 'native', 2: 'windows (GUI)', 3: 'console'}


class PEError(Exception):
    pass


class PE:
    def __init__(self, data):
        self.data = data
        if len(data) < 0x40 or data[:2] != b'MZ':
            raise PEError('no MZ header')
        self.pe_off = struct.unpack_from('<I', data, 0x3C)[0]
        if data[self.pe_off:self.pe_off + 4] != b'PE\0\0':
            raise PEError('no PE signature at 0x%X' % self.pe_off)
        coff = self.pe_off + 4
        (self.machine, nsect, _, _, _, opt_size,
         self.characteristics) = struct.unpack_from('<HHIIIHH', data, coff)
        opt = coff + 20
        self.magic = struct.unpack_from('<H', data, opt)[0]
        if self.magic not in (0x10B, 0x20B):
            raise PEError('unknown optional header magic 0x%X' % self.magic)
        self.subsystem = struct.unpack_from('<H', data, opt + 68)[0]
        dd = opt + (96 if self.magic == 0x10B else 112)
        ndirs = struct.unpack_from('<I', data, dd - 4)[0]
        self.dirs = [struct.unpack_from('<II', data, dd + 8 * i) for i in range(min(ndirs, 16))]
        self.sections = []
        for i in range(nsect):
            s = opt + opt_size + 40 * i
            name = data[s:s + 8].rstrip(b'\0').decode('latin-1')
            vsize, va, rsize, roff = struct.unpack_from('<IIII', data, s + 8)
            self.sections.append((name, va, max(vsize, rsize), roff, rsize))

    def offset(self, rva):
        for _, va, size, roff, rsize in self.sections:
            if va <= rva < va + size:
                if rva - va >= rsize:
                    raise PEError('RVA 0x%X not backed by file data' % rva)
                return roff + rva - va
        raise PEError('RVA 0x%X outside every section' % rva)

    def cstr(self, rva):
        off = self.offset(rva)
        end = self.data.index(b'\0', off)
        return self.data[off:end].decode('latin-1')

    def _thunk_names(self, rva):
        wide = self.magic == 0x20B
        size, flag = (8, 1 << 63) if wide else (4, 1 << 31)
        names = []
        off = self.offset(rva)
        while True:
            v = struct.unpack_from('<Q' if wide else '<I', self.data, off)[0]
            if not v:
                return names
            if v & flag:
                names.append('#%d' % (v & 0xFFFF))
            else:
                names.append(self.cstr((v & 0x7FFFFFFF) + 2))
            off += size

    def imports(self):
        """[(dll, [function names])] of the import directory."""
        out = []
        if len(self.dirs) < 2 or not self.dirs[1][0]:
            return out
        off = self.offset(self.dirs[1][0])
        while True:
            ilt, _, _, name, iat = struct.unpack_from('<IIIII', self.data, off)
            if not (ilt or name or iat):
                return out
            out.append((self.cstr(name), self._thunk_names(ilt or iat)))
            off += 20

    def delay_imports(self):
        out = []
        if len(self.dirs) < 14 or not self.dirs[13][0]:
            return out
        off = self.offset(self.dirs[13][0])
        while True:
            fields = struct.unpack_from('<8I', self.data, off)
            if not any(fields):
                return out
            attrs, name, int_rva = fields[0], fields[1], fields[4]
            if not attrs & 1:
                raise PEError('old-style delay import table (VA, not RVA)')
            out.append((self.cstr(name), self._thunk_names(int_rva) if int_rva else []))
            off += 32


def is_system(dll, extra):
    d = dll.lower()
    return d in SYSTEM_DLLS or d in extra or d.startswith(SYSTEM_PREFIXES)


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
        pe = PE(data)
        imports = pe.imports()
        delayed = pe.delay_imports()
    except (PEError, struct.error, ValueError) as e:
        print('FAIL: %s is not a readable PE file: %s' % (args.path, e))
        return 2

    failures = []
    size = len(data)
    print('file: %s' % args.path)
    print('size: %d bytes (%.1f KiB)' % (size, size / 1024))
    print('format: %s, machine 0x%X (%s), subsystem %d (%s)' % (
        'PE32' if pe.magic == 0x10B else 'PE32+', pe.machine,
        MACHINES.get(pe.machine, '?'), pe.subsystem, SUBSYSTEMS.get(pe.subsystem, '?')))
    if pe.magic != 0x10B:
        failures.append('optional header magic is 0x%X, not 0x10B (PE32)' % pe.magic)
    if pe.machine != 0x14C:
        failures.append('machine is 0x%X (%s), not 0x14C (i386)'
                        % (pe.machine, MACHINES.get(pe.machine, 'unknown')))
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
            print('  %s%s: %d function(s)%s' % (dll, kind, len(funcs), '' if ok else '  <-- not a system DLL'))
            if funcs:
                print(textwrap.fill(', '.join(funcs), 100, initial_indent='    ',
                                    subsequent_indent='    ', break_on_hyphens=False))
            if not ok:
                failures.append('imports %s%s, which is not a Windows system DLL' % (dll, kind))
    if not imports and not delayed:
        print('  (none)')

    if failures:
        for f in failures:
            print('FAIL: ' + f)
        return 1
    print('OK: PE32 i386 console program importing only system DLLs')
    return 0


if __name__ == '__main__':
    sys.exit(main())
