"""Where and how a Windows case runs (docs/testing.md, "Where a case runs"):
the one place that reads the marks, asks the host probe and decides.

    runner.py list [FOLDER]          the cases and their labels, for CMake
    runner.py case NAME              an end-to-end case (CTest)
    runner.py batch EXE              one run of every conformance case (CTest's conformance_run)
    runner.py conformance EXE ARGS   a conformance case's result from it (CTest's emulator)
    runner.py command -- CMD...      a command that is no case, in this run's Wine
    runner.py console EXE ARGS       EXE under Wine in a console of its own, printing it
    runner.py wine EXE ARGS          EXE under Wine, its exit code passed on
    runner.py setup BUILD --slots N  the Wine sessions of a test run (wine_setup)
    runner.py windows --report DIR [--folder F] [--timeout S] [--skip-code N] [CASE...]
                                     the cases marked `windows`, as the hosted Windows job runs them"""

import argparse
import ast
import collections
import functools
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import time
import xml.etree.ElementTree as ET

import settings
import wineenv
from placement import LABELS
from waiting import scaled

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
VM32 = os.path.join(REPO, 'tools', 'vm32.sh')
SKIPPED = 77
CASE_SECONDS = 300      # one case on hosted Windows; the workflow's time limits count on it
BATCH_SECONDS = 540     # the run of every conformance case, within CTest's limit
PLACES = {'wine': "this host's Wine", 'machine': 'the machine for the 32-bit runs',
          'batch': 'the one run of every conformance case'}


class BadMark(Exception):
    pass


def marks(node, where):
    """The labels of `node`'s @runs(...) or @placement.runs(...) marks."""
    labels = []
    for dec in node.decorator_list:
        func = getattr(dec, 'func', None)
        if (func.attr if isinstance(func, ast.Attribute) else getattr(func, 'id', '')) == 'runs':
            for arg in dec.args:
                if not (isinstance(arg, ast.Constant) and arg.value in LABELS):
                    raise BadMark('%s:%d: not a placement label: %s' % (where, dec.lineno, ast.unparse(arg)))
                labels.append(arg.value)
    return labels


def cases(folder=HERE):
    """(name, labels) of every case of the folder's test_*.py."""
    for name in sorted(n for n in os.listdir(folder) if n.startswith('test_') and n.endswith('.py')):
        with open(os.path.join(folder, name), encoding='utf-8') as f:
            tree = ast.parse(f.read(), name)
        for node in tree.body:
            if isinstance(node, ast.ClassDef):
                own = marks(node, name)
                for item in node.body:
                    if isinstance(item, ast.FunctionDef) and item.name.startswith('test'):
                        labels = own + [x for x in marks(item, name) if x not in own]
                        yield '%s.%s.%s' % (name[:-3], node.name, item.name), labels


def listed(folder=HERE):
    """The cases marked `windows`; BadMark when a mark is wrong or none is."""
    names = [case for case, labels in cases(folder) if 'windows' in labels]
    if not names:
        raise BadMark('no case in %s is marked to run on Windows' % folder)
    return names


class Host:
    """What decide() depends on besides the labels; the probe runs once at most, when needed."""

    def __init__(self, bits32=None, guest=None, machine=None, vm32_all=None, probe=None):
        build = settings.get('TG_BUILD')
        self.bits32 = bool(settings.get('TG_WINE_ROOT')) if bits32 is None else bits32
        self.guest = settings.get('TG_VM32_GUEST') if guest is None else guest
        self.machine = (bool(build) and os.path.isfile(os.path.join(build, 'vm32', 'vm32.env'))
                        if machine is None else machine)
        self.vm32_all = settings.get('TG_VM32_ALL') if vm32_all is None else vm32_all
        self._probe = probe or host32_probe

    @functools.cached_property
    def answer(self):
        """(0 runs 32-bit code, 1 does not, 2 cannot tell; what it said)."""
        return self._probe()

    def no_32_bit_code(self):
        """Why this host runs no 32-bit code, None when it does."""
        code, said = self.answer
        if code == 2:
            raise RuntimeError('cannot tell whether this host runs 32-bit code: ' + said)
        return said if code == 1 else None


