"""Wine prefix and X server for the Windows tests of one build tree.

    wine-session start BUILD [--slots N] [--root ROOT]
        make (or reuse) BUILD/wineprefix; without --slots start an Xvfb and a
        wineserver for it and write BUILD/wine-session.env; with --slots N
        make N sessions of their own instead, BUILD/slots/1..N, each with a
        copy of that prefix, its own Xvfb and its own wineserver, so that
        tests run in parallel see neither the other's windows nor its
        processes (runner.py picks one for a test). --root: the Wine 10 root
        runs them instead of the system's wine64.
    wine-session stop BUILD
        end the Xvfb and the wineserver of the build tree and of every slot
    wine-session renew BUILD --slot K
        make slot K a fresh session: end its Xvfb, wineserver and Wine
        processes, copy the prefix anew and start them again (slot_guard.py
        does, after a wineserver that spun)

Whether a 32-bit run makes its sessions here or in the machine for the
32-bit runs, runner.py decides."""

import concurrent.futures
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
CHINESE = {'LANG': 'zh_CN.UTF-8', 'LC_ALL': 'zh_CN.UTF-8'}


class Failed(Exception):
    pass


def alive(pid, name=None):
    """Whether process pid runs (and, with name, is that program)."""
    if not (pid or '').isdigit():
        return False
    try:
        os.kill(int(pid), 0)
    except OSError:
        return False
    return name is None or name.encode() in (wineenv.read('/proc/%s/cmdline' % pid, 'rb') or b'')


class Wine:
    """The programs that run the sessions of a build tree."""

    def __init__(self, build, root):
        why = root and wineenv.root_missing(root)
        if why:
            raise Failed(why)
        found = wineenv.wine_programs(root, build)
        if not (found and found[1]):
            raise Failed('wine64 not found (PATH or /usr/lib/wine/wine64)' if not found
                         else 'wineserver not found')
        (self.wine, self.server), self.build, self.root = found, build, root or ''


class Session:
    """The session in one folder: its prefix, X server and wineserver."""

    def __init__(self, wine, folder):
        self.w, self.folder = wine, folder
        self.prefix = os.path.join(folder, 'wineprefix')
        self.envfile = os.path.join(folder, 'wine-session.env')
        self.marker = os.path.join(self.prefix, '.tg-initialised')
        self.display = None

    def env(self, more=None):
        e = {k: v for k, v in os.environ.items() if k not in ('WINESERVER', 'WINELOADER')}
        e.update(WINEPREFIX=self.prefix, WINEDEBUG='-all', WINEARCH='win64', **(more or {}))
        if self.display:
            e['DISPLAY'] = self.display
        return e

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
        log = os.path.join(self.w.build, 'wineboot.log')
        # No Mono/Gecko install prompts; nothing printed unless it fails.
        with open(log, 'wb') as out:
            booted = subprocess.run(self.w.wine + ['wineboot', '-i'], stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=subprocess.STDOUT,
                                    env=self.env(dict(CHINESE, WINEDLLOVERRIDES='mscoree,mshtml=')))
        if booted.returncode != 0:
            raise Failed('wineboot failed, see %s\n%s' % (log, wineenv.read(log)))
        subprocess.run(self.w.server + ['-w'], env=self.env(), **QUIET)
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
        """Starts (or reuses) the session's X server and wineserver."""
        old = wineenv.read_env(self.envfile)
        if alive(old.get('XVFB_PID'), 'Xvfb') and old.get('DISPLAY'):
            xvfb, self.display = old['XVFB_PID'], old['DISPLAY']
        else:
            xvfb, self.display = self.start_xvfb()
        with open(self.envfile + '.tmp', 'w') as f:
            f.write('DISPLAY=%s\nXVFB_PID=%s\nWINEPREFIX=%s\nWINE_ROOT=%s\n'
                    % (self.display, xvfb, self.prefix, self.w.root))
        os.replace(self.envfile + '.tmp', self.envfile)
        self.ensure_prefix()
        self.start_wineserver(old.get('WINESERVER_PID'))

    def renew(self, base):
        """The session made fresh, as wine_setup made it."""
        self.stop()
        shutil.rmtree(self.prefix, ignore_errors=True)
        self.copy_prefix(base)
        self.start()

    def start_wineserver(self, pid):
        """A persistent wineserver, with the services and the desktop started
        here on /dev/null: later runs start in a fraction of a second and no
        Wine process lingers on a test's pipes or terminal."""
        if not alive(pid):
            server = subprocess.Popen(self.w.server + ['-f', '-p'], env=self.env(), **QUIET)
            pid = str(server.pid)
            # Ready once its socket exists; gone at once if one already runs.
            try:
                wait_until(lambda: os.path.exists('/proc/%s/cwd/socket' % pid), 5, 'the wineserver',
                           interval=0.05, stop=lambda: server.poll() is not None and 'it ended')
            except WaitTimeout:
                pid = '' if server.poll() is not None else pid
        # The first program also starts the services and the desktop. It makes
        # Wine's windows unmanaged: with no window manager on the X server Wine
        # would wait 2 s for one at every window it hides, where Windows goes on
        # at once (a closed message box returned 2 s late).
        subprocess.run(self.w.wine + ['reg', 'add', r'HKCU\Software\Wine\X11 Driver', '/v', 'Managed',
                                      '/d', 'N', '/f'], env=self.env(CHINESE), **QUIET)
        with open(self.envfile, 'a') as f:
            f.write('WINESERVER_PID=%s\n' % pid)

    def stop(self):
        old = wineenv.read_env(self.envfile)
        if os.path.isdir(self.prefix):
            for flag in ('-k', '-w'):
                try:
                    subprocess.run(self.w.server + [flag], env=self.env(), timeout=30, **QUIET)
                except subprocess.TimeoutExpired:
                    pass
        # What a hung wineserver could not end: every Wine process of this
        # prefix (not the scripts that merely name it, such as this one).
        wine = [p for p, v in wineenv.wine_processes(self.prefix).items()
                if '/wine/' in v[3] or '/wine64' in v[3] or '/wineserver' in v[3]]
        for pid in wine + ([int(old['WINESERVER_PID'])] if alive(old.get('WINESERVER_PID')) else []):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        xvfb = old.get('XVFB_PID')
        if alive(xvfb, 'Xvfb'):
            os.kill(int(xvfb), signal.SIGTERM)
            try:
                wait_until(lambda: not alive(xvfb), 5, 'Xvfb to end')
            except WaitTimeout:
                os.kill(int(xvfb), signal.SIGKILL)
        if os.path.exists(self.envfile):
            os.remove(self.envfile)

    def copy_prefix(self, base):
        """The slot's prefix, a copy of base's, made again when base's was
        made anew."""
        if wineenv.read(base.marker) == wineenv.read(self.marker) is not None:
            return
        shutil.rmtree(self.prefix, ignore_errors=True)
        os.makedirs(self.folder, exist_ok=True)
        partial = self.prefix + '.partial'
        shutil.rmtree(partial, ignore_errors=True)
        if subprocess.run(['cp', '-a', base.prefix, partial]).returncode != 0:
            raise Failed('cannot copy the prefix to %s' % self.folder)
        os.replace(partial, self.prefix)


