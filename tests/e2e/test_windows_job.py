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

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
WORKFLOW = os.path.join(REPO, '.github', 'workflows', 'windows-release.yml')
sys.path.insert(0, HERE)
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
    def write(self, folder, text):
        path = os.path.join(folder, 'cases.txt')
        with open(path, 'w', encoding='utf-8') as f:
            f.write(text)
        return path

    def test_the_repository_list_names_existing_cases_and_its_count(self):
        import list_tests
        names = windows_cases.read_list(windows_cases.LIST)
        self.assertGreaterEqual(len(names), 6)
        self.assertLessEqual(set(names), set(list_tests.cases(HERE)))

    def test_a_count_that_is_not_the_names_fails(self):
        with tempfile.TemporaryDirectory() as folder:
            path = self.write(folder, 'count: 3\ntest_a.A.test_x\ntest_b.B.test_y\n')
            with self.assertRaisesRegex(windows_cases.BadList, 'count: 3 but names 2'):
                windows_cases.read_list(path)
            said = subprocess.run([sys.executable, os.path.join(HERE, 'windows_cases.py'),
                                   '--report', folder, '--list', path], capture_output=True, text=True)
            self.assertEqual(said.returncode, 1)

    def test_outcomes_of_a_unittest_run(self):
        ok = 'test_x (m.C.test_x) ... ok\n\nRan 1 test in 2.0s\n\nOK\n'
        skipped = "test_x (m.C.test_x) ... skipped 'no such thing here'\n\nRan 1 test in 0.0s\n\nOK (skipped=1)\n"
        failed = 'test_x (m.C.test_x) ... FAIL\n\nRan 1 test in 1.0s\n\nFAILED (failures=1)\n'
        self.assertEqual(windows_cases.outcome(0, ok), ('passed', ''))
        self.assertEqual(windows_cases.outcome(0, skipped), ('skipped', "'no such thing here'"))
        self.assertEqual(windows_cases.outcome(1, failed)[0], 'failed')
        self.assertEqual(windows_cases.outcome(5, '\nRan 0 tests in 0.0s\n\nNO TESTS RAN\n')[0], 'missing')

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
            self.assertEqual(problems, ['1 of 2 listed cases ran; not run: test_b.B.test_y'])
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
        # A listed name that names no test: unittest runs nothing there.
        with tempfile.TemporaryDirectory() as folder:
            path = self.write(folder, 'count: 1\ntest_windows_job.CaseListTest.test_gone\n')
            said = subprocess.run([sys.executable, os.path.join(HERE, 'windows_cases.py'),
                                   '--report', os.path.join(folder, 'r'), '--list', path],
                                  capture_output=True, text=True, timeout=120)
            self.assertEqual(said.returncode, 1, said.stdout)
            self.assertIn('0 passed, 1 failed, 0 skipped', said.stdout)
            self.assertNotEqual(windows_cases.verify(os.path.join(folder, 'r'),
                                                     ['test_windows_job.CaseListTest.test_gone']), [])

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
