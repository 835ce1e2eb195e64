"""Offline checks of the hosted Windows job, which cannot run here: the
workflow passes actionlint and has the shape that makes a green run mean
something, and the case runner's checks fail a run that proves less than
the list of cases (a case not run, skipped, failed or without transcript).
These test the checks, not Windows."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import yaml

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
E2E = os.path.join(REPO, 'tests', 'e2e')
WORKFLOW = os.path.join(REPO, '.github', 'workflows', 'windows-release.yml')
sys.path.insert(0, E2E)
import windows_cases  # noqa: E402

# A console driver's result.json: attached, one line read after the end.
SCREEN_RESULT = {'pid': 1, 'exit_code': 0, 'elapsed_ms': 10, 'stopped': False, 'timed_out': False,
                 'attached': True, 'running': None,
                 'after': {'cols': 250, 'rows': 300, 'title': '', 'lines': [
                     {'text': 'ok', 'attrs': [7, 7]}]}}

# A marked case as the runner starts it: it leaves a console transcript in
# TG_TRANSCRIPTS as a run over the driver does, prints what it is told and
# passes or fails.
MARKED_CASE = """import json
import os
import unittest

import placement


class W(unittest.TestCase):
    @placement.runs('windows')
    def test_x(self):
        run = os.path.join(os.environ['TG_TRANSCRIPTS'], 'run-1')
        os.makedirs(run)
        with open(os.path.join(run, 'result.json'), 'w') as f:
            json.dump(%(result)r, f)
        print(%(printed)r)
        self.assertTrue(%(passes)r, %(printed)r)
