"""Runs the cases marked to run on Windows (@placement.runs('windows')) over
the console driver, each in a unittest run of its own, and fails unless
every one of them ran and passed.

  windows_cases.py --report DIR [--folder F] [--timeout S] [--skip-code N] [CASE...]

With no CASE, every marked case runs (on hosted Windows); with names, those
(each must be marked: a CTest case runs one under Wine). The cases are read
from F, tests/e2e by default. Each case's output and its console transcripts
(TG_TRANSCRIPTS) go to DIR/CASE/, and DIR/report.json says what ran; it is
written again after every case, so a run cut short leaves what it did. A
case gets S seconds (default 300, scaled by TG_WAIT_SCALE); one that takes
longer is ended with every process it started and fails. The exit status
is 1 when no case is marked, when fewer cases ran than were asked for, when
any failed or was skipped (a case that cannot run on Windows is not marked,
not skipped), or when one left no console transcript or one from a console
the driver never read; 0 otherwise. --skip-code N: when every case asked
for was skipped, exit N instead of 1 (CTest's skip on a host that cannot
run them).

The job's checks of what a run left (every marked case passed, its
transcripts on disk), of its desktop and of the conformance report are
tools/windows_job.py's.

Whatever encoding its output has (Python writes a pipe in the ANSI code
page on Windows), what it cannot encode is written escaped."""

import argparse
import json
import os
import re
import signal
import subprocess
import sys
import time

import runner
from waiting import scaled

HERE = os.path.dirname(os.path.abspath(__file__))

# The time one case may take on hosted Windows; the workflow's time-outs are
# reckoned from it.
CASE_SECONDS = 300


class BadList(Exception):
    pass


def listed(folder=HERE):
    """The names of the cases marked to run on Windows; BadList when a mark
    is wrong or no case has one."""
    try:
        names = runner.labelled('windows', folder)
    except runner.BadMark as bad:
        raise BadList(str(bad)) from None
    if not names:
        raise BadList('no case in %s is marked to run on Windows' % folder)
    return names


def outcome(returncode, output):
    """(state, detail) of one unittest run's output: passed, failed,
    skipped or missing (no test ran)."""
    ran = re.search(r'^Ran (\d+) tests? in', output, re.M)
    if not ran or int(ran.group(1)) == 0:
        return 'missing', 'no test ran'
    if re.search(r'^OK \(.*skipped=\d+', output, re.M) or re.search(r' \.\.\. skipped ', output):
        reasons = re.findall(r' \.\.\. skipped (.*)$', output, re.M)
        return 'skipped', '; '.join(reasons) or 'skipped'
    if returncode != 0 or not re.search(r'^OK\b', output, re.M):
        return 'failed', 'exit status %d' % returncode
    return 'passed', ''


def transcripts(folder):
    """(runs, problems) of the console transcripts a case left in folder
    (run-N/result.json): the runs whose console the driver attached to and
    read, and what is wrong with the others."""
    if not os.path.isdir(folder):
        return [], []
    runs, problems = [], []
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name, 'result.json')
        if not os.path.isfile(path):
            continue
        try:
            with open(path, 'rb') as f:
                result = json.loads(f.read().decode('utf-8'))
        except (OSError, ValueError) as e:
            problems.append('%s: unreadable result.json (%s)' % (name, e))
            continue
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
    return runs, problems


def transcript_problem(folder):
    """Why the transcripts in folder do not count, or None when they do:
    at least one, each from a console the driver read."""
    runs, problems = transcripts(folder)
    if problems:
        return 'a console transcript that does not count: ' + '; '.join(problems)
    if not runs:
        return 'no console transcript'
    return None


