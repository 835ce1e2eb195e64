"""The Wine a test runs under: the build's variables (CTest gives them), the
session (prefix, X server, wineserver) of the test's slot, whether Wine and
the host can run what the test needs, and starting Windows programs."""

import contextlib
import os
import shutil
import signal
import subprocess
import unittest

import settings
from waiting import scaled

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))

# On Windows itself there is no Wine: programs start directly.
NATIVE = os.name == 'nt'


def build_dir():
    return settings.get('TG_BUILD')


def session_dir():
    """The Wine session of this process: its slot's (TG_SESSION), else the build tree's."""
    return settings.get('TG_SESSION') or build_dir()


def wine_prefix():
    return os.environ.get('WINEPREFIX') or (session_dir() and os.path.join(session_dir(), 'wineprefix'))


def drive_c():
    return os.environ.get('SystemDrive', 'C:') + '\\' if NATIVE else os.path.join(wine_prefix(), 'drive_c')


def to_windows(path):
    """Windows form of a Unix path: C:\\... inside drive_c, else Z:\\..."""
    if NATIVE:
        return os.path.abspath(str(path))
    real = os.path.realpath(str(path))
    root = os.path.realpath(drive_c()) if wine_prefix() else None
    if root and (real == root or real.startswith(root + os.sep)):
        return 'C:\\' + real[len(root):].lstrip(os.sep).replace('/', '\\')
    return 'Z:' + real.replace('/', '\\')


def to_unix(path):
    """Unix form of a C:\\ or Z:\\ path (as Wine maps its drives)."""
    if NATIVE:
        return path
    drive, rest = path[:2].upper(), path[2:].replace('\\', '/').lstrip('/')
    if drive == 'C:':
        return os.path.join(drive_c(), rest)
    if drive == 'Z:':
        return '/' + rest
    raise ValueError('no Unix form for %r' % path)


def installer_path():
    return settings.get('TG_INSTALLER')


def helper_path(name, folder=None):
    """A helper exe (name with or without .exe) in folder, by default TG_HELPERS; None without one."""
    folder = folder or settings.get('TG_HELPERS')
    return folder and os.path.join(folder, name if name.lower().endswith('.exe') else name + '.exe')


def helper32_path(name):
    """A 32-bit helper exe in TG_HELPERS32, None when the build has none."""
    path = settings.get('TG_HELPERS32') and helper_path(name, settings.get('TG_HELPERS32'))
    return path if path and os.path.isfile(path) else None


def wine_root():
    """The Wine 10 root that runs 32-bit programs, or None for the system's wine64."""
    return settings.get('TG_WINE_ROOT')


def wine_10():
    """Whether Wine 10 runs the test (the root, or the machine's own Wine), not Debian 12's Wine 8."""
    return bool(wine_root() or settings.get('TG_VM32_GUEST'))


def wine_programs(root=None, build=None):
    """([wine64], [wineserver]): the Wine 10 root's (by default TG_WINE_ROOT's), through wine-chroot
    with the build tree bound in, else the system's; None without wine64, [] without a wineserver."""
    root, build = root or wine_root(), build or build_dir()
    if root:
        chroot = [os.path.join(HERE, 'wine-chroot')] + (['--bind', build] if build else []) + [root]
        return chroot + ['wine64'], chroot + ['wineserver']
    wine = shutil.which('wine64') or shutil.which('wine64', path='/usr/lib/wine')
    if not wine:
        return None
    folder = os.path.dirname(os.path.realpath(wine))
    servers = [p for p in (os.path.join(folder, 'wineserver'), os.path.join(folder, 'wineserver64'),
                           shutil.which('wineserver')) if p and os.access(p, os.X_OK)]
    return [wine], servers[:1]


def wine_command():
    """The command that runs a Windows program; None without Wine, [] on Windows itself."""
    return [] if NATIVE else (wine_programs() or [None])[0]


def wine_missing(root=None):
    """Why no Wine can run here (the Wine 10 root, by default TG_WINE_ROOT, if any), or None."""
    root = root or wine_root()
    if not root:
        return None if wine_programs() else 'wine64 not found (PATH or /usr/lib/wine/wine64)'
    if not os.path.isfile(os.path.join(root, '.tg-wine32-ready')):
        return ((read(os.path.join(os.path.dirname(root), 'unavailable')) or '').strip()
                or 'no Wine 10 root at %s (tools/setup-wine32.sh builds it)' % root)


def session_env(session=None):
    """The KEY=VALUE pairs of the session's wine-session.env (by default this process's session)."""
    session = session or session_dir()
    text = read(os.path.join(session, 'wine-session.env')) if session else None
    return dict(line.split('=', 1) for line in (text or '').splitlines() if '=' in line)


class MissingSetup(AssertionError):
    """What an end-to-end test needs is not there, in a run that requires it."""


