"""Offline checks of the harness: the terminal parser on streams recorded
from Wine, the waiting helper and the test summary (the Windows workflow:
test_windows_job)."""

import os
import subprocess
import sys
import tempfile
import time
import unittest
import unittest.mock

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
E2E = os.path.join(REPO, 'tests', 'e2e')
sys.path.insert(0, E2E)
import console_model  # noqa: E402
import terminal  # noqa: E402
import waiting  # noqa: E402

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
        segs = terminal.parse_segments(BANNER_RAW)
        self.assertEqual(segs, console_model.expected_segments([(d, a) for d, a in BANNER_WRITES]))
        self.assertEqual([a for _, a in segs], [0xFC, 0x5F, 0x03, 0x07, 0x9E, 0x0A])
        self.assertTrue(terminal.same_text(segs[0][0], NOTICE + b'\r\n'))

    def test_wrap_and_erase(self):
        segs = terminal.parse_segments(WRAP_RAW)
        self.assertEqual(segs, console_model.expected_segments([(d, a) for d, a in WRAP_WRITES], cols=20))
        self.assertEqual(segs[1], (b'bbbbbbbb\r\nbbbbbb\r\n', 0x1F))

    def test_lost_background(self):
        writes = [(d, a) for d, a in LOSSY_WRITES]
        segs = terminal.parse_segments(LOSSY_RAW)
        self.assertEqual(segs, console_model.expected_segments(writes))
        self.assertNotEqual(segs, console_model.expected_segments(writes, as_shown=False))
        self.assertEqual([a for _, a in segs], [0x1C, 0x07, 0x08, 0x07])

    def test_every_attribute_from_default(self):
        for attr in range(256):
            seq = terminal.sgr_for_change(terminal.DEFAULT_ATTR, attr)
            self.assertEqual(terminal.parse_segments(seq + b'x'), [(b'x\r\n', attr)], hex(attr))
        self.assertEqual(terminal.sgr_for_change(0x07, 0xFC), b'\x1b[91m\x1b[107m')

    def test_other_sequences_ignored(self):
        raw = b'\x1b]0;title\x07\x1b[2J\x1b[H\x1b[?25l\x1b[1;1Hab\x1b[2Dc\x1b[31mZ\x1b[m'
        screen = terminal.parse_terminal(raw)
        self.assertEqual(screen.title, 'title')
        self.assertEqual(screen.segments(), [(b'c', 0x07), (b'Z\r\n', 0x04)])


class WaitUntilTest(unittest.TestCase):
    def test_gives_what_came_and_fails_naming_what_did_not(self):
        seen = iter([0, [], ['window']])
        self.assertEqual(waiting.wait_until(lambda: next(seen), 5, 'a window', interval=0), ['window'])
        with self.assertRaisesRegex(waiting.WaitTimeout, r'waited for a box: nothing after 0.05 s\nlog: \[\]'):
            waiting.wait_until(lambda: False, 0.05, 'a box', interval=0.01, detail=lambda: 'log: []')

    def test_a_program_that_ended_ends_the_wait_at_once(self):
        calls = []
        with self.assertRaisesRegex(waiting.WaitTimeout, 'waited for a line: it exited with 3'):
            waiting.wait_until(lambda: calls.append(1), 60, 'a line', stop=lambda: 'it exited with 3')
        self.assertEqual(len(calls), 2)     # and a last look after the end

    def test_a_session_that_stopped_answering_shows_its_processes(self):
        import wineenv
        with tempfile.TemporaryDirectory() as prefix:
            started = [subprocess.Popen(['sleep', seconds], env=dict(os.environ, WINEPREFIX=p))
                       for seconds, p in (('31', prefix), ('32', prefix + '-other'))]
            try:
                # Listed once it sleeps: just started, it may still be running.
                def state(pid):
                    with open('/proc/%d/stat' % pid) as f:
                        return f.read().rsplit(')', 1)[1].split()[0]
                deadline = time.monotonic() + 10
                while state(started[0].pid) != 'S' and time.monotonic() < deadline:
                    time.sleep(0.05)
                env = dict(os.environ, WINEPREFIX=prefix)
                with unittest.mock.patch.dict(os.environ, env):
                    listed = wineenv.session_processes()
                    with self.assertRaises(subprocess.TimeoutExpired) as late:
                        with unittest.mock.patch.object(wineenv, 'wine_command',
                                                        lambda: ['sleep']):
                            wineenv.run_wine('5', timeout=0.1)
            finally:
                for p in started:
                    p.kill()
                    p.wait()
        self.assertRegex(listed, r'(?m)^ *%d S .* sleep 31$' % started[0].pid)
        self.assertNotIn('sleep 32', listed)
        self.assertIn('sleep 31', '\n'.join(late.exception.__notes__))


NO_32 = "this host's kernel runs no 32-bit code: IA-32 emulation is off"