def _end_tree(proc):
    """Ends proc and every process it started."""
    if os.name == 'nt':
        try:
            subprocess.run(['taskkill', '/T', '/F', '/PID', str(proc.pid)], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        except (OSError, subprocess.SubprocessError):
            pass
    else:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except OSError:
            pass
    proc.kill()


def run_case(case, folder, timeout, cases_folder=HERE):
    """Runs one case in a unittest run of its own; (result, output)."""
    folder = os.path.abspath(folder)
    os.makedirs(folder, exist_ok=True)
    env = dict(os.environ, TG_TRANSCRIPTS=os.path.join(folder, 'console'),
               PYTHONDONTWRITEBYTECODE='1', PYTHONIOENCODING='utf-8')
    started = time.monotonic()
    # A group of its own (POSIX) or its process tree (Windows): a case
    # that runs out of time is ended with what it started.
    proc = subprocess.Popen([sys.executable, '-m', 'unittest', '-v', case], cwd=cases_folder,
                            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, start_new_session=os.name != 'nt')
    try:
        out, _ = proc.communicate(timeout=timeout)
        code = proc.returncode
    except subprocess.TimeoutExpired:
        _end_tree(proc)
        out, _ = proc.communicate()
        code = None
    output = (out or b'').decode('utf-8', 'replace')
    if code is None:
        output += '\n(timed out after %d s: ended with every process it started)\n' % timeout
    with open(os.path.join(folder, 'output.txt'), 'w', encoding='utf-8') as f:
        f.write(output)
    state, detail = outcome(code if code is not None else 1, output)
    if code is None:
        state, detail = 'failed', 'timed out after %d s' % timeout
    runs, _ = transcripts(os.path.join(folder, 'console'))
    problem = transcript_problem(os.path.join(folder, 'console'))
    if state == 'passed' and problem:
        state, detail = 'failed', problem
    return {'case': case, 'state': state, 'detail': detail, 'transcripts': runs,
            'seconds': round(time.monotonic() - started, 1)}, output


def write_report(folder, marked, wanted, results, finished):
    """DIR/report.json: what ran so far; (counts, problems)."""
    counts = {s: sum(r['state'] == s for r in results)
              for s in ('passed', 'failed', 'skipped', 'missing')}
    problems = []
    if len(results) < len(wanted) or counts['passed'] + counts['failed'] + counts['skipped'] < len(wanted):
        problems.append('%d of %d cases ran' % (len(results) - counts['missing'], len(wanted)))
    if counts['skipped']:
        problems.append('%d skipped' % counts['skipped'])
    if counts['failed']:
        problems.append('%d failed' % counts['failed'])
    report = {'listed': len(marked), 'asked': len(wanted), 'finished': finished, 'counts': counts,
              'problems': problems, 'cases': results}
    with open(os.path.join(folder, 'report.json'), 'w', encoding='utf-8') as f:
        json.dump(report, f, ensure_ascii=False, indent=1)
    return counts, problems


def main(argv):
    # What the output's encoding cannot hold is written escaped, never a crash.
    for stream in (sys.stdout, sys.stderr):
        stream.reconfigure(errors='backslashreplace')
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--report')
    parser.add_argument('--folder', default=HERE)
    parser.add_argument('--skip-code', type=int, default=None)
    parser.add_argument('--timeout', type=int, default=int(scaled(CASE_SECONDS)),
                        help='seconds for one case')
    parser.add_argument('cases', nargs='*')
    args = parser.parse_args(argv)
    if not args.report:
        parser.error('--report is needed')
    try:
        marked = listed(args.folder)
    except BadList as bad:
        print('windows_cases: %s' % bad)
        return 1
    unmarked = [c for c in args.cases if c not in marked]
    if unmarked:
        print('windows_cases: not marked to run on Windows: %s' % ', '.join(unmarked))
        return 1
    wanted = args.cases or marked
    # The cases run in their own folder: the report's is made absolute.
    report = os.path.abspath(args.report)
    os.makedirs(report, exist_ok=True)
    results = []
    write_report(report, marked, wanted, results, False)
    for case in wanted:
        result, output = run_case(case, os.path.join(report, case), args.timeout, args.folder)
        results.append(result)
        write_report(report, marked, wanted, results, False)
        print('%-8s %s (%.0f s) %s' % (result['state'], case, result['seconds'], result['detail']))
        if result['state'] != 'passed':
            sys.stdout.write(output[-6000:])
        sys.stdout.flush()
    counts, problems = write_report(report, marked, wanted, results, True)
    print('%d passed, %d failed, %d skipped' % (counts['passed'], counts['failed'] + counts['missing'],
                                                counts['skipped']))
    if not problems:
        return 0
    print('windows_cases: ' + '; '.join(problems))
    if args.skip_code is not None and counts['skipped'] == len(wanted):
        return args.skip_code
    return 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
