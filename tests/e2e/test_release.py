"""The release as players and publishers get it: the version information
Windows reads from it, and an Authenticode-signed copy that still verifies
and still installs."""

import json
import os
import shutil
import subprocess
import sys
import unittest

import scenario as sc
import settings
import wineenv

sys.path.insert(0, os.path.join(sc.REPO, 'tools'))
try:
    import inspect_pe  # needs pefile
except ImportError:
    inspect_pe = None

SIGN = os.path.join(sc.REPO, 'tools', 'sign.sh')
LABEL = '0.25b'


def build_version():
    """The version the build under test defines (its CMake project version,
    which CTest gives as TG_VERSION)."""
    version = settings.get('TG_VERSION')
    if not version:
        raise AssertionError('the build defines no version (TG_VERSION is not set)')
    return version


def pe_directory(data, index):
    """(offset or RVA, size) of data directory `index` of a PE image."""
    pe = int.from_bytes(data[0x3C:0x40], 'little')
    optional = pe + 24
    magic = int.from_bytes(data[optional:optional + 2], 'little')
    at = optional + (96 if magic == 0x10B else 112) + 8 * index
    return int.from_bytes(data[at:at + 4], 'little'), int.from_bytes(data[at + 4:at + 8], 'little')


class VersionInfoTest(sc.E2ETest):
    def test_windows_reads_the_version_information(self):
        r = wineenv.run_wine(wineenv.helper_path('winprobe'),
                              ['version', sc.to_windows(wineenv.installer_path())])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        info = json.loads(r.stdout.decode('utf-8').strip().splitlines()[-1])
        version = build_version()
        self.assertEqual((info['file'], info['product']), (version, version))
        self.assertEqual(info['translations'], ['080404b0'])  # Simplified Chinese, UTF-16
        self.assertEqual(info['strings'], {
            'CompanyName': 'Orrinvale&Tamsk_Olu',
            'FileDescription': 'Thistlegarden离线补丁安装程序',
            'FileVersion': version,
            'InternalName': 'ThistlegardenPatch',
            'OriginalFilename': 'ThistlegardenPatch.exe',
            'ProductName': 'Thistlegarden补丁程序',
            'ProductVersion': version,
        })


class SignedReleaseTest(sc.InstallRunTest):
    def setUp(self):
        super().setUp()
        for tool in ('openssl', 'osslsigncode'):
            if not shutil.which(tool):
                wineenv.missing('%s is not installed (tools/setup.sh)' % tool)
        if inspect_pe is None:
            wineenv.missing('pefile is not installed (tools/setup.sh)')

    def sign(self, folder, *args):
        env = settings.without('TG_SIGN_')
        return subprocess.run(['bash', SIGN, *args], cwd=folder, env=env, capture_output=True,
                              text=True)

    def throwaway_certificate(self, folder):
        """A self-signed code-signing certificate and its key, made now."""
        cert, key = os.path.join(folder, 'cert.pem'), os.path.join(folder, 'key.pem')
        subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '2',
                        '-subj', '/CN=Thistlegarden test signer', '-keyout', key, '-out', cert,
                        '-addext', 'extendedKeyUsage=codeSigning'],
                       check=True, capture_output=True)
        return cert, key

    def verify(self, path, cert):
        return subprocess.run(['osslsigncode', 'verify', '-CAfile', cert, '-in', path],
                              capture_output=True, text=True)

    def test_a_signed_copy_verifies_and_installs(self):
        with sc.Scenario('signed') as s:
            publisher = os.path.join(s.root, 'publisher')
            os.makedirs(publisher)
            unsigned = wineenv.installer_path()
            signed = os.path.join(publisher, 'ThistlegardenPatch.exe')

            # Without a certificate nothing is signed, and it says so.
            env_free = self.sign(publisher, unsigned, signed)
            self.assertEqual(env_free.returncode, 3, env_free.stderr)
            self.assertIn('not signed', env_free.stderr)
            self.assertFalse(os.path.exists(signed))

            cert, key = self.throwaway_certificate(publisher)
            r = self.sign(publisher, '--cert', cert, '--key', key, unsigned, signed)
            self.assertEqual(r.returncode, 0, r.stderr)
            original, data = sc.read_bytes(unsigned), sc.read_bytes(signed)
            # The signature is appended: the certificate table lies past the
            # image, and the checksum covers the signed bytes.
            offset, size = pe_directory(data, 4)
            self.assertGreaterEqual(offset, len(original))
            self.assertEqual(offset + size, len(data))
            self.assertEqual(inspect_pe.Image(data).checksum, inspect_pe.Image(data).computed_checksum())

            result = self.verify(signed, cert)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertIn('Signature verification: ok', result.stdout)
            # The signature covers the payloads: one changed byte in the
            # middle of the file no longer verifies.
            tampered = os.path.join(publisher, 'tampered.exe')
            middle = len(original) // 2
            with open(tampered, 'wb') as f:
                f.write(data[:middle] + bytes([data[middle] ^ 0x01]) + data[middle + 1:])
            self.assertNotEqual(self.verify(tampered, cert).returncode, 0)

            # The signed copy installs as the unsigned one does.
            s.make_game(assembly=sc.VERSION_SIZES[LABEL])
            game = s.start_game()
            user = s.start_auto_user(['ok'])
            result = s.run_installer(timeout=120, installer=signed)
            self.assertEqual(result.exit_code, 0)
            name = os.path.basename(s.game_exe)
            self.assertScreen(result, sc.BANNER + sc.discovery_writes(
                game['hwnd'], game['pid'], sc.to_windows(s.game_exe))
                + sc.step_writes(game['pid'], name, True, True))
            boxes = self.boxes(user, 1)
            self.assertEqual(len(boxes), 1, boxes)
            self.assertBox(boxes[0], sc.CONFIRM_TITLE, sc.confirm_text(LABEL), 'question',
                           ['ok', 'cancel'])
            self.assertTrue(s.assembly() == sc.payload(LABEL), 'the assembly is not the payload')
            images = os.path.join(sc.output_folder(), sc.COMPARISON_FOLDER)
            self.assertTrue(sc.read_bytes(os.path.join(images, sc.BEFORE_IMAGE)) == sc.before_image())
            self.assertTrue(sc.read_bytes(os.path.join(images, sc.AFTER_IMAGE)) == sc.after_image())


if __name__ == '__main__':
    unittest.main()
