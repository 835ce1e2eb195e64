"""Offline checks of tests/e2e/runner.py (where a case runs) and
tests/e2e/settings.py (the TG_* variables), and of the shape of the test
machinery: one file reads the variables, two act on a case's placement,
and docs/testing.md names every variable the project reads."""

import io
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest
import unittest.mock

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
E2E = os.path.join(REPO, 'tests', 'e2e')
sys.path.insert(0, E2E)
import runner  # noqa: E402
import settings  # noqa: E402

NO_32 = "this host's kernel runs no 32-bit code: IA-32 emulation is off"
# The environment without the run's own variables (TG_HOST32_PRETEND among them).
UNMARKED = 'test_any_folder.AnyFolderTest.test_names_beyond_code_page_936'
CLEAN = {k: v for k, v in os.environ.items() if not k.startswith(('TG_', 'CTEST_'))}


class Probe:
    """A host probe that answers `code` and counts its calls."""

    def __init__(self, code, said=''):
        self.answer, self.calls = (code, said), 0

    def __call__(self):
        self.calls += 1
        return self.answer


def host(code=0, **facts):
    facts.setdefault('bits32', True)
    facts.setdefault('guest', False)
    facts.setdefault('machine', False)
    facts.setdefault('vm32_all', False)
    return runner.Host(probe=Probe(code, NO_32 if code == 1 else ''), **facts)