def in_parallel(actions):
    """Runs the actions at once; the first failure, raised once all ended."""
    with concurrent.futures.ThreadPoolExecutor(max(len(actions), 1)) as pool:
        done = [pool.submit(action) for action in actions]
    for future in done:
        future.result()


def main(argv):
    if len(argv) < 2 or argv[0] not in ('start', 'stop', 'renew') or len(argv) % 2:
        sys.exit(__doc__)
    cmd, build, options = argv[0], os.path.abspath(argv[1]), dict(zip(argv[2::2], argv[3::2]))
    allowed = {'start': {'--slots', '--root'}, 'stop': set(), 'renew': {'--slot'}}[cmd]
    number = options.get('--slots' if cmd == 'start' else '--slot', '0')
    if set(options) - allowed or not number.isdigit() or (cmd == 'renew' and '--slot' not in options):
        sys.exit(__doc__)
    os.makedirs(build, exist_ok=True)
    # A session started with the Wine 10 root is stopped with the same.
    root = options.get('--root') or next(
        (r for r in (wineenv.read_env(f).get('WINE_ROOT') for f in [os.path.join(build, 'wine-session.env')] +
                     sorted(glob.glob(os.path.join(build, 'slots', '*', 'wine-session.env')))) if r), '')
    if cmd == 'stop' and os.path.isfile(os.path.join(build, 'vm32', 'vm32.env')):
        subprocess.run(['bash', os.path.join(wineenv.REPO, 'tools', 'vm32.sh'), 'stop', build])
    try:
        wine = Wine(build, root)
        base = Session(wine, build)
        slots = [Session(wine, os.path.join(build, 'slots', str(k))) for k in range(1, int(number) + 1)]
        if cmd == 'renew':
            slot = Session(wine, os.path.join(build, 'slots', number))
            if not os.path.isdir(slot.folder):
                raise Failed('no slot %s in %s' % (number, build))
            return slot.locked(lambda: slot.renew(base) or 0)
        if cmd == 'stop':
            slots = [Session(wine, d) for d in sorted(glob.glob(os.path.join(build, 'slots', '*')))
                     if os.path.isdir(d)]
            return base.locked(lambda: in_parallel([lambda s=s: s.locked(s.stop) for s in slots])
                               or base.stop() or 0)
        if not slots:
            return base.locked(lambda: base.start() or 0)

        def start_slots():
            base.ensure_prefix()
            for s in slots:
                s.copy_prefix(base)
            in_parallel([lambda s=s: s.locked(s.start) for s in slots])
        return base.locked(lambda: start_slots() or 0)
    except Failed as e:
        print('wine-session: %s' % e, file=sys.stderr)
        return 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
