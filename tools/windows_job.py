"""Checks of the hosted Windows job's own machine and reports, beside the
cases it runs (tests/e2e/runner.py windows):

  windows_job.py --desktop FILE   whether this Windows session has a desktop a
                                  person would see (its session, window
                                  station and input desktop, the shell, the
                                  screen): appended to FILE; fails, saying
                                  why, when it has none
  windows_job.py --gtest XML      fails unless a GoogleTest report shows cases
                                  run and none failed or was skipped
  windows_job.py --verify DIR [--folder F]
                                  reads the report runner.py windows --report
                                  left in DIR: every case marked in F
                                  (tests/e2e) must be in it, passed, with its
                                  console transcripts still on disk

Whatever encoding its output has, what it cannot encode is written escaped."""

import json
import os
import sys
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), 'tests', 'e2e'))
import runner  # noqa: E402


def gtest_problems(path):
    """(counts, problems) of a GoogleTest XML report."""
    try:
        cases = runner.gtest_cases(path)
    except (OSError, ElementTree.ParseError) as e:
        return {}, ['no GoogleTest report: %s' % e]
    counts = {'passed': 0, 'failed': 0, 'skipped': 0}
    problems = []
    for name, (state, _) in cases.items():
        counts[state] += 1
        if state != 'passed':
            problems.append('%s %s' % (name, state))
    if not sum(counts.values()):
        problems.append('no case ran')
    return counts, problems


def desktop_facts():
    """What this Windows session has of a desktop: {session, station,
    input_desktop, own_desktop, shell, shell_pid, screen}; ctypes, Windows
    only."""
    import ctypes
    from ctypes import wintypes
    user32 = ctypes.WinDLL('user32', use_last_error=True)
    kernel32 = ctypes.WinDLL('kernel32', use_last_error=True)
    user32.GetProcessWindowStation.restype = wintypes.HANDLE
    user32.GetThreadDesktop.restype = wintypes.HANDLE
    user32.GetThreadDesktop.argtypes = [wintypes.DWORD]
    user32.OpenInputDesktop.restype = wintypes.HANDLE
    user32.OpenInputDesktop.argtypes = [wintypes.DWORD, wintypes.BOOL, wintypes.DWORD]
    user32.CloseDesktop.argtypes = [wintypes.HANDLE]
    user32.GetUserObjectInformationW.argtypes = [wintypes.HANDLE, ctypes.c_int, ctypes.c_void_p,
                                                 wintypes.DWORD, ctypes.POINTER(wintypes.DWORD)]
    user32.GetShellWindow.restype = wintypes.HWND
    user32.GetWindowThreadProcessId.argtypes = [wintypes.HWND, ctypes.POINTER(wintypes.DWORD)]
    kernel32.OpenProcess.restype = wintypes.HANDLE
    kernel32.OpenProcess.argtypes = [wintypes.DWORD, wintypes.BOOL, wintypes.DWORD]
    kernel32.QueryFullProcessImageNameW.argtypes = [wintypes.HANDLE, wintypes.DWORD, wintypes.LPWSTR,
                                                    ctypes.POINTER(wintypes.DWORD)]
    kernel32.CloseHandle.argtypes = [wintypes.HANDLE]
    kernel32.ProcessIdToSessionId.argtypes = [wintypes.DWORD, ctypes.POINTER(wintypes.DWORD)]

    def name_of(handle):
        if not handle:
            return None
        buf = ctypes.create_unicode_buffer(256)
        needed = wintypes.DWORD()
        if not user32.GetUserObjectInformationW(handle, 2, buf, ctypes.sizeof(buf),
                                                ctypes.byref(needed)):   # UOI_NAME
            return None
        return buf.value

    session = wintypes.DWORD()
    facts = {'session': (session.value if kernel32.ProcessIdToSessionId(os.getpid(),
                                                                        ctypes.byref(session))
                         else None)}
    facts['station'] = name_of(user32.GetProcessWindowStation())
    facts['own_desktop'] = name_of(user32.GetThreadDesktop(kernel32.GetCurrentThreadId()))
    desk = user32.OpenInputDesktop(0, False, 0x0001)      # DESKTOP_READOBJECTS
    facts['input_desktop'] = name_of(desk)
    if desk:
        user32.CloseDesktop(desk)
    shell = user32.GetShellWindow()
    facts['shell'] = facts['shell_pid'] = None
    if shell:
        pid = wintypes.DWORD()
        user32.GetWindowThreadProcessId(shell, ctypes.byref(pid))
        facts['shell_pid'] = pid.value
        process = kernel32.OpenProcess(0x1000, False, pid.value)   # QUERY_LIMITED_INFORMATION
        if process:
            buf = ctypes.create_unicode_buffer(32768)
            size = wintypes.DWORD(len(buf))
            if kernel32.QueryFullProcessImageNameW(process, 0, buf, ctypes.byref(size)):
                facts['shell'] = os.path.basename(buf.value)
            kernel32.CloseHandle(process)
    facts['screen'] = [user32.GetSystemMetrics(0), user32.GetSystemMetrics(1)]   # SM_CX/CYSCREEN
    return facts