class DecisionTest(unittest.TestCase):
    """decide(): skip, this host's Wine, the machine or its one conformance run."""

    def test_a_host_without_32_bit_code_sends_the_marked_cases_into_its_machine(self):
        machine = host(1, machine=True)
        self.assertEqual(runner.decide('case', ['vm32'], machine), ('machine', None))
        self.assertEqual(runner.decide('case', ['vm32', 'windows'], machine), ('machine', None))
        self.assertEqual(runner.decide('conformance', [], machine), ('batch', None))
        # The run of every conformance case is no case: it goes in.
        for kind in ('batch', 'command'):
            self.assertEqual(runner.decide(kind, [], machine), ('machine', None))
        action, why = runner.decide('case', [], machine)
        self.assertEqual(action, 'skip')
        self.assertIn('TG_VM32_ALL=1 runs it', why)
        self.assertEqual(runner.decide('case', [], host(1, machine=True, vm32_all=True)),
                         ('machine', None))
        self.assertEqual(runner.decide('case', ['host_only'], host(1, machine=True, vm32_all=True))[0],
                         'skip')
        # Inside, every case runs in its slot.
        self.assertEqual(runner.decide('case', ['host_only'], host(1, bits32=False, guest=True)),
                         ('wine', None))

    def test_without_the_machine_a_32_bit_case_skips_with_the_cause(self):
        h = host(1)
        self.assertEqual(runner.decide('case', ['vm32'], h), ('skip', NO_32))
        self.assertEqual(runner.decide('conformance', [], h), ('skip', NO_32))
        self.assertEqual(runner.decide('batch', [], h), ('skip', NO_32))
        self.assertEqual(h._probe.calls, 1)
        with self.assertRaisesRegex(RuntimeError, 'cannot tell'):
            runner.decide('case', [], host(2))

    def test_a_host_with_32_bit_code_runs_every_case_in_its_own_wine(self):
        for labels in ([], ['vm32'], ['spared_at_64', 'windows']):
            self.assertEqual(runner.decide('case', labels, host(0)), ('wine', None))
        # The 64-bit suite spares what the 32-bit one runs here, and only that.
        self.assertEqual(runner.decide('case', ['spared_at_64'], host(0, bits32=False)),
                         ('skip', 'the 32-bit suite runs this case on this host'))
        for code in (1, 2):
            self.assertEqual(runner.decide('case', ['spared_at_64'], host(code, bits32=False)),
                             ('wine', None))
        h = host(0, bits32=False)
        self.assertEqual(runner.decide('case', ['vm32'], h), ('wine', None))
        self.assertEqual(h._probe.calls, 0)
        # Every conformance case reads its result from the one run of them
        # all, which runs in this host's Wine.
        for h in (host(0), host(1, bits32=False)):
            self.assertEqual(runner.decide('conformance', [], h), ('batch', None))
            self.assertEqual(runner.decide('batch', [], h), ('wine', None))

    def test_a_case_for_windows_runs_as_the_windows_job_runs_it_and_no_other_does(self):
        self.assertEqual(runner.decide('case', ['windows'], host(0, bits32=False)), ('wine', None))
        marked = runner.command_of('case', ['test_a.A.test_b'], ['vm32', 'windows'])
        self.assertEqual((os.path.basename(marked[1]), marked[2]), ('runner.py', 'windows'))
        self.assertEqual(marked[-1], 'test_a.A.test_b')
        self.assertEqual(runner.command_of('case', ['test_a.A.test_b'], ['vm32'])[1:],
                         ['-m', 'unittest', '-v', 'test_a.A.test_b'])

    def test_an_unknown_mark_is_refused(self):
        with self.assertRaisesRegex(runner.BadMark, 'vm64'):
            runner.decide('case', ['vm64'], host(0))
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, 'test_x.py'), 'w') as f:
                f.write("import placement\n\nclass T:\n    @placement.runs('vm64')\n"
                        "    def test_a(self):\n        pass\n")
            said = subprocess.run([sys.executable, os.path.join(E2E, 'runner.py'), 'list', folder],
                                  capture_output=True, text=True)
        self.assertEqual(said.returncode, 1)
        self.assertIn("test_x.py:4: not a placement label: 'vm64'", said.stderr)

    def test_the_marks_of_the_cases(self):
        found = dict(runner.cases())
        self.assertIn('vm32', found['test_banner.BannerTest.test_banner_on_a_chinese_console'])
        self.assertEqual(found['test_slot_guard.LoopingServerTest.test_without_a_rerun_the_loop_fails_the_case'],
                         ['host_only'])
        self.assertTrue(runner.listed())

    def test_where_a_case_ran_is_read_back(self):
        self.assertEqual(runner.where_of('x\nwhere: wine (wine64, slot 2)\nOK\n'), 'wine')
        self.assertEqual(runner.where_of('where: machine (...)\nwhere: batch (...)\n'), 'batch')
        self.assertIsNone(runner.where_of('skipped: why\n'))
        import xml.etree.ElementTree as ET
        report = ET.fromstring(
            '<testsuite><testcase name="a" status="run"><system-out>where: wine (x)</system-out></testcase>'
            '<testcase name="b" status="fail"><system-out>where: batch (x)</system-out></testcase>'
            '<testcase name="c" status="run"><system-out>where: wine (x)</system-out></testcase>'
            '<testcase name="d" status="notrun"><system-out>where: wine (x)</system-out></testcase>'
            '<testcase name="e" status="run"><system-out>ok</system-out></testcase></testsuite>')
        self.assertEqual(runner.where_ran(report), "2 in this host's Wine, 1 in the one run "
                                                   "of every conformance case")


