"""Offline checks of the harness: the model of a console's screen, the
waiting helper and the test summary (the Windows workflow:
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
import console_driver  # noqa: E402
import waiting  # noqa: E402

class ConsoleModelTest(unittest.TestCase):
    """The expected side of every console check: the buffer a console keeps
    for the writes, as segments."""

    def test_runs_of_one_colour_a_line_end_in_the_colour_before_it(self):
        notice = '免责声明：'
        writes = [((notice + '\r\n').encode('gbk'), 0xFC), (b'%d %s 100%', 0x5F), (b'\r\n', 0x07),
                  (b'ID ', 0x03), (b'1234\r\n', 0x07), (b'ok\n', 0x0A)]
        self.assertEqual(console_driver.expected_segments(writes), [
            ((notice + '\r\n').encode('utf-8'), 0xFC), (b'%d %s 100%\r\n', 0x5F), (b'ID ', 0x03), (b'1234\r\n', 0x07), (b'ok\r\n', 0x0A)])

    def test_wrap_tab_backspace_and_trailing_blanks(self):
        writes = [(b'y' * 12, 0x4E), (b'b' * 14, 0x1F), (b'\r\nnext    \r\n', 0x07),
                  (b'a\tb\bc\r\n', 0x07)]
        self.assertEqual(console_driver.expected_segments(writes, cols=20), [
            (b'y' * 12, 0x4E), (b'b' * 8 + b'\r\n' + b'b' * 6 + b'\r\n', 0x1F),
            (b'next\r\na       c\r\n', 0x07)])

    def test_a_write_that_fills_the_line_ends_on_the_next(self):
        full = console_driver.expected_segments([(b'x' * 10, 0x07), (b'\r\ny\r\n', 0x07)], cols=10)
        self.assertEqual(full, [(b'x' * 10 + b'\r\n\r\ny\r\n', 0x07)])
        within = console_driver.expected_segments([(b'x' * 10 + b'\r\ny\r\n', 0x07)], cols=10)
        self.assertEqual(within, [(b'x' * 10 + b'\r\ny\r\n', 0x07)])

    def test_the_first_difference_is_named(self):
        said = console_driver.diff_segments([(b'a\r\n', 7), (b'b', 3)], [(b'a\r\n', 7), (b'b', 4)])
        self.assertIn('segments differ at #1', said)
        self.assertEqual(console_driver.diff_segments([(b'a', 7)], [(b'a', 7)]), '')


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
