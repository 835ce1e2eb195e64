"""Offline checks of the hosted Windows job, which cannot run here: the
workflow passes actionlint and has the shape that makes a green run mean
something, and the case runner's checks fail a run that proves less than
the list of cases (a case not run, skipped, failed or without transcript).
These test the checks, not Windows."""

import hashlib
import json
import os
import re
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
sys.path.insert(0, os.path.join(REPO, 'tools'))
import console_driver  # noqa: E402
import runner  # noqa: E402
import lint_workflow_shells  # noqa: E402
import scenario  # noqa: E402
import windows_job  # noqa: E402

# A console driver's result.json: attached, one line read after the end.
SCREEN_RESULT = {'pid': 1, 'exit_code': 0, 'elapsed_ms': 10, 'stopped': False, 'timed_out': False,
                 'attached': True, 'running': None,
                 'after': {'cols': 250, 'rows': 300, 'title': '', 'lines': [
                     {'text': 'ok', 'attrs': [7, 7]}]}}

# A marked case as the runner starts it: it leaves a console transcript in
# TG_TRANSCRIPTS as a run over the driver does, prints what it is told and
# passes or fails.
MARKED_CASE = """import hashlib
import json
import os
import re
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

    def step(self, job, needle):
        """The job's step whose script holds needle, and its index."""
        found = [(i, st) for i, st in enumerate(self.flow['jobs'][job]['steps'])
                 if needle in st.get('run', '')]
        self.assertEqual(len(found), 1, 'steps of %s running %r' % (job, needle))
        return found[0][1], found[0][0]

    def test_the_release_is_built_on_linux_and_only_run_on_windows(self):
        build, windows = self.flow['jobs']['build'], self.flow['jobs']['windows']
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

    def test_what_decides_the_bytes_is_pinned_and_checked(self):
        build, image = self.flow['jobs']['build'], self.flow['jobs']['image']
        # debian:12 by the digest the image job hands on; the committed
        # digest is a digest or not yet set, never a made-up word.
        self.assertEqual(build['needs'], 'image')
        self.assertEqual(build['container'], '${{ needs.image.outputs.image }}')
        self.assertEqual(image['outputs']['image'], '${{ steps.image.outputs.image }}')
        self.assertIn('bash tools/build_image.sh', self.runs('image'))
        self.assertRegex(self.flow['env']['DEBIAN12_DIGEST'], r'^(sha256:[0-9a-f]{64})?$')
        # The toolchain is checked before the release is built, and two
        # more builds must give the released bytes.
        _, checked = self.step('build', 'bash tools/check_toolchain.sh .github/toolchain-debian12.txt')
        release, built = self.step('build', 'bash tools/release.sh --out dist')
        again, rebuilt = self.step('build', 'bash tools/release.sh --check')
        self.assertLess(checked, built)
        self.assertLess(built, rebuilt)
        self.assertEqual(again['env']['RELEASED'], '${{ steps.release.outputs.sha256 }}')
        # Every compiler, linker and build tool the build job installs is
        # on the committed list.
        install, _ = self.step('build', 'apt-get install')
        named = set(re.findall(r'[a-z0-9][a-z0-9+.-]+', install['run'].split('--no-install-recommends')[1]))
        toolchain = {n for n in named if re.search(r'mingw|^cmake$|^ninja|^python3$|^googletest$', n)}
        with open(os.path.join(REPO, '.github', 'toolchain-debian12.txt'), encoding='utf-8') as f:
            listed = {line.split()[0] for line in f if line.strip() and not line.startswith('#')}
        self.assertGreaterEqual(len(toolchain), 7)
        self.assertLessEqual(toolchain, listed)

    def run_pinned(self, pinned):
        script = self.flow['jobs']['pinned']['steps'][0]
        return subprocess.run(['bash', '-eo', 'pipefail', '-c', script['run']], capture_output=True,
                              text=True,
                              env=dict(os.environ, PINNED=pinned, IMAGE='debian@sha256:' + 'ab' * 32),
                              timeout=60)

    def test_an_image_not_pinned_fails_the_run_on_its_own(self):
        # The release is still built and run on Windows; the run is red.
        pinned = self.flow['jobs']['pinned']
        self.assertEqual(pinned['needs'], 'image')
        self.assertNotIn('pinned', str(self.flow['jobs']['build'].get('needs')))
        said = self.run_pinned('false')
        self.assertEqual(said.returncode, 1)
        self.assertIn('commit its digest as DEBIAN12_DIGEST', said.stdout)
        self.assertEqual(self.run_pinned('true').returncode, 0)

    def test_the_windows_job_runs_and_verifies_the_whole_list(self):
        steps = self.flow['jobs']['windows']['steps']
        runs = self.runs('windows')
        self.assertIn('runner.py windows --report results/cases --timeout 300\n', runs)
        self.assertIn('windows_job.py --verify results/cases', runs)
        self.assertIn('windows_job.py --gtest', runs)
        upload = [s for s in steps if s.get('uses', '').startswith('actions/upload-artifact')]
        self.assertEqual(upload[-1]['if'], '${{ always() }}')
        self.assertEqual(upload[-1]['with']['path'], 'results/')

    def test_the_interpreter_is_pinned_before_python_runs(self):
        steps = self.flow['jobs']['windows']['steps']
        setup = [i for i, st in enumerate(steps) if st.get('uses', '').startswith('actions/setup-python@')]
        self.assertEqual(len(setup), 1)
        # Debian 12's Python, to the patch level.
        self.assertEqual(str(steps[setup[0]]['with']['python-version']), '3.11.2')
        first_python = min(i for i, st in enumerate(steps) if re.search(r'^python ', st.get('run', ''), re.M)
                           or '$(python' in st.get('run', ''))
        self.assertLess(setup[0], first_python)

    def test_a_desktop_is_checked_before_the_cases(self):
        desktop, checked = self.step('windows', 'windows_job.py --desktop results/machine.txt')
        self.assertIn('if ($LASTEXITCODE -ne 0) { throw', desktop['run'])
        self.assertNotIn('continue-on-error', desktop)
        _, conformance = self.step('windows', 'console_driver.exe')
        _, cases = self.step('windows', 'runner.py windows --report')
        self.assertLess(checked, conformance)
        self.assertLess(checked, cases)

    def test_the_time_limits_hold_every_marked_case(self):
        # Each case, the conformance run and the steps around them end
        # within their steps' limits, and the steps within the job's: a
        # job cut off by its own limit would skip the verify step.
        windows = self.flow['jobs']['windows']
        cases_step, _ = self.step('windows', 'runner.py windows --report')
        per_case = int(re.search(r'--timeout (\d+)', cases_step['run']).group(1))
        self.assertEqual(per_case, runner.CASE_SECONDS)
        marked = len(runner.listed())
        self.assertGreaterEqual(cases_step['timeout-minutes'] * 60, marked * per_case + 120,
                                '%d cases of %d s' % (marked, per_case))
        conformance_step, _ = self.step('windows', 'console_driver.exe')
        conformance = int(re.search(r'--timeout-ms (\d+)', conformance_step['run']).group(1)) // 1000
        self.assertGreaterEqual(conformance_step['timeout-minutes'] * 60, conformance + 60)
        self.assertGreaterEqual(windows['timeout-minutes'],
                                cases_step['timeout-minutes'] + conformance_step['timeout-minutes'] + 10)
        self.assertIn('!cancelled()', self.step('windows', '--verify results/cases')[0]['if'])


