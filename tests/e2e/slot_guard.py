"""Runs one test command in its Wine slot, BASE/slots/SLOT, and watches the
slot's wineserver for Wine 10's loop (docs/testing.md, "Wine tests in
parallel"): one that spun has the slot kept under BASE/wine-spins/, ended and
made a fresh session, and the command runs once more there, in lines that
start with "wine-spin:" (tools/test_summary.py lists them).

    slot_guard.py BASE SLOT COMMAND ARGS..."""

import datetime
import os
import re
import shutil
import signal
import subprocess
import sys
import time

import settings
from wineenv import PROCESS_COLUMNS, end, read, session_processes, wine_processes as slot_processes

HERE = os.path.dirname(os.path.abspath(__file__))
SPIN_SECONDS = settings.get('TG_WINE_SPIN_SECONDS')
TICK = os.sysconf('SC_CLK_TCK')


class Watch:
    """Samples the slot once a second. spinning() names a server that for SPIN_SECONDS never blocked
    (its voluntary context switches stood still) and ran in user space, making no system calls,
    while no Wine program of the slot ran: Wine 10's loop, never a busy server."""

    def __init__(self, prefix):
        self.prefix = prefix
        self.samples = []           # (time, server pid, utime, stime, switches, programs running, state)

    def sample(self):
        procs = slot_processes(self.prefix)
        servers = [p for p, v in procs.items() if os.path.basename(v[3]).startswith('wineserver')]
        pid = servers[0] if len(servers) == 1 else None
        status = read('/proc/%d/status' % pid) if pid else None
        found = re.search(r'(?m)^voluntary_ctxt_switches:\s*(\d+)', status or '')
        switches = int(found[1]) if found else None
        if switches is None or (self.samples and self.samples[-1][1] != pid):
            self.samples = []
        if switches is not None:
            now, (state, utime, stime) = time.monotonic(), procs[pid][:3]
            running = any(v[0] in 'RD' for p, v in procs.items() if p != pid and '/wine' in v[3])
            self.samples = [s for s in self.samples if now - s[0] <= SPIN_SECONDS + 1.5]
            self.samples.append((now, pid, utime, stime, switches, running, state))

    def spinning(self):
        if len(self.samples) < 3:
            return None
        first, last = self.samples[0], self.samples[-1]
        span = last[0] - first[0]
        user = (last[2] - first[2]) / TICK
        system = (last[3] - first[3]) / TICK
        # Interrupts taken while it runs count as a little system time.
        if (span >= SPIN_SECONDS and last[4] == first[4] and user >= 0.05 * span and system <= 0.2 * user
                and not any(s[5] for s in self.samples[-3:]) and last[6] == 'R'):
            return {'pid': last[1], 'seconds': span, 'user': user, 'system': system}
        return None


def keep_diagnostics(folder, prefix, spin):
    """What the slot looked like, into folder: its processes, the server's status, kernel stack and,
    with gdb, its backtrace; returns the folder."""
    os.makedirs(folder, exist_ok=True)
    pid = spin['pid']
    with open(os.path.join(folder, 'processes.txt'), 'w') as f:
        f.write(PROCESS_COLUMNS + '\n' + session_processes(prefix) + '\n')
    with open(os.path.join(folder, 'server.txt'), 'w') as f:
        f.write('wineserver %d ran %.1f s in user space (%.2f s of system time) in %.1f s without\n'
                'blocking once, while no Wine program of the slot ran.\n\n'
                % (pid, spin['user'], spin['system'], spin['seconds']))
        f.write(read('/proc/%d/status' % pid) or '')
        f.write('\nkernel stack:\n' + (read('/proc/%d/stack' % pid) or '(unreadable)\n'))
        f.write('\nmaps of the server binary:\n')
        f.write(''.join(l + '\n' for l in (read('/proc/%d/maps' % pid) or '').splitlines()
                        if 'wineserver' in l))
    if shutil.which('gdb'):
        with open(os.path.join(folder, 'server-backtrace.txt'), 'w') as f:
            subprocess.run(['gdb', '-p', str(pid), '-batch', '-ex', 'bt', '-ex', 'info registers'],
                           stdout=f, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                           timeout=60, check=False)
    return folder


def say(text):
    # On a line of its own: the test may have been ended mid-line.
    print('\nwine-spin: ' + text, flush=True)


def run(command, prefix):
    """Runs command watching the slot: (exit code, None) once it ends, (the child, spin) if it spun."""
    child = subprocess.Popen(command, preexec_fn=os.setpgrp)
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, lambda sig, _: end([child.pid], sig, group=True))
    watch, spin = Watch(prefix), None
    while not spin:
        try:
            return child.wait(timeout=1), None
        except subprocess.TimeoutExpired:
            watch.sample()
            spin = watch.spinning()
    return child, spin


def main(argv):
    base, slot, command = argv[1], argv[2], argv[3:]
    prefix = os.path.join(base, 'slots', slot, 'wineprefix')
    for attempt in (1, 2):
        result, spin = run(command, prefix)
        if not spin:
            if attempt == 2:
                say('the run in a fresh session ended with exit code %d' % result)
            return result
        stamp = datetime.datetime.now().strftime('%Y%m%d-%H%M%S')
        folder = keep_diagnostics(os.path.join(base, 'wine-spins', 'slot%s-%s' % (slot, stamp)),
                                  prefix, spin)
        # The test, then every process of the slot, by process ID.
        end([result.pid], group=True)
        end(p for p in slot_processes(prefix) if p != os.getpid())
        result.wait()
        say('the wineserver of slot %s (pid %d) spun: %.1f s in user space in %.1f s without '
            'blocking once, while every Wine program of the slot waited on it; '
            'diagnostics in %s' % (slot, spin['pid'], spin['user'], spin['seconds'], folder))
        renewed = subprocess.run([os.path.join(HERE, 'wine-session'), 'renew', base, '--slot', slot],
                                 stdin=subprocess.DEVNULL, check=False).returncode == 0
        if not renewed:
            say('slot %s could not be made a fresh session; the case fails' % slot)
            return 1
        if attempt == 2 or not settings.get('TG_WINE_SPIN_RERUN'):
            say('the case fails: %s' % ('it spun again in a fresh session' if attempt == 2
                                        else 'TG_WINE_SPIN_RERUN=0'))
            return 1
        say('running the case once more, in a fresh session of slot %s' % slot)


if __name__ == '__main__':
    sys.exit(main(sys.argv))
