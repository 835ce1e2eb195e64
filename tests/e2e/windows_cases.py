"""Runs the cases marked to run on Windows (@placement.runs('windows')) over
the console driver, each in a unittest run of its own, and fails unless
every one of them ran and passed.

  windows_cases.py --report DIR [--folder F] [--skip-code N] [CASE...]
  windows_cases.py --verify DIR [--folder F]
  windows_cases.py --gtest XML

With no CASE, every marked case runs (on hosted Windows); with names, those
(each must be marked: a CTest case runs one under Wine). The cases are read
from F, tests/e2e by default. Each case's output and its console transcripts
(TG_TRANSCRIPTS) go to DIR/CASE/, and DIR/report.json says what ran. The
exit status is 1 when no case is marked, when fewer cases ran than were
asked for, when any failed or was skipped (a case that cannot run on
Windows is not marked, not skipped), or when one left no console
transcript; 0 otherwise. --skip-code N: when every case asked for was
skipped, exit N instead of 1 (CTest's skip on a host that cannot run them).

--verify reads DIR/report.json again: every marked case must be in it,
passed, with its transcripts still on disk. --gtest reads a GoogleTest XML
report and fails unless cases ran and none failed or was skipped."""

import argparse
import json
import os
import re
import subprocess
import sys
import time
import xml.etree.ElementTree as ElementTree

import list_tests

HERE = os.path.dirname(os.path.abspath(__file__))


class BadList(Exception):
    pass


def listed(folder=HERE):
    """The names of the cases marked to run on Windows; BadList when a mark
    is wrong or no case has one."""
    try:
        names = list_tests.labelled('windows', folder)
    except list_tests.BadMark as bad:
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
    """The console transcripts a case left: run-N/result.json."""
    if not os.path.isdir(folder):
        return []
    return sorted(name for name in os.listdir(folder)
                  if os.path.isfile(os.path.join(folder, name, 'result.json')))


def run_case(case, folder, timeout, cases_folder=HERE):
    os.makedirs(folder, exist_ok=True)
    env = dict(os.environ, TG_CONSOLE='driver', TG_TRANSCRIPTS=os.path.join(folder, 'console'),
               PYTHONDONTWRITEBYTECODE='1', PYTHONIOENCODING='utf-8')
    started = time.monotonic()
    try:
        done = subprocess.run([sys.executable, '-m', 'unittest', '-v', case], cwd=cases_folder, env=env,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
        code, output = done.returncode, (done.stdout + done.stderr).decode('utf-8', 'replace')
    except subprocess.TimeoutExpired as late:
        code = None
        output = ((late.stdout or b'') + (late.stderr or b'')).decode('utf-8', 'replace')
        output += '\n(timed out after %d s)\n' % timeout
    with open(os.path.join(folder, 'output.txt'), 'w', encoding='utf-8') as f:
        f.write(output)
    state, detail = outcome(code if code is not None else 1, output)
    if code is None:
        state, detail = 'failed', 'timed out after %d s' % timeout
    runs = transcripts(os.path.join(folder, 'console'))
    if state == 'passed' and not runs:
        state, detail = 'failed', 'no console transcript'
    return {'case': case, 'state': state, 'detail': detail, 'transcripts': runs,
            'seconds': round(time.monotonic() - started, 1)}, output


def verify(folder, listed):
    """What is wrong with the report of a run of every marked case in
    folder: a list of problems, empty when every one passed and left
    transcripts."""
    try:
        with open(os.path.join(folder, 'report.json'), encoding='utf-8') as f:
            report = json.load(f)
    except (OSError, ValueError) as e:
        return ['no report: %s' % e]
    problems = []
    seen = {r['case']: r for r in report.get('cases', [])}
    missing = [c for c in listed if c not in seen]
    if missing:
        problems.append('%d of %d marked cases ran; not run: %s'
                        % (len(listed) - len(missing), len(listed), ', '.join(missing)))
    for case in listed:
        r = seen.get(case)
        if r is None:
            continue
        if r['state'] != 'passed':
            problems.append('%s %s: %s' % (case, r['state'], r['detail']))
        elif not transcripts(os.path.join(folder, case, 'console')):
            problems.append('%s left no console transcript' % case)
    return problems


def gtest_problems(path):
    """(counts, problems) of a GoogleTest XML report."""
    try:
        root = ElementTree.parse(path).getroot()
    except (OSError, ElementTree.ParseError) as e:
        return {}, ['no GoogleTest report: %s' % e]
    counts = {'passed': 0, 'failed': 0, 'skipped': 0}
    problems = []
    for case in root.iter('testcase'):
        name = '%s.%s' % (case.get('classname'), case.get('name'))
        if case.find('failure') is not None or case.find('error') is not None:
            counts['failed'] += 1
            problems.append(name + ' failed')
        elif (case.get('result') == 'skipped' or case.get('status') == 'notrun'
              or case.find('skipped') is not None):
            counts['skipped'] += 1
            problems.append(name + ' skipped')
        else:
            counts['passed'] += 1
    if not sum(counts.values()):
        problems.append('no case ran')
    return counts, problems


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--report')
    parser.add_argument('--verify')
    parser.add_argument('--gtest')
    parser.add_argument('--folder', default=HERE)
    parser.add_argument('--skip-code', type=int, default=None)
    parser.add_argument('--timeout', type=int, default=900, help='seconds for one case')
    parser.add_argument('cases', nargs='*')
    args = parser.parse_args(argv)
    if args.gtest:
        counts, problems = gtest_problems(args.gtest)
        print('%d passed, %d failed, %d skipped' % (counts.get('passed', 0), counts.get('failed', 0),
                                                    counts.get('skipped', 0)))
        for problem in problems:
            print('windows_cases: ' + problem)
        return 1 if problems else 0
    if not (args.report or args.verify):
        parser.error('one of --report, --verify or --gtest is needed')
    try:
        marked = listed(args.folder)
    except BadList as bad:
        print('windows_cases: %s' % bad)
        return 1
    if args.verify:
        problems = verify(args.verify, marked)
        for problem in problems:
            print('windows_cases: ' + problem)
        print('windows_cases: %s' % ('every one of the %d marked cases passed' % len(marked)
                                     if not problems else 'the run does not prove the list'))
        return 1 if problems else 0
    unmarked = [c for c in args.cases if c not in marked]
    if unmarked:
        print('windows_cases: not marked to run on Windows: %s' % ', '.join(unmarked))
        return 1
    wanted = args.cases or marked
    os.makedirs(args.report, exist_ok=True)
    results = []
    for case in wanted:
        result, output = run_case(case, os.path.join(args.report, case), args.timeout, args.folder)
        results.append(result)
        print('%-8s %s (%.0f s) %s' % (result['state'], case, result['seconds'], result['detail']))
        if result['state'] != 'passed':
            sys.stdout.write(output[-6000:])
    counts = {s: sum(r['state'] == s for r in results)
              for s in ('passed', 'failed', 'skipped', 'missing')}
    problems = []
    if len(results) < len(wanted) or counts['passed'] + counts['failed'] + counts['skipped'] < len(wanted):
        problems.append('%d of %d cases ran' % (len(wanted) - counts['missing'], len(wanted)))
    if counts['skipped']:
        problems.append('%d skipped' % counts['skipped'])
    if counts['failed']:
        problems.append('%d failed' % counts['failed'])
    report = {'listed': len(marked), 'asked': len(wanted), 'counts': counts,
              'problems': problems, 'cases': results}
    with open(os.path.join(args.report, 'report.json'), 'w', encoding='utf-8') as f:
        json.dump(report, f, ensure_ascii=False, indent=1)
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
