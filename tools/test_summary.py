"""Says at the end of the test command where its time went and what this
host proved: the time of each step the command noted (build/timings.txt:
set-up, each preset's build and tests, the lints, the fuzz run), each
preset's test time by kind of case and its slowest cases, from the JUnit
reports CTest wrote (build/PRESET/ctest.xml); how many tests of each preset
passed, failed and were skipped, why they were skipped and where the Windows
cases ran (this host's Wine, the machine for the 32-bit runs), which cases ran
a second time because their Wine slot's wineserver spun
(tests/e2e/slot_guard.py), and what a host that runs no 32-bit code could
not prove.

usage: test_summary.py HOST_STATUS HOST_LINE PRESET...
HOST_STATUS is tools/host32.sh's exit code (0 runs 32-bit code, 1 does
not, 2 cannot tell). Exits 1 when a preset has no report."""

import collections
import os
import re
import sys
import xml.etree.ElementTree as ET

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, 'tests', 'e2e'))
import runner  # noqa: E402  (what ran where, as the cases said)
# "skipped: why" (our runners), "... skipped 'why'" (unittest -v, which
# quotes with " when the reason holds a ').
SKIP_SAID = re.compile(r"""^skipped: (.+)$|\.\.\. skipped (['"])(.+)\2$""", re.M)
# What slot_guard.py says of a wineserver that spun.
SPIN_SAID = re.compile(r'wine-spin: .*diagnostics in (\S+)$', re.M)


def skip_reasons(output):
    """The reasons a test's output gives for its skips."""
    return [m.group(1) or m.group(3) for m in SKIP_SAID.finditer(output)]


def report(preset):
    """The root of the preset's JUnit report, or None."""
    try:
        return ET.parse(os.path.join(REPO, 'build', preset, 'ctest.xml')).getroot()
    except (OSError, ET.ParseError):
        return None


def tally(preset):
    """Counter of outcomes and {reason: count} of skips, or None."""
    suite = report(preset)
    if suite is None:
        return None
    outcomes, reasons = collections.Counter(), collections.Counter()
    for case in suite.iter('testcase'):
        status = case.get('status')
        if case.find('failure') is not None or status == 'fail':
            outcomes['failed'] += 1
        elif status == 'disabled':
            outcomes['disabled'] += 1
        elif case.find('skipped') is not None or status == 'notrun':
            outcomes['skipped'] += 1
            said = skip_reasons(case.findtext('system-out') or '')
            reasons[said[0] if said else 'no reason given'] += 1
        else:
            outcomes['passed'] += 1
    return outcomes, reasons


def spin_reruns(preset):
    """[(case, passed, [diagnostics folders])] of the cases whose slot's
    wineserver spun while they ran, so that they ran again."""
    suite = report(preset)
    if suite is None:
        return []
    out = []
    for case in suite.iter('testcase'):
        folders = SPIN_SAID.findall(case.findtext('system-out') or '')
        if folders:
            failed = case.find('failure') is not None or case.get('status') == 'fail'
            out.append((case.get('name'), not failed, folders))
    return out


def e2e_cases_run(preset):
    """Names of the end-to-end cases of a preset that ran (passed or failed)."""
    suite = report(preset)
    if suite is None:
        return []
    return sorted(case.get('name')[len('e2e.'):] for case in suite.iter('testcase')
                  if case.get('name', '').startswith('e2e.') and case.get('status') in ('run', 'fail'))


def step_times(path=None):
    """[(step, seconds)] from the test command's notes, in their order: one
    "STEP SECONDS" a line (the step may hold spaces); [] without the file.
    A line that does not end in a whole number is left out."""
    path = path or os.path.join(REPO, 'build', 'timings.txt')
    try:
        with open(path, encoding='utf-8') as f:
            lines = f.read().splitlines()
    except OSError:
        return []
    steps = []
    for line in lines:
        step, _, seconds = line.rstrip().rpartition(' ')
        if step and seconds.isdigit():
            steps.append((step, int(seconds)))
    return steps


def case_kind(name):
    """The kind of a CTest case, by its name: "sim", "tools", "conformance",
    "e2e", or the name itself (wine_setup, inspect_...)."""
    head, dot, _ = name.partition('.')
    return head if dot else name


def case_times(preset):
    """[(seconds, name)] of a preset's cases that ran, slowest first; [] without
    its report. A case CTest did not run (skipped by a fixture, disabled) has
    no time of its own."""
    suite = report(preset)
    if suite is None:
        return []
    times = []
    for case in suite.iter('testcase'):
        try:
            seconds = float(case.get('time', ''))
        except ValueError:
            continue
        times.append((seconds, case.get('name', '?')))
    return sorted(times, key=lambda t: (-t[0], t[1]))


def suite_seconds(preset):
    """The wall time CTest gives its whole run of a preset, or None."""
    suite = report(preset)
    try:
        return float(suite.get('time')) if suite is not None else None
    except (TypeError, ValueError):
        return None