def host32_probe():
    done = subprocess.run(['bash', os.path.join(REPO, 'tools', 'host32.sh'), '--reason'],
                          capture_output=True, text=True, timeout=900)
    return min(done.returncode, 2), (done.stdout + done.stderr).strip()


def decide(kind, labels, host):
    """('skip', why), ('wine', None), ('machine', None) or ('batch', None)
    for a `kind` of run (case, conformance, batch, command) with `labels`."""
    unknown = [x for x in labels if x not in LABELS]
    if unknown:
        raise BadMark('not a placement label: %s' % ', '.join(unknown))
    go = 'batch' if kind == 'conformance' else 'wine'
    if host.guest:
        return 'wine', None
    if not host.bits32:
        if 'spared_at_64' in labels and host.answer[0] == 0:
            return 'skip', 'the 32-bit suite runs this case on this host'
        return go, None
    if host.machine:
        if kind == 'case' and 'host_only' in labels:
            return 'skip', 'checked against the Wine of the host, not in the machine'
        if kind == 'case' and not (host.vm32_all or 'vm32' in labels):
            return 'skip', 'not run in the machine for the 32-bit runs by default (TG_VM32_ALL=1 runs it)'
        return ('batch' if kind == 'conformance' else 'machine'), None
    why = host.no_32_bit_code()
    return ('skip', why) if why else (go, None)


def where_of(output):
    """The place (a key of PLACES) the last `where:` line of output names."""
    said = [line[7:].split()[0] for line in output.splitlines() if line.startswith('where: ')]
    return said[-1] if said else None


def where_ran(report):
    """What ran where, from a CTest JUnit report: "12 in this host's Wine, ..."."""
    places = collections.Counter(where_of(c.findtext('system-out') or '') for c in report.iter('testcase')
                                 if c.get('status') in ('run', 'fail'))
    return ', '.join('%d in %s' % (n, PLACES[p]) for p, n in places.most_common() if p)


def say_where(place, more=''):
    print('where: %s (%s%s)' % (place, PLACES[place], more), flush=True)


def in_wine(command):
    """Runs command in the slot CTest gave (resource `wineslot`), watched by
    slot_guard.py; else in the build's session."""
    slot = os.environ.get('CTEST_RESOURCE_GROUP_0_WINESLOT', '')
    build = settings.get('TG_BUILD')
    place, where = ('machine', '') if settings.get('TG_VM32_GUEST') else (
        'wine', ', the Wine 10 root' if settings.get('TG_WINE_ROOT') else ', wine64')
    if not (slot and build):
        say_where(place, where)
        return subprocess.run(command).returncode
    number = slot.split(',')[0].removeprefix('id:')
    base = settings.get('TG_SLOTS_ROOT') or build
    session = os.environ['TG_SESSION'] = os.path.join(base, 'slots', number)
    os.environ['WINEPREFIX'] = os.path.join(session, 'wineprefix')
    say_where(place, where + ', slot ' + number)
    import slot_guard
    return slot_guard.main(['slot_guard.py', base, number] + command)


def batch_result(state, case):
    """Conformance case `case`'s exit code from the run of every case in `state`."""
    report = os.path.join(state, 'conformance.xml')
    if not os.path.isfile(report):
        print('conformance: ' + (wineenv.read(os.path.join(state, 'conformance.failed'))
                                 or 'no run of every case in %s\n' % state).strip())
        return 1
    state, messages = gtest_cases(report).get(case, (None, []))
    if state is None:
        print('conformance: %s is not in the run of every case (%s)' % (case, report))
        return 1
    sys.stdout.writelines(m + '\n' for m in messages)
    if state == 'skipped':
        print('skipped: %s skipped itself in the run of every case' % case)
        return SKIPPED
    say_where('batch')
    print('%s %s in the run of every case' % (case, 'passed' if state == 'passed' else 'FAILED'))
    return 0 if state == 'passed' else 1


