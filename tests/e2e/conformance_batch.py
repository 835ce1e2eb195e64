"""One conformance case's result from a single run of every case in the
machine for the 32-bit runs, where each start of a program costs seconds of
software emulation. The first case to arrive makes that run (the others wait
for it); each then reports its own result under its own CTest name.

    conformance_batch.py STATE_DIR COMMAND... --gtest_filter=CASE

tests/e2e/in-slot calls it with a conformance case's command. STATE_DIR is
the build tree's vm32 folder; the run's report (gtest's XML) and console
text are kept there until the machine is started again. The run is the
command without its filter, sent into the machine through in-slot."""

import fcntl
import os
import signal
import subprocess
import sys
import time
import xml.etree.ElementTree as ET

from scenario import to_windows

SKIPPED = 77
# Within CTest's limit for the case that makes the run (600 s).
RUN_SECONDS = 540
HERE = os.path.dirname(os.path.abspath(__file__))


def run_batch(state, command):
    """Runs `command` (every case) once in the machine; returns the report's
    path, or None with the reason written beside it."""
    report = os.path.join(state, 'conformance.xml')
    partial = report + '.partial'
    log = os.path.join(state, 'conformance.log')
    failed = os.path.join(state, 'conformance.failed')
    build = os.path.dirname(state)
    if os.path.exists(partial):
        os.remove(partial)
    # Said in advance: a run cut off (by CTest's time limit, say) is not
    # made again by every case after it.
    with open(failed, 'w') as f:
        f.write('the run of every case did not finish (its console: %s)\n' % log)
    started = time.monotonic()
    cmd = [os.path.join(HERE, 'in-slot')] + command + ['--gtest_output=xml:' + to_windows(partial)]
    # No labels: the run itself, not a case, goes into the machine.
    env = {k: v for k, v in os.environ.items() if k != 'TG_LABELS'}
    env['TG_BUILD'] = build
    with open(log, 'wb') as out:
        proc = subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT, env=env,
                                stdin=subprocess.DEVNULL, start_new_session=True)
        try:
            code = proc.wait(timeout=RUN_SECONDS)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            code = 'a kill at the time limit'
    took = time.monotonic() - started
    if os.path.isfile(partial):
        os.replace(partial, report)
        os.remove(failed)
        with open(report + '.seconds', 'w') as f:
            f.write('%.1f\n' % took)
        return report
    with open(failed, 'w') as f:
        f.write('the run of every case ended with %s after %.0f s and left no report '
                '(its console: %s)\n' % (code, took, log))
    return None


def case_result(report, case):
    """(passed, skipped, messages) of `case` (Suite.Name) in the report, or
    None when the report does not hold it."""
    suite, _, name = case.partition('.')
    for tc in ET.parse(report).getroot().iter('testcase'):
        if tc.get('classname') != suite or tc.get('name') != name:
            continue
        messages = [f.get('message') or f.text or '' for f in tc.iter('failure')]
        skipped = tc.get('result') == 'skipped' or tc.find('skipped') is not None
        return not messages, skipped, messages
    return None


def main(argv):
    filters = [a for a in argv[2:] if a.startswith('--gtest_filter=')]
    if len(argv) < 4 or len(filters) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    state, case = argv[1], filters[0].split('=', 1)[1]
    command = [a for a in argv[2:] if a != filters[0]]
    report = os.path.join(state, 'conformance.xml')
    with open(os.path.join(state, 'conformance.lock'), 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        failed = os.path.join(state, 'conformance.failed')
        if not os.path.isfile(report) and not os.path.isfile(failed):
            run_batch(state, command)
    if not os.path.isfile(report):
        with open(failed) as f:
            print('conformance: ' + f.read().strip())
        return 1
    result = case_result(report, case)
    if result is None:
        print('conformance: %s is not in the run of every case (%s)' % (case, report))
        return 1
    passed, skipped, messages = result
    for m in messages:
        print(m)
    if skipped:
        print('skipped: %s skipped itself in the machine' % case)
        return SKIPPED
    print('%s %s in the machine, in its one run of every case' % (case, 'passed' if passed else 'FAILED'))
    return 0 if passed else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv))