class ShellStepTest(unittest.TestCase):
    def setUp(self):
        with open(WORKFLOW, encoding='utf-8') as f:
            self.text = f.read()

    def lint(self, text, *root):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, 'flow.yml')
            with open(path, 'w', encoding='utf-8') as f:
                f.write(text)
            return subprocess.run([sys.executable, os.path.join(REPO, 'tools', 'lint_workflow_shells.py')]
                                  + list(root) + [path], capture_output=True, text=True, timeout=300)

    def test_the_linux_steps_are_bash_and_the_windows_steps_powershell(self):
        shells = {}
        for job, _, shell, _, _ in lint_workflow_shells.steps(self.text):
            shells.setdefault(job, set()).add(shell)
        self.assertEqual(shells, {'image': {'bash'}, 'pinned': {'bash'}, 'build': {'bash'},
                                  'windows': {'pwsh'}})

    def test_shellcheck_finds_nothing_and_catches_an_unquoted_word_and_a_pipe_without_pipefail(self):
        said = self.lint(self.text)
        self.assertEqual(said.returncode, 0, said.stdout + said.stderr)
        self.assertIn('0 finding(s)', said.stdout)
        lines = self.text.split('\n')
        echo = lines.index('          echo "image: $IMAGE"') + 1
        release = lines.index('          bash tools/release.sh --out dist | tee dist-release.txt') + 1
        broken = self.text.replace('echo "image: $IMAGE"', 'echo image: $IMAGE').replace(
            '    # bash -eo pipefail: a failure anywhere in a pipe fails its step.\n'
            '    defaults:\n      run:\n        shell: bash\n', '')
        said = self.lint(broken)
        self.assertEqual(said.returncode, 1, said.stdout + said.stderr)
        found = [line.split(': ', 1)[0].split(':')[1:] + [line.rsplit('[', 1)[1]]
                 for line in said.stdout.splitlines() if line.startswith(os.path.sep)]
        self.assertIn([str(echo - 4), '23', 'SC2086]'], found, said.stdout)
        self.assertIn([str(release - 4), '11', 'pipefail]'], found, said.stdout)

    def test_the_scripts_a_step_runs_are_checked_too(self):
        flow = ('on: push\njobs:\n  build:\n    runs-on: ubuntu-latest\n    steps:\n'
                '      - run: bash tools/x.sh --out dist\n')
        with tempfile.TemporaryDirectory() as root:
            os.makedirs(os.path.join(root, 'tools'))
            with open(os.path.join(root, 'tools', 'x.sh'), 'w') as f:
                f.write('#!/usr/bin/env bash\necho $1\n')
            said = self.lint(flow, '--root', root)
        self.assertEqual(said.returncode, 1, said.stdout + said.stderr)
        self.assertIn('tools/x.sh:2:6: x.sh (run by build): Double quote to prevent globbing and word'
                      ' splitting. [SC2086]', said.stdout)

    def test_a_failed_build_inside_a_pipe_fails_its_step(self):
        # The release step run as the runner runs it, with a release.sh that
        # leaves an installer behind and fails.
        release = [(shell, script) for job, _, shell, script, _ in lint_workflow_shells.steps(self.text)
                   if job == 'build' and 'tools/release.sh --out dist' in script]
        self.assertEqual(len(release), 1)
        shell, script = release[0]

        def run_step(shell):
            with tempfile.TemporaryDirectory() as work:
                os.makedirs(os.path.join(work, 'tools'))
                with open(os.path.join(work, 'tools', 'release.sh'), 'w') as f:
                    f.write('mkdir -p dist; echo left over > dist/ThistlegardenPatch.exe\n'
                            'echo "release: the build failed" >&2; exit 1\n')
                with open(os.path.join(work, 'step.sh'), 'w') as f:
                    f.write(script)
                output = os.path.join(work, 'output')
                said = subprocess.run(lint_workflow_shells.command(shell, os.path.join(work, 'step.sh')),
                                      cwd=work, capture_output=True, text=True, timeout=60,
                                      env=dict(os.environ, GITHUB_OUTPUT=output))
                with open(output, 'a+') as f:
                    f.seek(0)
                    return said.returncode, f.read()

        code, outputs = run_step(shell)
        self.assertNotEqual(code, 0)
        self.assertNotIn('sha256=', outputs)
        # Without a shell named the runner's bash -e lets it pass.
        self.assertEqual(run_step(None), (0, 'sha256=%s\n' % hashlib.sha256(b'left over\n').hexdigest()))


