"""Runs one test command in its Wine slot and watches the slot's wineserver.

    slot_guard.py BASE SLOT COMMAND ARGS...

BASE/slots/SLOT is the session the test uses (runner.py picks it). Wine 10's
wineserver can loop for good inside one request (listing a window's
siblings while their owner destroys one of them), and then every program of
the slot waits on it until the test times out. The guard tells that apart
from a busy server: for SPIN_SECONDS the server never blocked (its
voluntary context switches stood still) while it ran in user space (its
user time grew, its system time hardly: no system calls), and no Wine
program of the slot ran meanwhile. Then, and only then, it keeps what the slot looked like
under BASE/wine-spins/, ends the slot's processes, makes the slot a fresh
session (wine-session renew) and runs the command once more, saying so in
lines that start with "wine-spin:" (tools/test_summary.py lists them). A
test that fails any other way fails as it is, never run again.

TG_WINE_SPIN_RERUN=0 keeps the diagnostics and fails the test instead of
running it again; TG_WINE_SPIN_SECONDS changes how long a spin must last.
"""

import datetime
import os
import shutil
import signal
import subprocess
import sys
import time

import settings
from wineenv import PROCESS_COLUMNS, read, session_processes, wine_processes as slot_processes

HERE = os.path.dirname(os.path.abspath(__file__))
SPIN_SECONDS = settings.get('TG_WINE_SPIN_SECONDS')
TICK = os.sysconf('SC_CLK_TCK')


def is_server(exe):
    return os.path.basename(exe).startswith('wineserver')


def is_wine_program(exe):
    return not is_server(exe) and '/wine' in exe


def voluntary_switches(pid):
    for line in (read('/proc/%d/status' % pid) or '').splitlines():
        if line.startswith('voluntary_ctxt_switches:'):
            return int(line.split()[1])
    return None


class Watch:
    """Samples the slot once a second; spinning() names the server that spun
    for SPIN_SECONDS, or None."""

    def __init__(self, prefix):
        self.prefix = prefix
        self.samples = []           # (time, server pid, utime, stime, switches, programs running)

    def sample(self):
        procs = slot_processes(self.prefix)
        servers = [p for p, v in procs.items() if is_server(v[3])]
        running = any(v[0] in 'RD' for p, v in procs.items() if is_wine_program(v[3]))
        if len(servers) != 1:
            self.samples = []
            return None
        pid = servers[0]
        state, utime, stime = procs[pid][:3]
        switches = voluntary_switches(pid)
        now = time.monotonic()
        if switches is None or (self.samples and self.samples[-1][1] != pid):
            self.samples = []
        self.samples.append((now, pid, utime, stime, switches, running, state))
        while self.samples and now - self.samples[0][0] > SPIN_SECONDS + 1.5:
            self.samples.pop(0)
        return procs

    def spinning(self):
        if len(self.samples) < 3:
            return None
        first, last = self.samples[0], self.samples[-1]
        span = last[0] - first[0]
        if span < SPIN_SECONDS:
            return None
        user = (last[2] - first[2]) / TICK
        system = (last[3] - first[3]) / TICK
        # Interrupts taken while it runs count as a little system time.
        if (last[4] == first[4] and user >= 0.05 * span and system <= 0.2 * user
                and not any(s[5] for s in self.samples[-3:]) and last[6] == 'R'):
            return {'pid': last[1], 'seconds': span, 'user': user, 'system': system}
        return None


def keep_diagnostics(folder, prefix, spin):
    """What the slot looked like, into folder: its processes (state, where
    each waits), the server's status, kernel stack and, with gdb, its
    backtrace; returns the folder."""
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


def end_slot(prefix, child):
    """Ends the test and every process of the slot, by process ID."""
    try:
        os.killpg(child.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    for p in slot_processes(prefix):
        if p != os.getpid():
            try:
                os.kill(p, signal.SIGKILL)
            except ProcessLookupError:
                pass
    child.wait()


def say(text):
    # On a line of its own: the test may have been ended mid-line.
    sys.stdout.write('\nwine-spin: %s\n' % text)
    sys.stdout.flush()


def run(command, prefix):
    """Runs command, watching the slot: (exit code, None) once it ends, or
    (the running child, spin) when the slot's server spun."""
    child = subprocess.Popen(command, preexec_fn=os.setpgrp)
    watch = Watch(prefix)

    def forward(sig, _):
        try:
            os.killpg(child.pid, sig)
        except ProcessLookupError:
            pass
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, forward)
    while True:
        try:
            return child.wait(timeout=1), None
        except subprocess.TimeoutExpired:
            pass
        watch.sample()
        spin = watch.spinning()
        if spin:
            return child, spin


def main(argv):
    base, slot, command = argv[1], argv[2], argv[3:]
    prefix = os.path.join(base, 'slots', slot, 'wineprefix')
    rerun = settings.get('TG_WINE_SPIN_RERUN')
    for attempt in (1, 2):
        result, spin = run(command, prefix)
        if not spin:
            if attempt == 2:
                say('the run in a fresh session ended with exit code %d' % result)
            return result
        child = result
        stamp = datetime.datetime.now().strftime('%Y%m%d-%H%M%S')
        folder = keep_diagnostics(os.path.join(base, 'wine-spins', 'slot%s-%s' % (slot, stamp)),
                                  prefix, spin)
        end_slot(prefix, child)
        say('the wineserver of slot %s (pid %d) spun: %.1f s in user space in %.1f s without '
            'blocking once, while every Wine program of the slot waited on it; '
            'diagnostics in %s' % (slot, spin['pid'], spin['user'], spin['seconds'], folder))
        renewed = subprocess.run([os.path.join(HERE, 'wine-session'), 'renew', base, '--slot', slot],
                                 stdin=subprocess.DEVNULL, check=False).returncode == 0
        if not renewed:
            say('slot %s could not be made a fresh session; the case fails' % slot)
            return 1
        if attempt == 2 or not rerun:
            say('the case fails: %s' % ('it spun again in a fresh session' if attempt == 2
                                        else 'TG_WINE_SPIN_RERUN=0'))
            return 1
        say('running the case once more, in a fresh session of slot %s' % slot)
    return 1


if __name__ == '__main__':
    sys.exit(main(sys.argv))