class RunTest(unittest.TestCase):
    """The runner's commands, with the probe made to answer "no"
    (TG_HOST32_PRETEND) or this host's answer, and a machine that was
    started but answers nowhere."""

    def run_runner(self, *args, vm=False, bits=32, build=None, **extra):
        with tempfile.TemporaryDirectory() as temporary:
            build = build or temporary
            env = dict(CLEAN, TG_BUILD=build, PYTHONDONTWRITEBYTECODE='1', **extra)
            if bits == 32:
                env.setdefault('TG_WINE_ROOT', build)
            if vm:
                os.makedirs(os.path.join(build, 'vm32'), exist_ok=True)
                with open(os.path.join(build, 'vm32', 'vm32.env'), 'w') as f:
                    f.write('ACCEL=tcg\n')
            said = subprocess.run([sys.executable, os.path.join(E2E, 'runner.py')] + list(args),
                                  env=env, cwd=E2E, capture_output=True, text=True, timeout=300)
            return said.returncode, said.stdout + said.stderr, os.listdir(build)

    def test_in_the_machine_the_default_set_goes_in_and_the_rest_skip(self):
        code, out, _ = self.run_runner('case', UNMARKED,
                                       vm=True)
        self.assertEqual(code, 77, out)
        self.assertIn('TG_VM32_ALL=1 runs it', out)
        code, out, _ = self.run_runner('case', 'test_banner.BannerTest.test_banner_on_a_chinese_console',
                                       vm=True)
        self.assertEqual(code, 1, out)
        self.assertIn('no machine running', out)
        code, out, _ = self.run_runner('case', 'test_no_such.Case.test', vm=True)
        self.assertEqual(code, 1)
        self.assertIn('no case test_no_such.Case.test', out)

    def test_a_probe_that_cannot_tell_fails_the_case_saying_so(self):
        with tempfile.TemporaryDirectory(prefix='tg-no-root-') as cache:
            code, out, _ = self.run_runner('case', UNMARKED, TG_WINE32_CACHE=cache)
        self.assertEqual(code, 1, out)
        self.assertIn('runner: cannot tell whether this host runs 32-bit code', out)

    def test_conformance_cases_share_one_run_that_goes_in_the_same_way(self):
        with tempfile.TemporaryDirectory() as build:
            code, out, _ = self.run_runner('conformance', 'x.exe', '--gtest_filter=TextTest.FindForward',
                                           vm=True, build=build)
            self.assertEqual(code, 1)
            self.assertIn('conformance: no run of every case in', out)
            code, out, _ = self.run_runner('batch', 'x.exe', vm=True, build=build)
            self.assertEqual(code, 1)
            self.assertIn('no machine running', out)
            self.assertIn('conformance: the run of every case ended with 1', out)
            code, out, _ = self.run_runner('conformance', 'x.exe', '--gtest_filter=TextTest.FindForward',
                                           vm=True, build=build)
            self.assertEqual(code, 1)
            self.assertIn('conformance: the run of every case ended with 1', out)

    def test_outside_the_machine_a_command_runs_where_it_is(self):
        self.assertEqual(self.run_runner('command', '--', 'echo', 'ran', bits=64)[:2],
                         (0, "where: wine (this host's Wine, wine64)\nran\n"))

    def test_a_host_without_32_bit_code_and_no_machine_skips_and_starts_nothing(self):
        no = dict(TG_HOST32_PRETEND='no', TG_VM32='off', TG_E2E_REQUIRED='1',
                  TG_WINE_ROOT=os.path.join(tempfile.gettempdir(), 'no-such-root'))
        for args in (('setup', '.', '--slots', '2'), ('conformance', 'conformance_tests.exe'),
                     ('batch', 'conformance_tests.exe'),
                     ('case', 'test_banner.BannerTest.test_banner_on_a_chinese_console')):
            code, out, made = self.run_runner(*args, **no)
            self.assertEqual(code, 77, out)
            self.assertIn('skipped: ' + NO_32, out)
            self.assertEqual(made, [])

    def test_the_probe_answers_no_and_only_when_told(self):
        probe = [os.path.join(REPO, 'tools', 'host32.sh'), '--reason']
        said = subprocess.run(['bash'] + probe, env=dict(CLEAN, TG_HOST32_PRETEND='no'),
                              capture_output=True, text=True)
        self.assertEqual(said.returncode, 1)
        self.assertTrue(said.stdout.startswith(NO_32), said.stdout)
        # Without the pretence and without a root it cannot tell: an error.
        with tempfile.TemporaryDirectory(prefix='tg-no-root-') as cache:
            said = subprocess.run(['bash'] + probe[:1], env=dict(CLEAN, TG_WINE32_CACHE=cache),
                                  capture_output=True, text=True)
        self.assertEqual(said.returncode, 2, said.stdout)
        self.assertIn('cannot tell', said.stdout)