def describe_desktop(facts):
    screen = facts.get('screen') or [0, 0]
    return ('desktop: session %s, window station %s, this process on desktop %s, input desktop %s,'
            ' shell %s (PID %s), screen %d x %d'
            % (facts.get('session'), facts.get('station'), facts.get('own_desktop'),
               facts.get('input_desktop'), facts.get('shell'), facts.get('shell_pid'),
               screen[0], screen[1]))


def desktop_problems(facts):
    """Why the session described by facts (desktop_facts()) has no desktop
    a person would see; empty when it has one."""
    problems = []
    if facts.get('session') in (None, 0):
        problems.append('the job runs in session %s, where services run, not in a logged-on'
                        " user's session" % facts.get('session'))
    if (facts.get('station') or '').lower() != 'winsta0':
        problems.append('its window station is %s, not the interactive WinSta0'
                        % facts.get('station'))
    if facts.get('input_desktop') is None:
        problems.append('no input desktop can be opened (no one is logged on, or the screen'
                        ' is locked)')
    elif facts['input_desktop'].lower() != 'default':
        problems.append('the input desktop is %s (a locked screen or a secure desktop), not'
                        ' Default' % facts['input_desktop'])
    if (facts.get('own_desktop') or '').lower() != 'default':
        problems.append('the job\'s programs run on desktop %s, not on Default, the one shown'
                        % facts.get('own_desktop'))
    if (facts.get('shell') or '').lower() != 'explorer.exe':
        problems.append('no shell runs on the desktop (the shell window belongs to %s)'
                        % (facts.get('shell') or 'no process'))
    screen = facts.get('screen') or [0, 0]
    if screen[0] <= 0 or screen[1] <= 0:
        problems.append('the desktop has no screen (%d x %d)' % (screen[0], screen[1]))
    return problems


def check_desktop(record):
    """--desktop: says what desktop the session has, appends it to record
    and fails without one."""
    if os.name != 'nt':
        problems, line = ['this is not Windows'], 'desktop: none (not Windows)'
    else:
        facts = desktop_facts()
        problems, line = desktop_problems(facts), describe_desktop(facts)
    lines = [line] + ['no desktop: ' + p for p in problems]
    with open(record, 'a', encoding='utf-8') as f:
        f.write(''.join(x + '\n' for x in lines))
    for x in lines:
        print('windows_job: ' + x)
    return 1 if problems else 0


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
            continue
        problem = runner.transcripts(os.path.join(folder, case, 'console'))[1]
        if problem:
            problems.append('%s left %s' % (case, problem))
    return problems


def check_run(folder, cases_folder):
    """--verify: what the run in folder proves of the marked cases."""
    try:
        marked = runner.listed(cases_folder)
    except runner.BadMark as bad:
        print('windows_job: %s' % bad)
        return 1
    problems = verify(os.path.abspath(folder), marked)
    for problem in problems:
        print('windows_job: ' + problem)
    print('windows_job: %s' % ('every one of the %d marked cases passed' % len(marked)
                               if not problems else 'the run does not prove the list'))
    return 1 if problems else 0


def main(argv):
    for stream in (sys.stdout, sys.stderr):
        stream.reconfigure(errors='backslashreplace')
    if len(argv) == 2 and argv[0] == '--desktop':
        return check_desktop(argv[1])
    if len(argv) in (2, 4) and argv[0] == '--verify' and argv[2:3] in ([], ['--folder']):
        return check_run(argv[1], argv[3] if len(argv) == 4 else runner.HERE)
    if len(argv) == 2 and argv[0] == '--gtest':
        counts, problems = gtest_problems(argv[1])
        print('%d passed, %d failed, %d skipped' % (counts.get('passed', 0), counts.get('failed', 0),
                                                    counts.get('skipped', 0)))
        for problem in problems:
            print('windows_job: ' + problem)
        return 1 if problems else 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
