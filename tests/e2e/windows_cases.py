"""Runs the cases marked to run on Windows (@placement.runs('windows')) over
the console driver, each in a unittest run of its own:

  windows_cases.py --report DIR [--folder F] [--timeout S] [--skip-code N] [CASE...]

With no CASE every marked case of F (tests/e2e) runs, as on hosted Windows;
with names, those (each must be marked: a CTest case runs one under Wine).
Each case's output and console transcripts (TG_TRANSCRIPTS) go to DIR/CASE/,
and DIR/report.json, written again after every case, says what ran. A case
that outlasts S seconds (scaled by TG_WAIT_SCALE) is ended with every
process it started. Exit 0 only when every case asked for passed and left
transcripts of consoles the driver read; --skip-code N: exit N when every
one was skipped (CTest's skip). What the output's encoding cannot hold is
written escaped. tools/windows_job.py checks the report of the hosted job."""

import argparse
import collections
import json
import os
import re
import sys
import time

import runner
from waiting import scaled

HERE = os.path.dirname(os.path.abspath(__file__))

# The time one case may take on hosted Windows; the workflow's time-outs are
# reckoned from it.
CASE_SECONDS = 300
BadList = runner.BadMark


def listed(folder=HERE):
    """The names of the cases marked to run on Windows; BadList when a mark
    is wrong or no case has one."""
    names = runner.labelled('windows', folder)
    if not names:
        raise BadList('no case in %s is marked to run on Windows' % folder)
    return names


def outcome(returncode, output):
    """(state, detail) of one unittest run's output: passed, failed,
    skipped or missing (no test ran)."""
    ran = re.search(r'^Ran (\d+) tests? in', output, re.M)
    if not ran or int(ran.group(1)) == 0:
        return 'missing', 'no test ran'
    reasons = re.findall(r' \.\.\. skipped (.*)$', output, re.M)
    if reasons or re.search(r'^OK \(.*skipped=\d+', output, re.M):
        return 'skipped', '; '.join(reasons) or 'skipped'
    if returncode != 0 or not re.search(r'^OK\b', output, re.M):
        return 'failed', 'exit status %d' % returncode
    return 'passed', ''


def transcripts(folder):
    """(runs, problem) of the console transcripts a case left in folder
    (run-N/result.json): the runs whose console the driver attached to and
    read, and why the transcripts do not count (None when they do)."""
    runs, problems = [], []
    for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        path = os.path.join(folder, name, 'result.json')
        if not os.path.isfile(path):
            continue
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
    """Runs one case in a unittest run of its own, ended with what it
    started when it runs out of time; (result, output)."""
    os.makedirs(folder, exist_ok=True)
    log = os.path.join(folder, 'output.txt')
    env = dict(os.environ, TG_TRANSCRIPTS=os.path.join(folder, 'console'),
               PYTHONDONTWRITEBYTECODE='1', PYTHONIOENCODING='utf-8')
    started = time.monotonic()
    code = runner.run_limited([sys.executable, '-m', 'unittest', '-v', case], log, timeout,
                              cwd=cases_folder, env=env)
    if code is None:
        with open(log, 'a', encoding='utf-8') as f:
            f.write('\n(timed out after %d s: ended with every process it started)\n' % timeout)
    with open(log, 'rb') as f:
        output = f.read().decode('utf-8', 'replace')
    state, detail = ('failed', 'timed out after %d s' % timeout) if code is None else outcome(code, output)
    runs, problem = transcripts(os.path.join(folder, 'console'))
    if state == 'passed' and problem:
        state, detail = 'failed', problem
    return {'case': case, 'state': state, 'detail': detail, 'transcripts': runs,
            'seconds': round(time.monotonic() - started, 1)}, output


def main(argv):
    for stream in (sys.stdout, sys.stderr):
        stream.reconfigure(errors='backslashreplace')
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--report', required=True)
    parser.add_argument('--folder', default=HERE)
    parser.add_argument('--skip-code', type=int, default=None)
    parser.add_argument('--timeout', type=int, default=int(scaled(CASE_SECONDS)))
    parser.add_argument('cases', nargs='*')
    args = parser.parse_args(argv)
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
    results = []
    for case in [None] + wanted:
        if case:
            result, output = run_case(case, os.path.join(report, case), args.timeout, args.folder)
            results.append(result)
            print('%-8s %s (%.0f s) %s' % (result['state'], case, result['seconds'], result['detail']))
            if result['state'] != 'passed':
                sys.stdout.write(output[-6000:])
            sys.stdout.flush()
        os.makedirs(report, exist_ok=True)
        with open(os.path.join(report, 'report.json'), 'w', encoding='utf-8') as f:
            json.dump({'listed': len(marked), 'asked': len(wanted), 'finished': case == wanted[-1],
                       'cases': results}, f, ensure_ascii=False, indent=1)
    states = collections.Counter(r['state'] for r in results)
    print('%d passed, %d failed, %d skipped' % (states['passed'], len(results) - states['passed']
                                                - states['skipped'], states['skipped']))
    if states['passed'] == len(wanted):
        return 0
    return args.skip_code if args.skip_code is not None and states['skipped'] == len(wanted) else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