class ConformanceBatchTest(unittest.TestCase):
    """Every conformance case reads its own result from one run of them
    all: a failure, a skip or a missing case must not pass."""

    REPORT = """<?xml version="1.0" encoding="UTF-8"?>
<testsuites tests="3">
  <testsuite name="TextTest">
    <testcase name="FindForward" status="run" result="completed" classname="TextTest"/>
    <testcase name="FindBackward" status="run" result="completed" classname="TextTest">
      <failure message="text_test.cpp:40&#x0A;Expected equality" type=""/>
    </testcase>
    <testcase name="Later" status="run" result="skipped" classname="TextTest"><skipped message=""/></testcase>
  </testsuite>
  <testsuite name="Other"><testcase name="FindForward" status="run" result="completed" classname="Other">
    <failure message="the same name in another suite" type=""/></testcase></testsuite>
</testsuites>
"""

    def result(self, state, case):
        with unittest.mock.patch('sys.stdout', new_callable=io.StringIO) as out:
            code = runner.batch_result(state, case)
        return code, out.getvalue()

    def test_each_case_gets_its_own_result(self):
        with tempfile.TemporaryDirectory() as state:
            with open(os.path.join(state, 'conformance.xml'), 'w') as f:
                f.write(self.REPORT)
            self.assertEqual(self.result(state, 'TextTest.FindForward')[0], 0)
            code, out = self.result(state, 'TextTest.FindBackward')
            self.assertEqual(code, 1)
            self.assertIn('Expected equality', out)
            self.assertEqual(self.result(state, 'TextTest.Later')[0], 77)
            self.assertEqual(self.result(state, 'Other.FindForward')[0], 1)
            code, out = self.result(state, 'TextTest.Gone')
            self.assertEqual(code, 1)
            self.assertIn('not in the run of every case', out)

    def test_a_run_that_left_no_report_fails_every_case(self):
        with tempfile.TemporaryDirectory() as state:
            with open(os.path.join(state, 'conformance.failed'), 'w') as f:
                f.write('the run of every case ended with 255\n')
            code, out = self.result(state, 'TextTest.FindForward')
        self.assertEqual(code, 1)
        self.assertIn('ended with 255', out)


def code_lines(path):
    """The lines of a file that are not comments."""
    try:
        with open(path, encoding='utf-8') as f:
            lines = f.read().splitlines()
    except (UnicodeDecodeError, OSError):
        return []
    comment = '//' if path.endswith(('.cpp', '.h', '.c', '.cjs', '.js')) else '#'
    return [line for line in lines if not line.lstrip().startswith(comment)]


def kind(path):
    name = os.path.basename(path)
    if name == 'CMakeLists.txt' or name.endswith('.cmake'):
        return 'cmake'
    ext = os.path.splitext(name)[1]
    if ext in ('.py', '.cpp', '.h', '.c', '.yml', '.yaml', '.cjs', '.js', '.sh'):
        return ext[1:].replace('yaml', 'yml')
    try:
        with open(path, 'rb') as f:
            first = f.readline()
    except OSError:
        return None
    return 'sh' if first.startswith(b'#!') and b'sh' in first else None


# A TG_* variable read from the environment, by the kind of file.
ENV_READ = {
    'py': r"""environ\.get\(\s*['"](TG_\w+)|environ\[\s*['"](TG_\w+)['"]\s*\](?!\s*=[^=])|"""
          r"""getenv\(\s*['"](TG_\w+)|['"](TG_\w+)['"]\s+(?:not\s+)?in\s+os\.environ|"""
          r"""environ\.pop\(\s*['"](TG_\w+)""",
    'sh': r'\$\{?(TG_\w+)', 'cpp': r'getenv\(\s*"(TG_\w+)', 'h': r'getenv\(\s*"(TG_\w+)',
    'c': r'getenv\(\s*"(TG_\w+)', 'cmake': r'\$ENV\{(TG_\w+)',
    'yml': r'\$\{\{\s*env\.(TG_\w+)|\$env:(TG_\w+)|\$\{?(TG_\w+)', 'cjs': r'process\.env\.(TG_\w+)',
}
PLACEMENT = re.compile(r'host32\.sh|from placement import|placement\.LABELS|TG_LABELS|'
                       r'runner\.py list|\blist_tests\b|decorator_list')


def files(*tops):
    for top in tops:
        top = os.path.join(REPO, top)
        if os.path.isfile(top):
            yield top
        for folder, dirs, names in os.walk(top):
            dirs[:] = [d for d in dirs if d not in ('__pycache__', 'corpus', 'expected', '.git', 'build')]
            for name in names:
                yield os.path.join(folder, name)


def env_reads(path):
    """The TG_* variables the file reads from the environment."""
    pattern = ENV_READ.get(kind(path))
    if not pattern:
        return set()
    found = set()
    for line in code_lines(path):
        for m in re.finditer(pattern, line):
            found.update(g for g in m.groups() if g)
    return found


