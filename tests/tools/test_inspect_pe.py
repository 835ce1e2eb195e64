"""Offline checks of the release inspection: the manifest and hardening rules
catch the manifests and flags that would be faults."""

import os
import sys
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(REPO, 'tools'))
import inspect_pe as ip  # noqa: E402


def manifest(arch='x86'):
    with open(os.path.join(REPO, 'app', 'installer.manifest.in'), encoding='utf-8') as f:
        return f.read().replace('@TG_MANIFEST_ARCH@', arch).replace('@PROJECT_VERSION@', '1.0.0.0')


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


GOOD_STRINGS = {
    'CompanyName': ip.AUTHORS, 'FileDescription': 'Thistlegarden离线补丁安装程序',
    'FileVersion': '1.2.3.4', 'OriginalFilename': ip.ORIGINAL_NAME,
    'ProductName': 'Thistlegarden补丁程序', 'ProductVersion': '1.2.3.4',
}


class FakeRelease:
    def __init__(self, strings=GOOD_STRINGS, fixed=('1.2.3.4', '1.2.3.4'), lang='080404b0',
                 translations=('0x0804 0x04b0',), time_stamp=0, checksum=0x1234,
                 computed=0x1234, data=b'MZ code', others=()):
        self.info = None if strings is None else (fixed, {lang: dict(strings)}, list(translations))
        self.time_stamp, self.checksum, self._computed = time_stamp, checksum, computed
        self.data, self._others = data, list(others)

    def version_info(self):
        return self.info

    def computed_checksum(self):
        return self._computed

    def other_time_stamps(self):
        return self._others


class VersionTest(unittest.TestCase):
    def test_the_versions_faults(self):
        def changed(**values):
            return dict(GOOD_STRINGS, **values)
        cases = [
            ('as built', FakeRelease(), 0),
            ('none', FakeRelease(strings=None), 1),
            ('another fixed version', FakeRelease(fixed=('1.2.3.5', '1.2.3.4')), 1),
            ('another version text', FakeRelease(strings=changed(ProductVersion='1.0')), 1),
            ('other authors', FakeRelease(strings=changed(CompanyName='Thistlegarden')), 1),
            ('English description', FakeRelease(strings=changed(FileDescription='Patch')), 1),
            ('no product name', FakeRelease(strings={k: v for k, v in GOOD_STRINGS.items()
                                                      if k != 'ProductName'}), 1),
            ('renamed', FakeRelease(strings=changed(OriginalFilename='setup.exe')), 1),
            ('English table', FakeRelease(lang='040904b0'), 1),
            ('no translation', FakeRelease(translations=()), 1),
        ]
        for name, pe, count in cases:
            with self.subTest(name):
                failures = []
                ip.check_version(pe, '1.2.3.4', failures)
                self.assertEqual(len(failures), count, failures)


class ReproducibleTest(unittest.TestCase):
    def test_time_stamps_checksum_and_paths(self):
        here = '/home/builder/tg'
        cases = [
            ('as built', FakeRelease(), 0),
            ('link time', FakeRelease(time_stamp=0x6B193919), 1),
            ('resource time', FakeRelease(others=[('resource directory', 5)]), 1),
            ('no checksum', FakeRelease(checksum=0, computed=0), 1),
            ('stale checksum', FakeRelease(computed=0x1235), 1),
            ('the path', FakeRelease(data=b'MZ ' + here.encode() + b'/app/x.cpp'), 1),
            ('the path in UTF-16', FakeRelease(data=b'MZ ' + here.encode('utf-16-le')), 1),
            ('another path', FakeRelease(data=b'MZ /home/builder/other'), 0),
        ]
        for name, pe, count in cases:
            with self.subTest(name):
                failures = []
                ip.check_reproducible(pe, [here + '/'], failures)
                self.assertEqual(len(failures), count, failures)


if __name__ == '__main__':
    unittest.main()