# Stands in for docker: debian:12 has the digest $TAG_DIGEST, and the
# digests in $PULLABLE can be pulled by digest.
FAKE_DOCKER = r"""#!/bin/bash
ref=${!#}
case "$1 $2" in
  "pull -q")
    case $ref in
      debian:12) exit 0 ;;
      debian@*) [[ " $PULLABLE " == *" ${ref#debian@} "* ]] && exit 0
                echo "manifest unknown" >&2; exit 1 ;;
    esac ;;
  "image inspect")
    case $ref in
      debian:12) echo "debian@$TAG_DIGEST" ;;
      debian@*) echo "debian@${ref#debian@}" ;;
    esac
    exit 0 ;;
esac
echo "fake docker: $*" >&2
exit 2
"""

# Stands in for dpkg-query: the packages and versions of $INSTALLED
# ("name=version" words) are installed.
FAKE_DPKG_QUERY = r"""#!/bin/bash
name=${!#}
for pair in $INSTALLED; do
  if [ "${pair%%=*}" = "$name" ]; then
    case $2 in
      *Status*) echo -n "install ok installed" ;;
      *) echo -n "${pair#*=}" ;;
    esac
    exit 0
  fi
done
echo "dpkg-query: no packages found matching $name" >&2
exit 1
"""