def time_table(presets, steps, slowest=10):
    """The lines that say where the time went: each noted step (a preset's
    test step with its case time by kind and how many cases ran at once on
    average), then the step "took" (the whole command after set-up) when
    noted, and the slowest cases of all presets."""
    lines = ['== where the time went (seconds)']
    noted = {step.removesuffix(' beside'): seconds for step, seconds in steps}
    rows = [(step, seconds) for step, seconds in steps if step != 'took']
    # A preset's tests without a note (the summary run on its own): CTest's own figure.
    for preset in presets:
        if 'test %s' % preset not in noted and suite_seconds(preset) is not None:
            rows.append(('test %s' % preset, int(round(suite_seconds(preset)))))
    for step, seconds in rows:
        # "test PRESET beside": a suite that ran beside the others.
        beside = step.startswith('test ') and step.endswith(' beside')
        step = step.removesuffix(' beside') if beside else step
        kind, _, preset = step.partition(' ')
        line = '  %-14s %6d' % (step, seconds)
        cases = case_times(preset) if kind == 'test' and preset in presets else []
        if cases:
            by_kind = collections.Counter()
            for case_seconds, name in cases:
                by_kind[case_kind(name)] += case_seconds
            total = sum(by_kind.values())
            line += '   %d cases, %d s of case time (%s)' % (
                len(cases), round(total),
                ', '.join('%s %d' % (k, round(v)) for k, v in by_kind.most_common() if round(v) > 0))
            if seconds > 0:
                line += ', %.1f at once' % (total / seconds)
        if beside:
            line += '; beside the Wine suites, at the lowest priority'
        lines.append(line)
    if 'took' in noted:
        lines.append('  %-14s %6d   the whole test command after set-up' % ('took', noted['took']))
    everything = sorted(((seconds, preset, name) for preset in presets
                         for seconds, name in case_times(preset)), key=lambda t: (-t[0], t[1], t[2]))
    if everything[:slowest]:
        lines.append('  the slowest cases:')
        for seconds, preset, name in everything[:slowest]:
            lines.append('  %8.1f  %-6s %s' % (seconds, preset, name))
    return lines


def main(argv):
    host_status, host_line, presets = int(argv[1]), argv[2], argv[3:]
    ok = True
    for line in time_table(presets, step_times()):
        print(line)
    print('== what this run proved on this host')
    print('  ' + host_line)
    for preset in presets:
        result = tally(preset)
        if result is None:
            print('  %-6s no result: build/%s/ctest.xml is missing or unreadable' % (preset, preset))
            ok = False
            continue
        outcomes, reasons = result
        parts = ['%d %s' % (outcomes[k], k.upper() if k == 'failed' else k)
                 for k in ('passed', 'failed', 'skipped', 'disabled') if outcomes[k]]
        print('  %-6s %s' % (preset, ', '.join(parts) or 'no tests'))
        where = runner.where_ran(report(preset))
        if where:
            print('         ran: ' + where)
        for reason, n in reasons.most_common():
            print('         %d skipped: %s' % (n, reason))
        for name, passed, folders in spin_reruns(preset):
            print('         RUN AGAIN: %s, its wineserver spun (%s); %s' % (
                name, ', '.join(os.path.relpath(f, REPO) if f.startswith(REPO) else f
                                for f in folders),
                'passed in a fresh session' if passed else 'FAILED'))
    if host_status == 0:
        print('  The 32-bit release, the program players get, ran here under Wine 10: its')
        print('  conformance cases and the whole end-to-end suite.')
    elif host_status == 1 and os.path.exists(os.path.join(REPO, 'build', 'win32', 'vm32', 'used')):
        print("  This host's kernel runs no 32-bit code (IA-32 emulation is off): the 32-bit release ran")
        print('  in the machine for the 32-bit runs (qemu, its own kernel, Wine 10): its conformance cases')
        print('  and %s; the whole end-to-end suite also ran on the' % (
            'the whole end-to-end suite' if os.environ.get('TG_VM32_ALL')
            else 'the default whole installs (--vm32-all runs every case)'))
        print('  64-bit build under wine64. The end-to-end cases that ran in the machine:')
        for name in e2e_cases_run('win32'):
            print('    ' + name)
    elif host_status == 1:
        print("  NOT PROVEN HERE: this host's kernel runs no 32-bit code (IA-32 emulation is off). The")
        print('  32-bit release was built and its PE inspected, but never run: its conformance and')
        print('  end-to-end cases were skipped. The whole end-to-end suite ran on the 64-bit build under')
        print('  wine64 instead: the same code and scenarios, at 64 bits, not the release itself.')
    else:
        print('  This run could not tell whether the host runs 32-bit code (see above); the 32-bit')
        print('  Wine cases failed rather than skip.')
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv))
