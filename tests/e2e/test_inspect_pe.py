"""Offline checks of the release inspection: the manifest and hardening rules
catch the manifests and flags that would be faults."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import inspect_pe as ip  # noqa: E402

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def manifest(arch='x86'):
    with open(os.path.join(REPO, 'app', 'installer.manifest.in'), encoding='utf-8') as f:
        return f.read().replace('@TG_MANIFEST_ARCH@', arch)


class FakePE:
    def __init__(self, manifests=(), dll_characteristics=0x0160, characteristics=0x0022,
                 relocations=True):
        self._manifests = [m.encode('utf-8') for m in manifests]
        self.dll_characteristics = dll_characteristics
        self.characteristics = characteristics
        self.dirs = [(0, 0)] * 5 + [((0x9000, 0x100) if relocations else (0, 0))]

    def resources(self, type_id):
        return self._manifests if type_id == ip.RT_MANIFEST else []


def manifest_failures(text, arch='x86'):
    failures = []
    ip.check_manifest(FakePE([text] if text is not None else []), arch, failures)
    return failures


class ManifestTest(unittest.TestCase):
    def test_the_programs_manifest_passes(self):
        self.assertEqual(manifest_failures(manifest()), [])
        self.assertEqual(manifest_failures(manifest('amd64'), 'amd64'), [])
        self.assertNotEqual(manifest_failures(manifest('x86'), 'amd64'), [])

    def test_faulty_manifests(self):
        good = manifest()
        cases = {
            'none': None,
            'elevation': good.replace('asInvoker', 'requireAdministrator'),
            'ui access': good.replace('uiAccess="false"', 'uiAccess="true"'),
            'no Windows 10': good.replace('{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}', '{x}'),
            'dpi aware': good.replace('</assembly>', (
                '<application xmlns="urn:schemas-microsoft-com:asm.v3"><windowsSettings>'
                '<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true'
                '</dpiAware></windowsSettings></application></assembly>')),
            'common controls 6': good.replace('</assembly>', (
                '<dependency><dependentAssembly><assemblyIdentity type="win32" '
                'name="Microsoft.Windows.Common-Controls" version="6.0.0.0" '
                'processorArchitecture="*" publicKeyToken="6595b64144ccf1df" language="*"/>'
                '</dependentAssembly></dependency></assembly>')),
            'not XML': good[:-20],
        }
        for name, text in cases.items():
            with self.subTest(name):
                self.assertNotEqual(manifest_failures(text), [])


class HardeningTest(unittest.TestCase):
    def test_flags_and_relocations(self):
        cases = [
            ('64-bit, all set', FakePE(), True, 0),
            ('32-bit without high entropy', FakePE(dll_characteristics=0x0140), False, 0),
            ('64-bit without high entropy', FakePE(dll_characteristics=0x0140), True, 1),
            ('no ASLR', FakePE(dll_characteristics=0x0120), True, 1),
            ('no DEP', FakePE(dll_characteristics=0x0060), True, 1),
            ('relocations stripped', FakePE(characteristics=0x0023), True, 1),
            ('no relocation table', FakePE(relocations=False), True, 1),
        ]
        for name, pe, wide, count in cases:
            with self.subTest(name):
                failures = []
                ip.check_hardening(pe, wide, failures)
                self.assertEqual(len(failures), count, failures)

    def test_only_dlls_of_the_system(self):
        for dll in ('KERNEL32.dll', 'msvcrt.dll', 'ntdll.dll', 'comdlg32.dll'):
            self.assertTrue(ip.is_system(dll, set()), dll)
        for dll in ('ucrtbase.dll', 'api-ms-win-crt-runtime-l1-1-0.dll', 'version.dll',
                    'libstdc++-6.dll', 'uxtheme.dll'):
            self.assertFalse(ip.is_system(dll, set()), dll)


if __name__ == '__main__':
    unittest.main()
