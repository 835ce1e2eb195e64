"""The slot guard against the real Wine: under Wine 10, window_churn.exe makes
the wineserver loop for good within seconds, and the guard must catch it,
keep what the slot looked like, make the slot fresh and run the command once
more there. Under Wine 8 the same churn keeps the server busy, never looping:
that must not be taken for a spin. The guard watches a session of its own
here, beside the test's slot, so that ending a slot ends nothing of the
test's."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import placement
import wineenv

HERE = os.path.dirname(os.path.abspath(__file__))
SPIN_SECONDS = 5

# The guarded command: the first run churns, a run after it starts one Wine
# program in the fresh session and passes its exit code on.
COMMAND = r'''
import os, subprocess, sys
here, churn, marker, seconds = sys.argv[1:]
wine_run = os.path.join(here, 'wine-run')
if os.path.exists(marker):
    sys.exit(subprocess.run([wine_run, 'cmd', '/c', 'exit', '7']).returncode)
open(marker, 'w').close()
sys.exit(subprocess.run([wine_run, churn, seconds]).returncode)
'''


class GuardedSession(unittest.TestCase):
    """A session of the guard's own; its cases run under Wine 10 alone or
    under Wine 8 alone."""
    wine_10 = None

    def setUp(self):
        wineenv.require_wine(need_helpers=True)
        if wineenv.wine_10() != self.wine_10:
            self.skipTest("Wine 10's wineserver loops on this churn, Wine 8's does not: "
                          "the case is for Wine %s" % (10 if self.wine_10 else 8))
        self.build = wineenv.build_dir()
        self.base = tempfile.mkdtemp(prefix='guard-', dir=self.build)
        self.addCleanup(shutil.rmtree, self.base, ignore_errors=True)
        # Linked, not copied: the session copies it into its slot.
        subprocess.run(['cp', '-al', os.path.join(self.build, 'wineprefix'),
                        os.path.join(self.base, 'wineprefix')], check=True)
        # Stopped however the start ends: it may have started its X server.
        self.addCleanup(self.session, 'stop')
        root = wineenv.wine_root()
        self.session('start', '--slots', '1', *(['--root', root] if root else []))
        self.slot = os.path.join(self.base, 'slots', '1')

    def session(self, *args):
        done = subprocess.run([os.path.join(HERE, 'wine-session'), args[0], self.base] + list(args[1:]),
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=300)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)

    def guard(self, churn_seconds, **env):
        """Runs the guarded command; (exit code, what it printed)."""
        marker = os.path.join(self.base, 'ran-once')
        e = dict(os.environ, WINEPREFIX=os.path.join(self.slot, 'wineprefix'), TG_SESSION=self.slot,
                 TG_WINE_SPIN_SECONDS=str(SPIN_SECONDS), **env)
        done = subprocess.run(
            [sys.executable, os.path.join(HERE, 'slot_guard.py'), self.base, '1',
             sys.executable, '-c', COMMAND, HERE, wineenv.helper_path('window_churn'), marker,
             str(churn_seconds)],
            env=e, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=240)
        return done.returncode, done.stdout + done.stderr

    def kept(self):
        spins = os.path.join(self.base, 'wine-spins')
        return sorted(os.listdir(spins)) if os.path.isdir(spins) else []


@placement.runs('host_only')
class LoopingServerTest(GuardedSession):
    wine_10 = True

    def test_a_looping_server_is_caught_and_the_command_runs_again_in_a_fresh_session(self):
        code, said = self.guard(60)
        self.assertEqual(code, 7, said)
        self.assertRegex(said, r'wine-spin: the wineserver of slot 1 \(pid \d+\) spun')
        self.assertIn('wine-spin: running the case once more, in a fresh session of slot 1', said)
        self.assertIn('wine-spin: the run in a fresh session ended with exit code 7', said)
        kept = self.kept()
        self.assertEqual(len(kept), 1, kept)
        folder = os.path.join(self.base, 'wine-spins', kept[0])
        with open(os.path.join(folder, 'processes.txt')) as f:
            self.assertIn('window_churn', f.read())
        with open(os.path.join(folder, 'server.txt')) as f:
            self.assertRegex(f.read(), r'^wineserver \d+ ran [\d.]+ s in user space')

    def test_without_a_rerun_the_loop_fails_the_case(self):
        code, said = self.guard(60, TG_WINE_SPIN_RERUN='0')
        self.assertEqual(code, 1, said)
        self.assertIn('wine-spin: the case fails: TG_WINE_SPIN_RERUN=0', said)
        self.assertEqual(len(self.kept()), 1)
        # The slot was made fresh all the same: the next command runs there.
        code, said = self.guard(60)
        self.assertEqual(code, 7, said)
        self.assertNotIn('wine-spin:', said)


@placement.runs('host_only')
class BusyServerTest(GuardedSession):
    wine_10 = False

    def test_a_busy_server_is_no_spin(self):
        code, said = self.guard(3 * SPIN_SECONDS)
        self.assertEqual(code, 0, said)
        self.assertNotIn('wine-spin:', said)
        self.assertEqual(self.kept(), [])


if __name__ == '__main__':
    unittest.main()