def missing(reason):
    # Under CTest (TG_E2E_REQUIRED) it fails: a broken set-up cannot pass quietly.
    if settings.get('TG_E2E_REQUIRED'):
        raise MissingSetup(reason)
    raise unittest.SkipTest(reason)


def require_wine(need_installer=False, need_helpers=False):
    """missing() unless Wine and an initialised prefix are there (not looked for on Windows itself),
    and TG_INSTALLER / TG_HELPERS when asked for."""
    why = None if NATIVE else wine_missing()
    if why:
        missing(why)
    prefix = wine_prefix()
    if not NATIVE and not (prefix and os.path.isfile(os.path.join(prefix, 'system.reg'))):
        missing('no Wine prefix (WINEPREFIX=%s); run wine-session start' % prefix)
    if need_installer and not (installer_path() and os.path.isfile(installer_path())):
        missing('TG_INSTALLER not set or missing')
    for name in ('standin_game', 'auto_user', 'winprobe') if need_helpers else ():
        if not os.path.isfile(helper_path(name) or ''):
            missing('helper %s missing in TG_HELPERS (%s)' % (name, settings.get('TG_HELPERS')))


def wine_env(env=None, lang='zh_CN.UTF-8', session=None):
    """Environment for a Wine program of the session (by default this process's): its prefix and
    X server, quiet debug, the locale."""
    e = {k: v for k, v in os.environ.items()
         if not k.startswith('LC_') and k not in ('WINESERVER', 'WINELOADER')}
    prefix = os.path.join(session, 'wineprefix') if session else wine_prefix()
    e.update({'WINEPREFIX': prefix} if prefix else {}, WINEDEBUG='-all', LANG=lang, LC_ALL=lang)
    display = session_env(session).get('DISPLAY')
    e.update({'DISPLAY': display} if display else {}, **(env or {}))
    return e


def read(path, mode='r'):
    """A file's content, None when it cannot be read."""
    try:
        with open(path, mode) as f:
            return f.read()
    except OSError:
        return None


def wine_processes(prefix):
    """{pid: (state, utime, stime, exe, command line, wchan)} of the processes whose WINEPREFIX is prefix."""
    mark = ('WINEPREFIX=%s' % prefix).encode()
    out = {}
    for pid in sorted((int(d) for d in os.listdir('/proc') if d.isdigit())):
        env, stat = read('/proc/%d/environ' % pid, 'rb'), read('/proc/%d/stat' % pid)
        if not env or not stat or mark not in env.split(b'\0'):
            continue
        fields = stat[stat.rindex(')') + 2:].split()
        exe = os.path.realpath('/proc/%d/exe' % pid)     # itself when unreadable
        cmd = (read('/proc/%d/cmdline' % pid, 'rb') or b'').replace(b'\0', b' ')
        out[pid] = (fields[0], int(fields[11]), int(fields[12]), exe,
                    cmd.decode('utf-8', 'replace').strip(), read('/proc/%d/wchan' % pid) or '-')
    return out


def end(pids, sig=None, group=False):
    """Sends sig (by default SIGKILL) to each process, or process group, of pids; gone ones are let be."""
    for pid in pids:
        with contextlib.suppress(OSError):
            (os.killpg if group else os.kill)(int(pid), sig or signal.SIGKILL)


PROCESS_COLUMNS = '    pid state wchan                   user-s   sys-s command'


def session_processes(prefix=None):
    """The Wine processes of this session (or of prefix's), a line each (PROCESS_COLUMNS)."""
    if NATIVE:
        return '(Windows itself: no Wine session)'
    tick = os.sysconf('SC_CLK_TCK')
    return '\n'.join('%7d %s %-24s %7.2f %7.2f %s' % (pid, p[0], p[5], p[1] / tick, p[2] / tick, p[4])
                     for pid, p in wine_processes(prefix or wine_prefix()).items()) or '(none)'


def run_wine(exe, args=(), env=None, timeout=60, lang='zh_CN.UTF-8'):
    """Runs exe under Wine without a terminal; TimeoutExpired notes the session's processes."""
    try:
        return subprocess.run(wine_command() + [str(exe)] + [str(a) for a in args],
                              env=wine_env(env, lang), timeout=scaled(timeout),
                              stdin=subprocess.DEVNULL, capture_output=True)
    except subprocess.TimeoutExpired as e:
        e.add_note("the session's processes:\n" + session_processes())
        raise


def wine_popen(exe, args=(), env=None, lang='zh_CN.UTF-8', stdin=subprocess.DEVNULL,
               stdout=subprocess.DEVNULL):
    """Starts exe under Wine in a session of its own, without a terminal."""
    return subprocess.Popen(wine_command() + [str(exe)] + [str(a) for a in args],
                            env=wine_env(env, lang), stdin=stdin, stdout=stdout,
                            stderr=subprocess.DEVNULL, start_new_session=True)