def machinery():
    """The test machinery: tests/ less the tools' own tests."""
    return [p for p in files('tests') if not p.startswith(os.path.join(REPO, 'tests', 'tools') + os.sep)]


class ShapeTest(unittest.TestCase):
    """What keeps the machinery simple, held by a test so that it stays."""

    def relative(self, paths):
        return sorted(os.path.relpath(p, REPO) for p in paths)

    def test_only_the_settings_module_reads_tg_variables(self):
        # It reads them by the names of its table; everything else asks it.
        self.assertIn("os.environ.get(name, '')", '\n'.join(code_lines(os.path.join(E2E, 'settings.py'))))
        self.assertEqual(self.relative(p for p in machinery() if env_reads(p)), [])

    def test_only_the_runner_and_cmake_act_on_placement(self):
        actors = [p for p in machinery() if kind(p) and os.path.basename(p) != 'placement.py'
                  and any(PLACEMENT.search(line) for line in code_lines(p))]
        self.assertEqual(self.relative(actors), ['tests/CMakeLists.txt', 'tests/e2e/runner.py'])

    def test_the_end_to_end_machinery_stays_within_its_size(self):
        # Everything of tests/e2e but its cases: fold before it grows past this.
        e2e = [p for p in machinery()
               if p.startswith(E2E + os.sep) and not os.path.basename(p).startswith('test_')]
        lines = sum(len(pathlib.Path(p).read_bytes().splitlines()) for p in e2e)
        self.assertLessEqual(lines, 3500, '%d lines in %d files' % (lines, len(e2e)))

    def test_every_variable_read_is_in_the_settings_and_the_docs(self):
        read = {}
        for path in files('tools', 'tests', 'cmake', '.ci', '.github', 'CMakeLists.txt'):
            for name in env_reads(path):
                read.setdefault(name, os.path.relpath(path, REPO))
        unknown = {n: p for n, p in read.items() if n not in settings.VARIABLES}
        self.assertEqual(unknown, {}, 'read from the environment, not in tests/e2e/settings.py')
        # The table is read from docs/testing.md: every typed variable is in it, once.
        self.assertEqual(sorted(set(settings.TYPES) - set(settings.VARIABLES)), [])
        with open(settings.DOCS, encoding='utf-8') as f:
            rows = [m[1] for m in map(settings.ROW.match, f.read().splitlines()) if m]
        self.assertEqual(len(rows), len(set(rows)), 'a variable in two rows of docs/testing.md')
        # And nothing in the table that nobody reads or sets.
        mentioned = set()
        skip = (os.path.join(E2E, 'settings.py'), os.path.abspath(__file__))
        for path in files('.'):
            if kind(path) and path not in skip and '/docs/' not in path and '/build/' not in path:
                mentioned.update(re.findall(r'\b((?:TG|FUZZ|BENCH)_\w+)', '\n'.join(code_lines(path))))
        self.assertEqual(sorted(set(settings.VARIABLES) - mentioned), [])

    def test_settings_give_values_of_their_type(self):
        old = dict(os.environ)
        try:
            for name in ('TG_WAIT_SCALE', 'TG_WINE_SPIN_RERUN', 'TG_BUILD', 'TG_VM32_ALL'):
                os.environ.pop(name, None)
            self.assertEqual(settings.get('TG_WAIT_SCALE'), 1.0)
            self.assertIs(settings.get('TG_WINE_SPIN_RERUN'), True)
            self.assertIsNone(settings.get('TG_BUILD'))
            self.assertIs(settings.get('TG_VM32_ALL'), False)
            os.environ.update(TG_WAIT_SCALE='4', TG_WINE_SPIN_RERUN='0', TG_VM32_ALL='1')
            self.assertEqual(settings.get('TG_WAIT_SCALE'), 4.0)
            self.assertIs(settings.get('TG_WINE_SPIN_RERUN'), False)
            self.assertIs(settings.get('TG_VM32_ALL'), True)
            with self.assertRaises(KeyError):
                settings.get('TG_NO_SUCH')
        finally:
            os.environ.clear()
            os.environ.update(old)


if __name__ == '__main__':
    unittest.main()
