"""Wine prefix and X server for the Windows tests of one build tree.

    wine-session start BUILD [--slots N] [--root ROOT]
        make (or reuse) BUILD/wineprefix and start an Xvfb and a wineserver for it
        (BUILD/wine-session.env); with --slots N, N sessions BUILD/slots/1..N instead,
        each with a copy of that prefix, an Xvfb and a wineserver of its own.
        --root: the Wine 10 root runs them, not the system's wine64.
    wine-session stop BUILD
        end the Xvfb and the wineserver of the build tree and of every slot
    wine-session renew BUILD --slot K
        make slot K a fresh session (slot_guard.py, after a wineserver that spun)"""

import concurrent.futures
import contextlib
import fcntl
import glob
import os
import select
import shutil
import signal
import subprocess
import sys
import time

import wineenv
from waiting import WaitTimeout, wait_until

QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Failed(Exception):
    pass


def alive(pid, name=''):
    """Whether process pid runs (and, with name, is that program)."""
    cmdline = wineenv.read('/proc/%s/cmdline' % pid, 'rb') if (pid or '').isdigit() else None
    return cmdline is not None and name.encode() in cmdline


class Session:
    """The session in one folder: its prefix, X server and wineserver."""

    def __init__(self, folder, build, root):
        self.folder, self.build, self.root = folder, build, root
        self.wine, self.server = wineenv.wine_programs(root, build)
        self.prefix = os.path.join(folder, 'wineprefix')
        self.envfile = os.path.join(folder, 'wine-session.env')
        self.marker = os.path.join(self.prefix, '.tg-initialised')

    def env(self, more=None):
        return wineenv.wine_env(more, session=self.folder)

    def locked(self, action):
        """Runs action holding the session's lock."""
        with open(os.path.join(self.folder, '.wine-session.lock'), 'w') as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            return action()

    def ensure_prefix(self):
        """The session's prefix, made unless it was."""
        if os.path.isfile(self.marker) and os.path.isfile(os.path.join(self.prefix, 'system.reg')):
            return
        shutil.rmtree(self.prefix, ignore_errors=True)
        os.makedirs(self.prefix)
        started = time.monotonic()
        log = os.path.join(self.build, 'wineboot.log')
        # No Mono/Gecko install prompts; nothing printed unless it fails.
        with open(log, 'wb') as out:
            booted = subprocess.run(self.wine + ['wineboot', '-i'], stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=subprocess.STDOUT,
                                    env=self.env(dict(WINEARCH='win64', WINEDLLOVERRIDES='mscoree,mshtml=')))
        if booted.returncode != 0:
            raise Failed('wineboot failed, see %s\n%s' % (log, wineenv.read(log)))
        subprocess.run(self.server + ['-w'], env=self.env(), **QUIET)
        if not os.path.isfile(os.path.join(self.prefix, 'system.reg')):
            raise Failed('prefix not created at %s' % self.prefix)
        with open(self.marker, 'w') as f:
            f.write(time.strftime('%Y-%m-%dT%H:%M:%SZ\n', time.gmtime()))
        print('wine-session: prefix created in %d ms' % ((time.monotonic() - started) * 1000),
              file=sys.stderr)

    def start_xvfb(self):
        """A new Xvfb on a free display (it prints its number); (pid, display)."""
        if not shutil.which('Xvfb'):
            raise Failed('Xvfb not found')
        read, write = os.pipe()
        xvfb = subprocess.Popen(['Xvfb', '-displayfd', str(write), '-screen', '0', '1920x1080x24',
                                 '-nolisten', 'tcp'], pass_fds=[write], **QUIET)
        os.close(write)
        with os.fdopen(read) as said:
            number = said.readline().strip() if select.select([said], [], [], 30)[0] else ''
        try:
            wait_until(lambda: os.path.exists('/tmp/.X11-unix/X%s' % number), 5, 'the X server',
                       interval=0.05, stop=lambda: xvfb.poll() is not None and 'it ended')
        except WaitTimeout:
            xvfb.kill()
            raise Failed('Xvfb did not start') from None
        return str(xvfb.pid), ':' + number

    def start(self):
        """Starts (or reuses) the session's X server and a persistent wineserver, with the services
        and the desktop started here on /dev/null: later runs start in a fraction of a second and no
        Wine process lingers on a test's pipes or terminal."""
        old = wineenv.session_env(self.folder)
        reuse = alive(old.get('XVFB_PID'), 'Xvfb') and old.get('DISPLAY')
        xvfb, display = (old['XVFB_PID'], old['DISPLAY']) if reuse else self.start_xvfb()
        # Written first: a stop ends the X server however the start ends.
        with open(self.envfile + '.tmp', 'w') as f:
            f.write('DISPLAY=%s\nXVFB_PID=%s\nWINEPREFIX=%s\nWINE_ROOT=%s\n'
                    % (display, xvfb, self.prefix, self.root))
        os.replace(self.envfile + '.tmp', self.envfile)
        self.ensure_prefix()
        pid = old.get('WINESERVER_PID')
        if not alive(pid):
            server = subprocess.Popen(self.server + ['-f', '-p'], env=self.env(), **QUIET)
            pid = str(server.pid)
            # Ready once its socket exists; gone at once if one already runs.
            with contextlib.suppress(WaitTimeout):
                wait_until(lambda: os.path.exists('/proc/%s/cwd/socket' % pid), 5, 'the wineserver',
                           interval=0.05, stop=lambda: server.poll() is not None and 'it ended')
            pid = '' if server.poll() is not None else pid
        # The first program also starts the services and the desktop. It makes Wine's windows
        # unmanaged: with no window manager on the X server Wine would wait 2 s for one at every
        # window it hides, where Windows goes on at once (a closed message box returned 2 s late).
        subprocess.run(self.wine + ['reg', 'add', r'HKCU\Software\Wine\X11 Driver', '/v', 'Managed',
                                    '/d', 'N', '/f'], env=self.env(), **QUIET)
        with open(self.envfile, 'a') as f:
            f.write('WINESERVER_PID=%s\n' % pid)

    def stop(self):
        old = wineenv.session_env(self.folder)
        for flag in ('-k', '-w') if os.path.isdir(self.prefix) else ():
            with contextlib.suppress(subprocess.TimeoutExpired):
                subprocess.run(self.server + [flag], env=self.env(), timeout=30, **QUIET)
        # What a hung wineserver could not end: the Wine programs of the prefix, not scripts naming it.
        wineenv.end([p for p, v in wineenv.wine_processes(self.prefix).items()
                     if '/wine/' in v[3] or '/wine64' in v[3] or '/wineserver' in v[3]]
                    + ([old['WINESERVER_PID']] if alive(old.get('WINESERVER_PID')) else []))
        xvfb = old.get('XVFB_PID')
        if alive(xvfb, 'Xvfb'):
            wineenv.end([xvfb], signal.SIGTERM)
            try:
                wait_until(lambda: not alive(xvfb), 5, 'Xvfb to end')
            except WaitTimeout:
                wineenv.end([xvfb])
        if os.path.exists(self.envfile):
            os.remove(self.envfile)

    def copy_prefix(self, base):
        """The slot's prefix, a copy of base's, made again when base's was made anew."""
        if wineenv.read(base.marker) == wineenv.read(self.marker) is not None:
            return
        shutil.rmtree(self.prefix, ignore_errors=True)
        os.makedirs(self.folder, exist_ok=True)
        partial = self.prefix + '.partial'
        shutil.rmtree(partial, ignore_errors=True)
        if subprocess.run(['cp', '-a', base.prefix, partial]).returncode != 0:
            raise Failed('cannot copy the prefix to %s' % self.folder)
        os.replace(partial, self.prefix)

    def renew(self, base):
        """The slot made a fresh session, as wine_setup made it."""
        self.stop()
        shutil.rmtree(self.prefix, ignore_errors=True)
        self.copy_prefix(base)
        self.start()