"""


def lint(path):
    node = shutil.which('node')
    if not node:
        raise AssertionError('node is missing (tools/setup.sh installs it)')
    return subprocess.run([node, os.path.join(REPO, 'tools', 'lint_workflows.cjs'), path],
                          capture_output=True, text=True, timeout=120)


def ended(pid, within=10):
    """Whether process pid is gone (or a zombie) within `within` seconds."""
    end = time.monotonic() + within
    while time.monotonic() < end:
        try:
            with open('/proc/%d/stat' % pid) as f:
                if f.read().rsplit(')', 1)[1].split()[0] == 'Z':
                    return True
        except OSError:
            return True
        time.sleep(0.1)
    return False


class WorkflowTest(unittest.TestCase):
    def setUp(self):
        with open(WORKFLOW, encoding='utf-8') as f:
            self.text = f.read()
        self.flow = yaml.safe_load(self.text)

    def test_actionlint_finds_nothing_and_catches_a_misspelled_key(self):
        said = lint(WORKFLOW)
        self.assertEqual(said.returncode, 0, said.stdout + said.stderr)
        self.assertIn('0 finding(s)', said.stdout)
        with tempfile.TemporaryDirectory() as folder:
            broken = os.path.join(folder, 'broken.yml')
            with open(broken, 'w', encoding='utf-8') as f:
                f.write(self.text.replace('    needs: build\n', '    need: build\n', 1))
            said = lint(broken)
        self.assertEqual(said.returncode, 1, said.stdout + said.stderr)
        self.assertIn('unexpected key "need"', said.stdout)

    def runs(self, job):
        return '\n'.join(s.get('run', '') for s in self.flow['jobs'][job]['steps'])

    def test_the_release_is_built_on_linux_and_only_run_on_windows(self):
        build, windows = self.flow['jobs']['build'], self.flow['jobs']['windows']
        self.assertEqual(build['container'], 'debian:12')
        self.assertIn('bash tools/release.sh', self.runs('build'))
        self.assertIn('sha256', build['outputs'])
        self.assertEqual(windows['needs'], 'build')
        self.assertEqual(windows['runs-on'], 'windows-latest')
        runs = self.runs('windows')
        for word in ('cmake', 'ninja', 'msys', 'gcc', 'ctest'):
            self.assertNotIn(word, runs.lower())
        self.assertIn('Get-FileHash', runs)
        self.assertIn('needs.build.outputs.sha256', self.text)
        self.assertIn('Get-MpComputerStatus', runs)
        uses = [s.get('uses', '') for s in windows['steps']]
        self.assertEqual(sum(u.startswith('actions/download-artifact') for u in uses), 2)

    def test_the_windows_job_runs_and_verifies_the_whole_list(self):
        steps = self.flow['jobs']['windows']['steps']
        runs = self.runs('windows')
        self.assertIn('windows_cases.py --report results/cases\n', runs)
        self.assertIn('windows_cases.py --verify results/cases', runs)
        self.assertIn('windows_cases.py --gtest', runs)
        upload = [s for s in steps if s.get('uses', '').startswith('actions/upload-artifact')]
        self.assertEqual(upload[-1]['if'], '${{ always() }}')
        self.assertEqual(upload[-1]['with']['path'], 'results/')


class CaseListTest(unittest.TestCase):
    def write(self, folder, name, text):
        with open(os.path.join(folder, name), 'w', encoding='utf-8') as f:
            f.write(text)

    def run_cases(self, folder, *args):
        return subprocess.run([sys.executable, os.path.join(E2E, 'windows_cases.py'),
                               '--report', os.path.join(folder, 'r'), '--folder', folder] + list(args),
                              capture_output=True, text=True, timeout=120,
                              env=dict(os.environ, PYTHONPATH=E2E))

    def run_marked(self, work, result=None, printed='ok', passes=True, encoding='utf-8', timeout=120):
        """Runs one marked case as the workflow does: in work, with the
        cases' and the report's folders relative to it; (the runner's exit
        status, its output as bytes, report.json or None)."""
        os.makedirs(os.path.join(work, 'cases'))
        self.write(os.path.join(work, 'cases'), 'test_w.py',
                   MARKED_CASE % {'result': result or SCREEN_RESULT, 'printed': printed,
                                  'passes': passes})
        said = subprocess.run([sys.executable, os.path.join(E2E, 'windows_cases.py'), '--report',
                               os.path.join('results', 'cases'), '--folder', 'cases'],
                              cwd=work, capture_output=True, timeout=timeout,
                              env=dict(os.environ, PYTHONPATH=E2E, PYTHONIOENCODING=encoding))
        try:
            with open(os.path.join(work, 'results', 'cases', 'report.json'), encoding='utf-8') as f:
                report = json.load(f)
        except OSError:
            report = None
        return said.returncode, said.stdout, said.stderr, report

    def test_a_passing_case_with_its_transcript_passes_with_a_relative_report_folder(self):
        with tempfile.TemporaryDirectory() as work:
            code, output, _, report = self.run_marked(work)
            self.assertEqual(code, 0, output.decode('utf-8', 'replace'))
            self.assertEqual([(r['state'], r['transcripts']) for r in report['cases']],
                             [('passed', ['run-1'])])
            self.assertTrue(report['finished'])
            # The transcript is in the report's folder, where the artifact
            # and --verify look, not under the cases' folder.
            self.assertTrue(os.path.isfile(os.path.join(
                work, 'results', 'cases', 'test_w.W.test_x', 'console', 'run-1', 'result.json')))
            self.assertFalse(os.path.exists(os.path.join(work, 'cases', 'results')))
            verified = subprocess.run([sys.executable, os.path.join(E2E, 'windows_cases.py'), '--verify',
                                       os.path.join('results', 'cases'), '--folder', 'cases'],
                                      cwd=work, capture_output=True, text=True, timeout=120,
                                      env=dict(os.environ, PYTHONPATH=E2E))
            self.assertEqual(verified.returncode, 0, verified.stdout)

    def test_a_failing_case_printing_chinese_to_a_cp1252_pipe_is_reported(self):
        # Python on hosted Windows writes a pipe in the ANSI code page.
        with tempfile.TemporaryDirectory() as work:
            code, output, errors, report = self.run_marked(work, printed='补丁对比图 没有打开',
                                                           passes=False, encoding='cp1252')
            text = output.decode('cp1252', 'replace')
            self.assertEqual(code, 1, text + errors.decode('cp1252', 'replace'))
            self.assertEqual(errors, b'')               # no traceback of the runner's
            self.assertIn('0 passed, 1 failed, 0 skipped', text)
            self.assertIn('\\u8865\\u4e01', text)          # escaped, not lost
            self.assertEqual([r['state'] for r in report['cases']], ['failed'])
            with open(os.path.join(work, 'results', 'cases', 'test_w.W.test_x', 'output.txt'),
                      encoding='utf-8') as f:
                self.assertIn('补丁对比图 没有打开', f.read())

    def test_a_transcript_of_a_console_never_attached_to_fails_a_passing_case(self):
        with tempfile.TemporaryDirectory() as work:
            unattached = dict(SCREEN_RESULT, attached=False, after=None)
            code, output, _, report = self.run_marked(work, result=unattached)
            self.assertEqual(code, 1, output)
            self.assertEqual(report['cases'][0]['state'], 'failed')
            self.assertIn("run-1: the driver never attached to the program's console",
                          report['cases'][0]['detail'])
        with tempfile.TemporaryDirectory() as work:
            code, output, _, report = self.run_marked(
                work, result={'error': 'CreateProcessW failed', 'code': 2})
            self.assertEqual(code, 1, output)
            self.assertIn('run-1: the program did not start (CreateProcessW failed, code 2)',
                          report['cases'][0]['detail'])

    def test_a_case_out_of_time_is_ended_with_what_it_started(self):
        # The case starts a program that outlives it and holds its output
        # open; both end at the time-out, and the next run is not held up.
        case = """import subprocess