class SummaryTest(unittest.TestCase):
    """The last lines of the test command: counts and skip reasons read
    from CTest's JUnit report."""

    REPORT = """<?xml version="1.0" encoding="UTF-8"?>
<testsuite tests="5">
  <testcase name="a" status="run"><system-out>ok</system-out></testcase>
  <testcase name="b" status="fail"><failure message="Failed"/></testcase>
  <testcase name="c" status="notrun"><skipped message="SKIP_RETURN_CODE=77"/>
    <system-out>skipped: %s
</system-out></testcase>
  <testcase name="d" status="notrun"><skipped message="SKIP_REGULAR_EXPRESSION_MATCHED"/>
    <system-out>test_x (m.C.test_x) ... skipped 'the 32-bit suite runs this case'
test_y (m.C.test_y) ... skipped "host's reason"

OK (skipped=1)
</system-out></testcase>
  <testcase name="e" status="disabled"><skipped message="Disabled"/></testcase>
</testsuite>
""" % NO_32

    def test_counts_and_reasons(self):
        sys.path.insert(0, os.path.join(REPO, 'tools'))
        import test_summary
        with tempfile.TemporaryDirectory() as repo:
            os.makedirs(os.path.join(repo, 'build', 'p'))
            with open(os.path.join(repo, 'build', 'p', 'ctest.xml'), 'w') as f:
                f.write(self.REPORT)
            old, test_summary.REPO = test_summary.REPO, repo
            try:
                outcomes, reasons = test_summary.tally('p')
                self.assertIsNone(test_summary.tally('missing'))
            finally:
                test_summary.REPO = old
        self.assertEqual(dict(outcomes), {'passed': 1, 'failed': 1, 'skipped': 2, 'disabled': 1})
        self.assertEqual(dict(reasons), {NO_32: 1, 'the 32-bit suite runs this case': 1})
        self.assertEqual(test_summary.skip_reasons(self.REPORT.split('<system-out>')[-1]),
                         ['the 32-bit suite runs this case', "host's reason"])

    def test_cases_run_again_after_a_spinning_wineserver(self):
        sys.path.insert(0, os.path.join(REPO, 'tools'))
        import test_summary
        said = ('wine-spin: the wineserver of slot 2 (pid 9) spun: 6.5 s in user space in 20.1 s '
                'without blocking once, while every Wine program of the slot waited on it; '
                'diagnostics in %s\nwine-spin: running the case once more, in a fresh session '
                'of slot 2\n')
        report = """<?xml version="1.0" encoding="UTF-8"?>
<testsuite tests="3">
  <testcase name="again" status="run"><system-out>test_x (m.C.test_x) ... %s</system-out></testcase>
  <testcase name="twice" status="fail"><failure message="Failed"/><system-out>%s%s</system-out>
  </testcase>
  <testcase name="plain" status="fail"><failure message="Failed"/>
    <system-out>wine-spin: is no more than a word in a failure</system-out></testcase>
</testsuite>
""" % (said % '/b/wine-spins/slot2-1', said % '/b/wine-spins/slot1-1', said % '/b/wine-spins/slot1-2')
        with tempfile.TemporaryDirectory() as repo:
            os.makedirs(os.path.join(repo, 'build', 'p'))
            with open(os.path.join(repo, 'build', 'p', 'ctest.xml'), 'w') as f:
                f.write(report)
            old, test_summary.REPO = test_summary.REPO, repo
            try:
                reruns = test_summary.spin_reruns('p')
            finally:
                test_summary.REPO = old
        self.assertEqual(reruns, [('again', True, ['/b/wine-spins/slot2-1']),
                                  ('twice', False, ['/b/wine-spins/slot1-1', '/b/wine-spins/slot1-2'])])


class SlotGuardTest(unittest.TestCase):
    """What counts as a wineserver that spins: a server that never blocks,
    runs in user space and makes no system call while no Wine program of
    its slot runs, for the whole time asked; nothing else."""

    def watch(self, server, running=False, seconds=25, state='R'):
        import slot_guard
        w = slot_guard.Watch('/none')
        tick = slot_guard.TICK
        # (time, pid, utime, stime, voluntary switches, a Wine program ran, state)
        w.samples = [(t, 7) + server(t, tick) + (running, state) for t in range(seconds + 1)]
        return w.spinning()

    def test_a_server_looping_in_user_space(self):
        spin = self.watch(lambda t, tick: (t * tick // 2, t // 10, 40))
        self.assertEqual((spin['pid'], spin['seconds'], spin['user']), (7, 25, 12.5))
        self.assertIsNone(self.watch(lambda t, tick: (t * tick // 2, 0, 40), seconds=15),
                          'spun for less than asked')

    def test_a_busy_or_waiting_server_is_not_spinning(self):
        cases = {
            'it blocked now and then': lambda t, tick: (t * tick // 2, 0, 40 + t // 5),
            'it made system calls': lambda t, tick: (t * tick // 2, t * tick // 4, 40),
            'it hardly ran': lambda t, tick: (t // 2, 0, 40),
        }
        for why, server in cases.items():
            with self.subTest(why):
                self.assertIsNone(self.watch(server))
        self.assertIsNone(self.watch(lambda t, tick: (t * tick, 0, 40), running=True),
                          'a Wine program of the slot ran')
        self.assertIsNone(self.watch(lambda t, tick: (t * tick, 0, 40), state='S'),
                          'it sleeps now')


if __name__ == '__main__':
    unittest.main()