def run_limited(command, log, seconds, **popen):
    """Runs command, its output into the file `log`, in a process group (on
    Windows a tree) of its own, ended after `seconds`; the exit code or None."""
    with open(log, 'wb') as out:
        proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                start_new_session=os.name != 'nt', **popen)
        try:
            return proc.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            pass
    if os.name == 'nt':
        subprocess.run(['taskkill', '/T', '/F', '/PID', str(proc.pid)], stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=60)
    else:
        wineenv.end([proc.pid], group=True)
    proc.kill()
    proc.wait()
    with open(log, 'a') as out:
        out.write('\n(timed out after %d s: ended with every process it started)\n' % seconds)
    return None


def run_batch(state, command):
    """Runs `command` (every case) once; leaves the report, or the reason
    there is none, in `state`."""
    report, log = os.path.join(state, 'conformance.xml'), os.path.join(state, 'conformance.log')
    partial, failed = report + '.partial', os.path.join(state, 'conformance.failed')
    shutil.rmtree(state, ignore_errors=True)
    os.makedirs(state)
    # Said in advance, for a run cut off (by CTest's time limit, say).
    with open(failed, 'w') as f:
        f.write('the run of every case did not finish (its console: %s)\n' % log)
    started = time.monotonic()
    code = run_limited([sys.executable, __file__, 'command', '--'] + command
                       + ['--gtest_output=xml:' + wineenv.to_windows(partial)], log, BATCH_SECONDS)
    took = time.monotonic() - started
    console = (wineenv.read(log) or '').splitlines()
    sys.stdout.writelines(line + '\n' for line in console if line.startswith(('where: ', 'wine-spin: ')))
    if os.path.isfile(partial):
        os.replace(partial, report)
        os.remove(failed)
        print('the run of every case took %.0f s; its console: %s' % (took, log))
        return 0
    with open(failed, 'w') as f:
        f.write('the run of every case ended with %s after %.0f s and left no report (its console: %s)\n'
                % ('a kill at the time limit' if code is None else code, took, log))
    print('\n'.join(console[-40:]))
    print('conformance: ' + wineenv.read(failed).strip())
    return 1


def gtest_cases(report):
    """{Suite.Name: (passed, failed or skipped, failure messages)} of a GoogleTest report."""
    cases = {}
    for tc in ET.parse(report).getroot().iter('testcase'):
        messages = [f.get('message') or f.text or '' for f in tc.iter() if f.tag in ('failure', 'error')]
        skipped = (tc.get('result') == 'skipped' or tc.get('status') == 'notrun'
                   or tc.find('skipped') is not None)
        cases['%s.%s' % (tc.get('classname'), tc.get('name'))] = (
            'failed' if messages else 'skipped' if skipped else 'passed', messages)
    return cases


def command_of(kind, args, labels=()):
    if kind == 'case' and 'windows' in labels:
        report = os.path.join(settings.get('TG_BUILD') or HERE, 'artefacts', 'windows', args[0])
        return [sys.executable, __file__, 'windows', '--report', report, '--timeout', '600',
                '--skip-code', str(SKIPPED), args[0]]
    if kind == 'case':
        return [sys.executable, '-m', 'unittest', '-v', args[0]]
    if kind == 'conformance':
        return [sys.executable, __file__, 'console'] + args
    return args[1:] if args[:1] == ['--'] else args


def run(kind, args):
    """Runs a case (or command) where decide() says; its exit code."""
    labels = dict(cases()).get(args[0]) if kind == 'case' else []
    if labels is None:
        print('runner: no case %s in %s' % (args[0], HERE))
        return 1
    host = Host()
    action, why = decide(kind, labels, host)
    if action == 'skip':
        print('skipped: ' + why)
        return SKIPPED
    state = os.path.join(settings.get('TG_BUILD') or '.', 'conformance-run')
    if kind == 'batch':
        return run_batch(state, command_of('conformance', args))
    if action == 'batch':
        return batch_result(state, next(a.split('=', 1)[1] for a in args if a.startswith('--gtest_filter=')))
    if action == 'machine':
        if kind == 'case' and not host.vm32_all and not settings.get('TG_E2E_VERSIONS'):
            # One good install stands for every version there.
            os.environ['TG_E2E_VERSIONS'] = '0.25e'
        return subprocess.run([VM32, 'run', settings.get('TG_BUILD'), sys.executable, __file__, kind]
                              + args).returncode
    return in_wine(command_of(kind, args, labels))


