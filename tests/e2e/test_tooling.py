"""Offline checks of the terminal parser on streams recorded from Wine."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winetool as w  # noqa: E402

NOTICE = '免责声明：'.encode('gbk')

# Recorded from a 64-bit probe program under wine64, cols 250.
BANNER_WRITES = [(NOTICE + b'\r\n', 0xFC), (b'%d %s 100%', 0x5F), (b'\r\n', 0x07),
                 (b'ID ', 0x03), (b'1234\r\n', 0x07), (NOTICE, 0x9E), (b'ok\r\n', 0x0A)]
BANNER_RAW = (
    b'\x1b[?25l\x1b[91m\x1b[107m\xe5\x85\x8d\xe8\xb4\xa3\xe5\xa3\xb0\xe6\x98\x8e\xef\xbc\x9a'
    b'\r\n\x1b[?25h\x1b[?25l\x1b[97m\x1b[45m%d %s 100%\x1b[?25h\r\n\x1b[?25l\x1b[36m\x1b[40m'
    b'ID \x1b[?25h\x1b[?25l\x1b[m1234\r\n\x1b[?25h\x1b[?25l\x1b[93m\x1b[104m\xe5\x85\x8d\xe8'
    b'\xb4\xa3\xe5\xa3\xb0\xe6\x98\x8e\xef\xbc\x9a\x1b[?25h\x1b[?25l\x1b[92m\x1b[40mok\r\n'
    b'\x1b[?25h\x1b[m')

# cols 20: the wrapped row is sent again from column 0; 4+ grey spaces become ESC[K.
WRAP_WRITES = [(b'y' * 12, 0x4E), (b'b' * 14, 0x1F), (b'\r\nnext    \r\n', 0x07)]
WRAP_RAW = (b'\x1b[?25l\x1b[93m\x1b[41myyyyyyyyyyyy\x1b[?25h\x1b[?25l\ryyyyyyyyyyyy\x1b[97m'
            b'\x1b[44mbbbbbbbb\r\nbbbbbb\x1b[m\x1b[K\x1b[?25h\r\n\x1b[?25lnext\x1b[K\r\n\x1b[?25h')

# Foreground 7 is sent as ESC[m, which also drops the background.
LOSSY_WRITES = [(b'R', 0x1C), (b'G', 0x17), (b'D', 0x18), (b'N\r\n', 0x07)]
LOSSY_RAW = (b'\x1b[?25l\x1b[91m\x1b[44mR\x1b[?25h\x1b[?25l\x1b[mG\x1b[?25h\x1b[?25l\x1b[90mD'
             b'\x1b[?25h\x1b[?25l\x1b[mN\r\n\x1b[?25h')


class ParserTest(unittest.TestCase):
    def test_banner(self):
        segs = w.parse_segments(BANNER_RAW)
        self.assertEqual(segs, w.expected_segments([(d, a) for d, a in BANNER_WRITES]))
        self.assertEqual([a for _, a in segs], [0xFC, 0x5F, 0x03, 0x07, 0x9E, 0x0A])
        self.assertTrue(w.same_text(segs[0][0], NOTICE + b'\r\n'))

    def test_wrap_and_erase(self):
        segs = w.parse_segments(WRAP_RAW)
        self.assertEqual(segs, w.expected_segments([(d, a) for d, a in WRAP_WRITES], cols=20))
        self.assertEqual(segs[1], (b'bbbbbbbb\r\nbbbbbb\r\n', 0x1F))

    def test_lost_background(self):
        writes = [(d, a) for d, a in LOSSY_WRITES]
        segs = w.parse_segments(LOSSY_RAW)
        self.assertEqual(segs, w.expected_segments(writes))
        self.assertNotEqual(segs, w.expected_segments(writes, as_shown=False))
        self.assertEqual([a for _, a in segs], [0x1C, 0x07, 0x08, 0x07])

    def test_every_attribute_from_default(self):
        for attr in range(256):
            seq = w.sgr_for_change(w.DEFAULT_ATTR, attr)
            self.assertEqual(w.parse_segments(seq + b'x'), [(b'x\r\n', attr)], hex(attr))
        self.assertEqual(w.sgr_for_change(0x07, 0xFC), b'\x1b[91m\x1b[107m')

    def test_other_sequences_ignored(self):
        raw = b'\x1b]0;title\x07\x1b[2J\x1b[H\x1b[?25l\x1b[1;1Hab\x1b[2Dc\x1b[31mZ\x1b[m'
        screen = w.parse_terminal(raw)
        self.assertEqual(screen.title, 'title')
        self.assertEqual(screen.segments(), [(b'c', 0x07), (b'Z\r\n', 0x04)])


class WindowsWorkflowTest(unittest.TestCase):
    """The hosted Windows workflow cannot run here; it must at least parse
    and build the 32-bit release before running the conformance cases."""

    def test_workflow_parses_and_runs_the_32_bit_conformance_cases(self):
        import yaml
        path = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', '.github',
                            'workflows', 'windows-release.yml')
        with open(path, encoding='utf-8') as f:
            flow = yaml.safe_load(f)
        job = flow['jobs']['release-32']
        self.assertTrue(job['runs-on'].startswith('windows'))
        msys = [s for s in job['steps'] if s.get('uses', '').startswith('msys2/setup-msys2')]
        self.assertEqual(msys[0]['with']['msystem'], 'MINGW32')
        self.assertIn('mingw-w64-i686-gcc', msys[0]['with']['install'])
        runs = [s['run'] for s in job['steps'] if 'run' in s]
        self.assertTrue(any('cmake --build' in r for r in runs))
        self.assertTrue(any('ctest' in r and 'conformance' in r for r in runs))


if __name__ == '__main__':
    unittest.main()
