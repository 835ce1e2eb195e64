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
import unittest

import yaml

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
E2E = os.path.join(REPO, 'tests', 'e2e')
WORKFLOW = os.path.join(REPO, '.github', 'workflows', 'windows-release.yml')
sys.path.insert(0, E2E)
import windows_cases  # noqa: E402


def lint(path):
    node = shutil.which('node')
    if not node:
        raise AssertionError('node is missing (tools/setup.sh installs it)')
    return subprocess.run([node, os.path.join(REPO, 'tools', 'lint_workflows.cjs'), path],
                          capture_output=True, text=True, timeout=120)


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

    def report(self, folder, listed, cases, transcripts=True):
        for case in cases:
            if transcripts:
                run = os.path.join(folder, case['case'], 'console', 'run-1')
                os.makedirs(run)
                with open(os.path.join(run, 'result.json'), 'w') as f:
                    f.write('{}')
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


if __name__ == '__main__':
    unittest.main()