def outcome(returncode, output):
    """(passed, failed, skipped or missing, detail) of a unittest run."""
    if not re.search(r'^Ran [1-9]\d* tests? in', output, re.M):
        return 'missing', 'no test ran'
    reasons = re.findall(r' \.\.\. skipped (.*)$', output, re.M)
    if reasons or re.search(r'^OK \(.*skipped=\d+', output, re.M):
        return 'skipped', '; '.join(reasons) or 'skipped'
    if returncode != 0 or not re.search(r'^OK\b', output, re.M):
        return 'failed', 'exit status %d' % returncode
    return 'passed', ''


def transcripts(folder):
    """(runs, problem) of the console transcripts in folder: the runs whose
    console the driver attached to and read, and why they do not count."""
    runs, problems = [], []
    for path in sorted(glob.glob(os.path.join(glob.escape(folder), '*', 'result.json'))):
        name = os.path.basename(os.path.dirname(path))
        try:
            with open(path, encoding='utf-8') as f:
                result = json.load(f)
        except (OSError, ValueError) as e:
            result = {'error': 'unreadable result.json (%s)' % e}
        if not isinstance(result, dict):
            problems.append('%s: result.json holds no result' % name)
        elif result.get('error'):
            problems.append('%s: the program did not start (%s, code %s)'
                            % (name, result['error'], result.get('code')))
        elif result.get('attached') is not True:
            problems.append("%s: the driver never attached to the program's console" % name)
        elif not (result.get('running') or result.get('after')):
            problems.append("%s: the driver read nothing of the program's console" % name)
        else:
            runs.append(name)
    if problems:
        return runs, 'a console transcript that does not count: ' + '; '.join(problems)
    return runs, None if runs else 'no console transcript'


def run_case(case, folder, timeout, cases_folder=HERE):
    """Runs one case in a unittest run of its own; (result, output)."""
    os.makedirs(folder, exist_ok=True)
    log = os.path.join(folder, 'output.txt')
    env = dict(os.environ, TG_TRANSCRIPTS=os.path.join(folder, 'console'),
               PYTHONDONTWRITEBYTECODE='1', PYTHONIOENCODING='utf-8')
    started = time.monotonic()
    code = run_limited([sys.executable, '-m', 'unittest', '-v', case], log, timeout,
                       cwd=cases_folder, env=env)
    output = (wineenv.read(log, 'rb') or b'').decode('utf-8', 'replace')
    state, detail = ('failed', 'timed out after %d s' % timeout) if code is None else outcome(code, output)
    runs, problem = transcripts(os.path.join(folder, 'console'))
    if state == 'passed' and problem:
        state, detail = 'failed', problem
    return {'case': case, 'state': state, 'detail': detail, 'transcripts': runs,
            'seconds': round(time.monotonic() - started, 1)}, output


