"""The release as players and publishers get it: the version information
Windows reads from it."""

import json
import os
import sys
import unittest

import scenario as sc
import winetool

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import inspect_pe  # noqa: E402



def build_version():
    """The version the build under test defines (its CMake project version)."""
    with open(os.path.join(winetool.build_dir(), 'CMakeCache.txt'), encoding='utf-8') as f:
        for line in f:
            if line.startswith('CMAKE_PROJECT_VERSION:'):
                return line.split('=', 1)[1].strip()
    raise AssertionError('the build defines no version')


class VersionInfoTest(sc.E2ETest):
    def test_windows_reads_the_version_information(self):
        r = winetool.run_wine(winetool.helper_path('version_info'),
                              [sc.to_windows(winetool.installer_path())])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        info = json.loads(r.stdout.decode('utf-8').strip().splitlines()[-1])
        version = build_version()
        self.assertEqual((info['file'], info['product']), (version, version))
        self.assertEqual(info['translations'], [inspect_pe.CHINESE_UNICODE])
        self.assertEqual(info['strings'], {
            'CompanyName': inspect_pe.AUTHORS,
            'FileDescription': 'Thistlegarden离线补丁安装程序',
            'FileVersion': version,
            'InternalName': 'ThistlegardenPatch',
            'OriginalFilename': inspect_pe.ORIGINAL_NAME,
            'ProductName': 'Thistlegarden补丁程序',
            'ProductVersion': version,
        })


if __name__ == '__main__':
    unittest.main()