class PinTest(unittest.TestCase):
    NOW, OLD = 'sha256:' + '1' * 64, 'sha256:' + '2' * 64

    @staticmethod
    def handed_on(digest, pinned):
        return 'image=debian@%s\ndigest=%s\npinned=%s\n' % (digest, digest, pinned)

    def fake(self, folder, name, text):
        os.makedirs(os.path.join(folder, 'bin'), exist_ok=True)
        path = os.path.join(folder, 'bin', name)
        with open(path, 'w') as f:
            f.write(text)
        os.chmod(path, 0o755)
        return os.path.join(folder, 'bin') + os.pathsep + os.environ['PATH']

    def build_image(self, committed, pullable=''):
        with tempfile.TemporaryDirectory() as folder:
            output = os.path.join(folder, 'output')
            said = subprocess.run(['bash', os.path.join(REPO, 'tools', 'build_image.sh')],
                                  capture_output=True, text=True, timeout=60,
                                  env=dict(os.environ, PATH=self.fake(folder, 'docker', FAKE_DOCKER),
                                           DEBIAN12_DIGEST=committed, TAG_DIGEST=self.NOW,
                                           PULLABLE=pullable, GITHUB_OUTPUT=output))
            with open(output, 'a+') as f:
                f.seek(0)
                return said.returncode, said.stdout + said.stderr, f.read()

    def test_the_committed_digest_is_used_and_a_moved_tag_only_noted(self):
        code, said, output = self.build_image(self.NOW, self.NOW)
        self.assertEqual((code, output), (0, self.handed_on(self.NOW, 'true')), said)
        self.assertNotIn('::notice::', said)
        code, said, output = self.build_image(self.OLD, self.OLD + ' ' + self.NOW)
        self.assertEqual((code, output), (0, self.handed_on(self.OLD, 'true')), said)
        self.assertIn('::notice::debian:12 has moved on to %s' % self.NOW, said)
        self.assertIn('build image: debian@%s (the committed digest)' % self.OLD, said)

    def test_no_digest_builds_in_the_tag_and_says_so_a_wrong_one_fails(self):
        code, said, output = self.build_image('')
        self.assertEqual((code, output), (0, self.handed_on(self.NOW, 'false')), said)
        self.assertIn('::warning::no digest committed', said)
        code, said, output = self.build_image(self.OLD, self.NOW)      # no longer to be had
        self.assertEqual((code, output), (1, ''))
        self.assertIn('the committed debian@%s cannot be pulled' % self.OLD, said)
        code, said, output = self.build_image('sha256:feed')
        self.assertEqual((code, output), (1, ''))
        self.assertIn('DEBIAN12_DIGEST is not a digest', said)

    def check_toolchain(self, installed, *args):
        with tempfile.TemporaryDirectory() as folder:
            listed = os.path.join(folder, 'toolchain.txt')
            with open(listed, 'w') as f:
                f.write('# the toolchain\ncmake 3.25.1-1\n\n'
                        'g++-mingw-w64-i686-posix 12.2.0-14+deb12u1+25.2+b1\n')
            said = subprocess.run(['bash', os.path.join(REPO, 'tools', 'check_toolchain.sh')] + list(args) +
                                  [listed], capture_output=True, text=True, timeout=60,
                                  env=dict(os.environ, INSTALLED=installed,
                                           PATH=self.fake(folder, 'dpkg-query', FAKE_DPKG_QUERY)))
            with open(listed) as f:
                return said.returncode, said.stdout + said.stderr, f.read()

    def test_the_toolchain_is_held_to_the_committed_versions(self):
        same = 'cmake=3.25.1-1 g++-mingw-w64-i686-posix=12.2.0-14+deb12u1+25.2+b1 git=1:2.39'
        code, said, _ = self.check_toolchain(same)
        self.assertEqual(code, 0, said)
        self.assertIn('the 2 packages of', said)
        # A point release moved the compiler on; cmake is gone.
        code, said, _ = self.check_toolchain('g++-mingw-w64-i686-posix=12.2.0-14+deb12u2+25.2')
        self.assertEqual(code, 1, said)
        self.assertIn('  cmake: committed 3.25.1-1, not installed\n'
                      '  g++-mingw-w64-i686-posix: committed 12.2.0-14+deb12u1+25.2+b1,'
                      ' installed 12.2.0-14+deb12u2+25.2\n', said)
        code, said, written = self.check_toolchain('cmake=3.25.1-2 g++-mingw-w64-i686-posix=12.3', '--write')
        self.assertEqual(code, 0, said)
        self.assertEqual(written, '# the toolchain\ncmake 3.25.1-2\ng++-mingw-w64-i686-posix 12.3\n')