def windows(argv):
    """Runs the cases marked `windows` of F, or the CASEs, each in a unittest
    run of its own, its output and console transcripts in DIR/CASE/;
    DIR/report.json, written after every case, says what ran. A case is
    ended after S seconds with all it started. Exit 0 only when every case
    passed and left transcripts of consoles the driver read; N when every
    one was skipped."""
    for stream in (sys.stdout, sys.stderr):
        stream.reconfigure(errors='backslashreplace')
    parser = argparse.ArgumentParser('runner.py windows', description=windows.__doc__)
    parser.add_argument('--report', required=True)
    parser.add_argument('--folder', default=HERE)
    parser.add_argument('--skip-code', type=int, default=None)
    parser.add_argument('--timeout', type=int, default=int(scaled(CASE_SECONDS)))
    parser.add_argument('cases', nargs='*')
    args = parser.parse_args(argv)
    marked = listed(args.folder)
    unmarked = [c for c in args.cases if c not in marked]
    if unmarked:
        print('runner: not marked to run on Windows: %s' % ', '.join(unmarked))
        return 1
    wanted = args.cases or marked
    # The cases run in their own folder: the report's is made absolute.
    report = os.path.abspath(args.report)
    results = []
    for case in [None] + wanted:
        if case:
            result, output = run_case(case, os.path.join(report, case), args.timeout, args.folder)
            results.append(result)
            print('%-8s %s (%.0f s) %s' % (result['state'], case, result['seconds'], result['detail']))
            print(output[-6000:] if result['state'] != 'passed' else '', end='', flush=True)
        os.makedirs(report, exist_ok=True)
        with open(os.path.join(report, 'report.json'), 'w', encoding='utf-8') as f:
            json.dump({'listed': len(marked), 'asked': len(wanted), 'finished': case == wanted[-1],
                       'cases': results}, f, ensure_ascii=False, indent=1)
    passed, skipped = (sum(r['state'] == state for r in results) for state in ('passed', 'skipped'))
    print('%d passed, %d failed, %d skipped' % (passed, len(results) - passed - skipped, skipped))
    if passed == len(wanted):
        return 0
    return args.skip_code if args.skip_code is not None and skipped == len(wanted) else 1


def console(args):
    """EXE under Wine in a console of its own, printing what it showed."""
    import console_driver
    import unittest
    try:
        wineenv.require_wine()
    except unittest.SkipTest as skip:
        print('skipped: %s' % skip)
        return SKIPPED
    result = console_driver.DriverRun(args[0], args[1:]).wait(600)
    print(result.text)
    if result.timed_out or result.exit_code is None:
        print('timed out' if result.timed_out else 'ended with no exit code', file=sys.stderr)
        return 1
    return result.exit_code


def wine(args):
    command = wineenv.wine_command()
    if command is None:
        print('wine-run: wine64 not found (PATH or /usr/lib/wine/wine64)', file=sys.stderr)
        return 127
    os.execve(command[0], command + args, wineenv.wine_env())


def setup(build, slots):
    """The Wine sessions of a run; for a 32-bit run on a host that runs no
    32-bit code, in the machine of tools/vm32.sh, or skipped, saying why."""
    session = [os.path.join(HERE, 'wine-session'), 'start', build, '--slots', slots]
    root = settings.get('TG_WINE_ROOT')
    why = root and Host().no_32_bit_code()
    if not why:
        return subprocess.run(session + (['--root', root] if root else [])).returncode
    if settings.get('TG_VM32') == 'off':
        print('skipped: %s (and TG_VM32=off: no machine for the 32-bit runs)' % why)
        return SKIPPED
    available = subprocess.run(['bash', VM32, 'available'], capture_output=True, text=True)
    if available.returncode != 0:
        print('skipped: %s (and no machine for the 32-bit runs: %s)' % (why, available.stdout.strip()))
        return SKIPPED
    print('wine-session: %s; the 32-bit runs go into the machine of tools/vm32.sh' % why, flush=True)
    if subprocess.run(['bash', VM32, 'start', build]).returncode != 0:
        return 1
    shutil.copyfile(os.path.join(build, 'vm32', 'vm32.env'), os.path.join(build, 'vm32', 'used'))
    return subprocess.run(['bash', VM32, 'run', build, 'bash', session[0], 'start', '/var/lib/tg/win32',
                           '--slots', slots]).returncode


def main(argv):
    kind, args = (argv[1], argv[2:]) if len(argv) > 1 else ('', [])
    try:
        if kind == 'list':
            for case, labels in cases(args[0] if args else HERE):
                print(' '.join([case] + labels))
            return 0
        if kind in ('case', 'conformance', 'batch', 'command') and args:
            return run(kind, args)
        if kind in ('console', 'wine', 'windows') and args:
            return {'console': console, 'wine': wine, 'windows': windows}[kind](args)
    except (BadMark, RuntimeError) as e:
        print('runner: %s' % e, file=sys.stderr)
        return 1
    if kind == 'setup' and len(args) == 3 and args[1] == '--slots':
        return setup(os.path.abspath(args[0]), args[2])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