def in_parallel(actions):
    """Runs the actions at once; the first failure, raised once all ended."""
    with concurrent.futures.ThreadPoolExecutor(max(len(actions), 1)) as pool:
        list(pool.map(lambda action: action(), actions))


def main(argv):
    if len(argv) < 2 or argv[0] not in ('start', 'stop', 'renew') or len(argv) % 2:
        sys.exit(__doc__)
    cmd, build, options = argv[0], os.path.abspath(argv[1]), dict(zip(argv[2::2], argv[3::2]))
    allowed = {'start': {'--slots', '--root'}, 'stop': set(), 'renew': {'--slot'}}[cmd]
    number = options.get('--slots' if cmd == 'start' else '--slot', '0')
    if set(options) - allowed or not number.isdigit() or (cmd == 'renew' and '--slot' not in options):
        sys.exit(__doc__)
    os.makedirs(build, exist_ok=True)
    made = [d for d in sorted(glob.glob(os.path.join(build, 'slots', '*'))) if os.path.isdir(d)]
    # A session started with the Wine 10 root is stopped with the same.
    root = options.get('--root') or next(
        (r for r in (wineenv.session_env(d).get('WINE_ROOT') for d in [build] + made) if r), '')
    if cmd == 'stop' and os.path.isfile(os.path.join(build, 'vm32', 'vm32.env')):
        subprocess.run(['bash', os.path.join(wineenv.REPO, 'tools', 'vm32.sh'), 'stop', build])
    try:
        why = wineenv.wine_missing(root) or (
            not wineenv.wine_programs(root, build)[1] and 'wineserver not found')
        if why:
            raise Failed(why)
        base = Session(build, build, root)
        if cmd == 'renew':
            slot = Session(os.path.join(build, 'slots', number), build, root)
            if not os.path.isdir(slot.folder):
                raise Failed('no slot %s in %s' % (number, build))
            slot.locked(lambda: slot.renew(base))
        elif cmd == 'stop':
            slots = [Session(d, build, root) for d in made]
            base.locked(lambda: in_parallel([lambda s=s: s.locked(s.stop) for s in slots]) or base.stop())
        elif number == '0':
            base.locked(base.start)
        else:
            slots = [Session(os.path.join(build, 'slots', str(k)), build, root)
                     for k in range(1, int(number) + 1)]

            def start_slots():
                base.ensure_prefix()
                for s in slots:
                    s.copy_prefix(base)
                in_parallel([lambda s=s: s.locked(s.start) for s in slots])
            base.locked(start_slots)
        return 0
    except Failed as e:
        print('wine-session: %s' % e, file=sys.stderr)
        return 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