class CaseListTest(unittest.TestCase):
    def write(self, folder, name, text):
        with open(os.path.join(folder, name), 'w', encoding='utf-8') as f:
            f.write(text)

    def run_cases(self, folder, *args):
        return subprocess.run([sys.executable, os.path.join(E2E, 'runner.py'), 'windows',
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
        said = subprocess.run([sys.executable, os.path.join(E2E, 'runner.py'), 'windows', '--report',
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
            verified = subprocess.run([sys.executable, os.path.join(REPO, 'tools', 'windows_job.py'), '--verify',
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
        names = runner.listed()
        self.assertGreaterEqual(len(names), 6)
        self.assertLessEqual(set(names), {case for case, _ in runner.cases(E2E)})

    def test_a_wrong_mark_or_none_fails(self):
        with tempfile.TemporaryDirectory() as folder:
            self.write(folder, 'test_a.py', 'import placement\nimport unittest\n\n\n'
                       'class A(unittest.TestCase):\n    def test_x(self):\n        pass\n')
            with self.assertRaisesRegex(runner.BadMark, 'no case in .* is marked'):
                runner.listed(folder)
            self.write(folder, 'test_b.py', 'import placement\nimport unittest\n\n\n'
                       'class B(unittest.TestCase):\n    @placement.runs("window")\n'
                       '    def test_y(self):\n        pass\n')
            with self.assertRaisesRegex(runner.BadMark, 'test_b.py:6: not a placement label'):
                runner.listed(folder)
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
        return windows_job.verify(folder, listed)

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
            self.assertEqual(len(windows_job.verify(folder, listed)), 1)   # no report

    def test_a_case_that_does_not_run_fails_the_runner(self):
        # Marked, but not a test case: unittest runs nothing there.
        with tempfile.TemporaryDirectory() as folder:
            self.write(folder, 'test_gone.py', 'import placement\n\n\n'
                       'class Gone:\n    @placement.runs("windows")\n    def test_gone(self):\n'
                       '        pass\n')
            said = self.run_cases(folder)
            self.assertEqual(said.returncode, 1, said.stdout)
            self.assertIn('0 passed, 1 failed, 0 skipped', said.stdout)
            self.assertNotEqual(windows_job.verify(os.path.join(folder, 'r'),
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
                self.assertEqual(windows_job.gtest_problems(path)[1], problems)
            self.assertTrue(windows_job.gtest_problems(os.path.join(folder, 'none.xml'))[1])


class DesktopTest(unittest.TestCase):
    GOOD = {'session': 1, 'station': 'WinSta0', 'own_desktop': 'Default', 'input_desktop': 'Default',
            'shell': 'explorer.exe', 'shell_pid': 4242, 'screen': [1920, 1080]}

    def test_a_logged_on_session_with_a_shell_has_a_desktop(self):
        self.assertEqual(windows_job.desktop_problems(self.GOOD), [])
        self.assertEqual(windows_job.describe_desktop(self.GOOD),
                         'desktop: session 1, window station WinSta0, this process on desktop Default,'
                         ' input desktop Default, shell explorer.exe (PID 4242), screen 1920 x 1080')

    def test_a_service_session_a_locked_screen_or_no_shell_has_none(self):
        service = dict(self.GOOD, session=0, station='Service-0x0-3e7$', input_desktop=None,
                       shell=None, shell_pid=None, screen=[1024, 768])
        problems = windows_job.desktop_problems(service)
        self.assertEqual(len(problems), 4, problems)
        self.assertIn('session 0, where services run', problems[0])
        self.assertIn('no shell runs on the desktop', problems[3])
        locked = windows_job.desktop_problems(dict(self.GOOD, input_desktop='Winlogon'))
        self.assertEqual(locked, ['the input desktop is Winlogon (a locked screen or a secure'
                                  ' desktop), not Default'])
        self.assertIn('no screen', windows_job.desktop_problems(dict(self.GOOD, screen=[0, 0]))[0])

    def test_the_check_records_and_fails_where_there_is_no_windows_desktop(self):
        if os.name == 'nt':
            self.skipTest('Windows itself')
        with tempfile.TemporaryDirectory() as folder:
            record = os.path.join(folder, 'machine.txt')
            with open(record, 'w', encoding='utf-8') as f:
                f.write('Windows: none\n')
            said = subprocess.run([sys.executable, os.path.join(REPO, 'tools', 'windows_job.py'), '--desktop',
                                   record], capture_output=True, text=True, timeout=60)
            self.assertEqual(said.returncode, 1, said.stdout + said.stderr)
            with open(record, encoding='utf-8') as f:
                self.assertEqual(f.read(), 'Windows: none\ndesktop: none (not Windows)\n'
                                           'no desktop: this is not Windows\n')


# The end of a good install as the driver reads it from a console whose
# code page went back to 437 with a raster font: each double-width character
# once, unmarked, and an empty cell (character and attribute 0) at the end
# of its line for each.
RASTER_SCREEN = {
    'cols': 250, 'rows': 300, 'title': 'ThistlegardenPatch', 'host': 'windows', 'codepage': 437,
    'font': {'face': 'Terminal', 'truetype': False, 'size': [8, 12], 'shows_chinese': False},
    'lines': [
        {'text': '窗口句柄ID 1234', 'attrs': [3] * 7 + [7] * 4, 'padding': 4},
        {'text': '', 'attrs': []},
        {'text': '补丁安装结束，程序在10秒后自动关闭......', 'attrs': [0x5F] * 24, 'padding': 16},
    ]}
ROWS = [[(c, 3) for c in '窗口句柄ID '] + [(c, 7) for c in '1234'], [],
        [(c, 0x5F) for c in '补丁安装结束，程序在10秒后自动关闭......']]


def marked(screen):
    """The same screen read with a TrueType font: each double-width
    character in two cells, marked leading and trailing."""
    lines = []
    for line in screen['lines']:
        text, attrs = '', []
        for ch, attr in zip(line['text'], line['attrs']):
            if console_driver._wide(ch):
                text += ch * 2
                attrs += [attr | console_driver.LEADING, attr | console_driver.TRAILING]
            else:
                text += ch
                attrs.append(attr)
        lines.append({'text': text, 'attrs': attrs})
    return dict(screen, codepage=936, lines=lines,
                font={'face': 'NSimSun', 'truetype': True, 'size': [8, 16], 'shows_chinese': True})


class DriverScreenTest(unittest.TestCase):
    def test_every_form_of_double_width_characters_reads_as_the_same_screen(self):
        raster = console_driver.DriverScreen(RASTER_SCREEN)
        self.assertEqual((raster.rows, raster.form), (ROWS, 'raster'))
        truetype = console_driver.DriverScreen(marked(RASTER_SCREEN))
        self.assertEqual((truetype.rows, truetype.form), (ROWS, 'marked'))
        unpadded = [{'text': line['text'], 'attrs': line['attrs']} for line in RASTER_SCREEN['lines']]
        wine = console_driver.DriverScreen(dict(RASTER_SCREEN, host='wine', lines=unpadded))
        self.assertEqual((wine.rows, wine.form), (ROWS, 'single'))
        self.assertEqual(raster.describe(), "on windows, code page 437, font 'Terminal' (raster, 8 x 12,"
                                            " no Chinese characters); double-width characters once, the"
                                            " line padded at its end")

    def unreadable(self, screen, why):
        with self.assertRaises(console_driver.UnreadableScreen) as caught:
            console_driver.DriverScreen(screen)
        self.assertIn(why, str(caught.exception))
        return str(caught.exception)

    def test_a_form_the_driver_does_not_understand_fails_saying_where_and_on_what(self):
        first, gap, last = RASTER_SCREEN['lines']
        said = self.unreadable(dict(RASTER_SCREEN, lines=[dict(first, padding=3)]),
                               'line 1: 3 empty cells at the end for 4 double-width characters given once')
        self.assertIn("(on windows, code page 437, font 'Terminal' (raster, 8 x 12, no Chinese"
                      " characters))", said)
        # Once each and nothing left over: Wine's form, not a Windows one.
        self.unreadable(dict(RASTER_SCREEN, lines=[{'text': last['text'], 'attrs': last['attrs']}]),
                        'line 1: 16 double-width characters in one cell each and no empty cell')
        halves = marked(RASTER_SCREEN)['lines'][0]
        self.unreadable(dict(RASTER_SCREEN, lines=[dict(halves, text=halves['text'][1:],
                                                        attrs=halves['attrs'][1:])]),
                        "line 1: the trailing half of '窗' at column 0 without its leading half")
        self.unreadable(dict(RASTER_SCREEN, lines=[dict(halves, text=halves['text'][:1] + 'x',
                                                        attrs=halves['attrs'][:1] + [3])]),
                        "line 1: the leading half of '窗' at column 0 without its trailing half")
        self.unreadable(dict(RASTER_SCREEN, lines=[gap, {'text': 'a\0b', 'attrs': [7, 0, 7]}]),
                        'line 2: an empty cell at column 1, inside the line')
        self.unreadable(dict(RASTER_SCREEN, lines=[halves, last]),
                        'double-width characters in the forms marked and raster at once')

    def test_a_windows_without_a_font_for_chinese_fails_plainly(self):
        self.assertEqual(console_driver.font_problem({'pid': 1, 'host': 'windows', 'chinese_fonts': []}),
                         'this Windows has no font for Chinese text (none for GB2312): its console shows'
                         " the installer's text as empty boxes")
        self.assertIsNone(console_driver.font_problem({'pid': 1, 'host': 'windows',
                                                       'chinese_fonts': ['NSimSun', 'SimSun']}))


class FolderWindowTest(unittest.TestCase):
    FOLDER = r'C:\Users\runneradmin\AppData\Local\Temp\Thistlegarden补丁程序\补丁对比图'

    def test_a_file_explorer_window_is_found_by_the_folder_it_shows(self):
        # Server 2025: the title ends with the program's name; the shell
        # says which folder the window shows.
        window = {'class': 'CabinetWClass', 'title': '补丁对比图 - File Explorer',
                  'folders': [self.FOLDER.lower() + '\\']}
        self.assertTrue(scenario.shows_folder(window, self.FOLDER))
        self.assertFalse(scenario.shows_folder(dict(window, folders=[self.FOLDER[:-6]]), self.FOLDER))
        self.assertFalse(scenario.shows_folder(dict(window, folders=[]), self.FOLDER))
        # The installer names the folder by a short (8.3) path; the shell
        # gives the long one: the same folder on disk.
        with tempfile.TemporaryDirectory() as root:
            long_name = os.path.join(root, 'runneradmin', '补丁对比图')
            os.makedirs(long_name)
            short = os.path.join(root, 'RUNNER~1')
            os.symlink(os.path.join(root, 'runneradmin'), short)
            self.assertTrue(scenario.shows_folder(dict(window, folders=[long_name]),
                                                  os.path.join(short, '补丁对比图')))

    def test_without_the_shell_the_title_shows_the_folder(self):
        # Wine's file manager, or a shell that cannot say: the title.
        for title in ('补丁对比图', '补丁对比图 - File Explorer', '补丁对比图 - 文件资源管理器',
                      self.FOLDER, self.FOLDER + ' - File Explorer'):
            self.assertTrue(scenario.shows_folder({'title': title}, self.FOLDER + '\\'), title)
        for title in ('Thistlegarden补丁程序', '补丁对比图2', 'File Explorer', ''):
            self.assertFalse(scenario.shows_folder({'title': title}, self.FOLDER), title)


if __name__ == '__main__':
    unittest.main()