import sys
import time
import unittest

import placement


class Slow(unittest.TestCase):
    @placement.runs('windows')
    def test_slow(self):
        child = subprocess.Popen([sys.executable, '-c', 'import time; time.sleep(120)'])
        with open('child.pid', 'w') as f:
            f.write(str(child.pid))
        time.sleep(120)
"""
        with tempfile.TemporaryDirectory() as folder:
            self.write(folder, 'test_slow.py', case)
            started = time.monotonic()
            said = self.run_cases(folder, '--timeout', '3')
            self.assertLess(time.monotonic() - started, 60)
            self.assertEqual(said.returncode, 1, said.stdout)
            self.assertIn('timed out after 3 s', said.stdout)
            with open(os.path.join(folder, 'child.pid')) as f:
                child = int(f.read())
            self.assertTrue(ended(child), 'the program the case started runs on')
            with open(os.path.join(folder, 'r', 'report.json'), encoding='utf-8') as f:
                self.assertEqual(json.load(f)['cases'][0]['state'], 'failed')

    def test_the_marked_cases_are_cases_of_the_suite(self):
        import list_tests
        names = windows_cases.listed()
        self.assertGreaterEqual(len(names), 6)
        self.assertLessEqual(set(names), {case for case, _ in list_tests.cases(E2E)})

    def test_a_wrong_mark_or_none_fails(self):
        with tempfile.TemporaryDirectory() as folder:
            self.write(folder, 'test_a.py', 'import placement\nimport unittest\n\n\n'
                       'class A(unittest.TestCase):\n    def test_x(self):\n        pass\n')
            with self.assertRaisesRegex(windows_cases.BadList, 'no case in .* is marked'):
                windows_cases.listed(folder)
            self.write(folder, 'test_b.py', 'import placement\nimport unittest\n\n\n'
                       'class B(unittest.TestCase):\n    @placement.runs("window")\n'
                       '    def test_y(self):\n        pass\n')
            with self.assertRaisesRegex(windows_cases.BadList, 'test_b.py:6: not a placement label'):
                windows_cases.listed(folder)
            self.assertEqual(self.run_cases(folder).returncode, 1)

    def report(self, folder, listed, cases, transcripts=True, attached=True):
        for case in cases:
            if transcripts:
                run = os.path.join(folder, case['case'], 'console', 'run-1')
                os.makedirs(run)
                with open(os.path.join(run, 'result.json'), 'w') as f:
                    json.dump(dict(SCREEN_RESULT, attached=attached), f)
        with open(os.path.join(folder, 'report.json'), 'w') as f:
            json.dump({'cases': cases}, f)
        return windows_cases.verify(folder, listed)

    def test_verify_fails_a_run_that_proves_less_than_the_list(self):
        listed = ['test_a.A.test_x', 'test_b.B.test_y']
        passed = [{'case': c, 'state': 'passed', 'detail': ''} for c in listed]
        with tempfile.TemporaryDirectory() as folder:
            self.assertEqual(self.report(folder, listed, passed), [])
        with tempfile.TemporaryDirectory() as folder:
            problems = self.report(folder, listed, passed[:1])
            self.assertEqual(problems, ['1 of 2 marked cases ran; not run: test_b.B.test_y'])
        with tempfile.TemporaryDirectory() as folder:
            skipped = [passed[0], dict(passed[1], state='skipped', detail='no screen')]
            self.assertEqual(self.report(folder, listed, skipped), ['test_b.B.test_y skipped: no screen'])
        with tempfile.TemporaryDirectory() as folder:
            problems = self.report(folder, listed, passed, transcripts=False)
            self.assertEqual(len(problems), 2)
            self.assertIn('left no console transcript', problems[0])
        with tempfile.TemporaryDirectory() as folder:
            problems = self.report(folder, listed, passed, attached=False)
            self.assertEqual(len(problems), 2)
            self.assertIn("run-1: the driver never attached to the program's console", problems[0])
        with tempfile.TemporaryDirectory() as folder:
            self.assertEqual(len(windows_cases.verify(folder, listed)), 1)   # no report

    def test_a_case_that_does_not_run_fails_the_runner(self):
        # Marked, but not a test case: unittest runs nothing there.
        with tempfile.TemporaryDirectory() as folder:
            self.write(folder, 'test_gone.py', 'import placement\n\n\n'
                       'class Gone:\n    @placement.runs("windows")\n    def test_gone(self):\n'
                       '        pass\n')
            said = self.run_cases(folder)
            self.assertEqual(said.returncode, 1, said.stdout)
            self.assertIn('0 passed, 1 failed, 0 skipped', said.stdout)
            self.assertNotEqual(windows_cases.verify(os.path.join(folder, 'r'),
                                                     ['test_gone.Gone.test_gone']), [])
            self.assertIn('not marked', self.run_cases(folder, 'test_gone.Gone.test_other').stdout)

    def test_gtest_reports_that_prove_nothing_fail(self):
        good = ('<testsuites><testsuite name="S"><testcase name="a" status="run" result="completed" '
                'classname="S"/></testsuite></testsuites>')
        skipped = good.replace('result="completed" classname="S"/>',
                               'result="skipped" classname="S"><skipped message=""/></testcase>')
        with tempfile.TemporaryDirectory() as folder:
            for text, problems in ((good, []), (skipped, ['S.a skipped']),
                                   ('<testsuites/>', ['no case ran'])):
                path = os.path.join(folder, 'r.xml')
                with open(path, 'w') as f:
                    f.write(text)
                self.assertEqual(windows_cases.gtest_problems(path)[1], problems)
            self.assertTrue(windows_cases.gtest_problems(os.path.join(folder, 'none.xml'))[1])


class DesktopTest(unittest.TestCase):
    GOOD = {'session': 1, 'station': 'WinSta0', 'own_desktop': 'Default', 'input_desktop': 'Default',
            'shell': 'explorer.exe', 'shell_pid': 4242, 'screen': [1920, 1080]}

    def test_a_logged_on_session_with_a_shell_has_a_desktop(self):
        self.assertEqual(windows_cases.desktop_problems(self.GOOD), [])
        self.assertEqual(windows_cases.describe_desktop(self.GOOD),
                         'desktop: session 1, window station WinSta0, this process on desktop Default,'
                         ' input desktop Default, shell explorer.exe (PID 4242), screen 1920 x 1080')

    def test_a_service_session_a_locked_screen_or_no_shell_has_none(self):
        service = dict(self.GOOD, session=0, station='Service-0x0-3e7$', input_desktop=None,
                       shell=None, shell_pid=None, screen=[1024, 768])
        problems = windows_cases.desktop_problems(service)
        self.assertEqual(len(problems), 4, problems)
        self.assertIn('session 0, where services run', problems[0])
        self.assertIn('no shell runs on the desktop', problems[3])
        locked = windows_cases.desktop_problems(dict(self.GOOD, input_desktop='Winlogon'))
        self.assertEqual(locked, ['the input desktop is Winlogon (a locked screen or a secure'
                                  ' desktop), not Default'])
        self.assertIn('no screen', windows_cases.desktop_problems(dict(self.GOOD, screen=[0, 0]))[0])

    def test_the_check_records_and_fails_where_there_is_no_windows_desktop(self):
        if os.name == 'nt':
            self.skipTest('Windows itself')
        with tempfile.TemporaryDirectory() as folder:
            record = os.path.join(folder, 'machine.txt')
            with open(record, 'w', encoding='utf-8') as f:
                f.write('Windows: none\n')
            said = subprocess.run([sys.executable, os.path.join(E2E, 'windows_cases.py'), '--desktop',
                                   record], capture_output=True, text=True, timeout=60)
            self.assertEqual(said.returncode, 1, said.stdout + said.stderr)
            with open(record, encoding='utf-8') as f:
                self.assertEqual(f.read(), 'Windows: none\ndesktop: none (not Windows)\n'
                                           'no desktop: this is not Windows\n')


if __name__ == '__main__':
    unittest.main()
