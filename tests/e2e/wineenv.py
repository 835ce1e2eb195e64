"""The Wine a test runs under: the build's variables (CTest gives them), the
session (prefix, X server, wineserver) of the test's slot, whether Wine and
the host can run what the test needs, and starting Windows programs."""

import json
import os
import shutil
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


def ctest_environment(build):
    """The variables CTest gives the Wine tests of a build tree, for a run
    outside CTest (the demo, the benchmark); {} when it lists none."""
    listed = subprocess.run(['ctest', '--test-dir', build, '--show-only=json-v1'],
                            capture_output=True, text=True)
    try:
        tests = json.loads(listed.stdout)['tests']
    except (ValueError, KeyError):
        return {}
    for test in tests:
        if test.get('name') == 'wine_setup':
            for prop in test.get('properties', []):
                if prop.get('name') == 'ENVIRONMENT':
                    return dict(kv.split('=', 1) for kv in prop['value'] if '=' in kv)
    return {}


def session_dir():
    """The Wine session this process uses: its prefix, X server and
    wineserver. A test run in parallel gets a slot of its own (TG_SESSION,
    set by runner.py); otherwise the build tree's own session."""
    return settings.get('TG_SESSION') or build_dir()


def wine_prefix():
    return os.environ.get('WINEPREFIX') or (session_dir() and os.path.join(session_dir(), 'wineprefix'))


def drive_c():
    if NATIVE:
        return os.environ.get('SystemDrive', 'C:') + '\\'
    return os.path.join(wine_prefix(), 'drive_c')


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
    """Path of a helper exe (name with or without .exe) in TG_HELPERS, or in
    folder; None without a folder."""
    folder = folder or settings.get('TG_HELPERS')
    return folder and os.path.join(folder, name if name.lower().endswith('.exe') else name + '.exe')


def helper32_path(name):
    """Path of a 32-bit helper exe in TG_HELPERS32, None when the build has
    none."""
    folder = settings.get('TG_HELPERS32')
    path = folder and helper_path(name, folder)
    return path if path and os.path.isfile(path) else None


def wine_root():
    """The Wine 10 root that runs 32-bit programs (TG_WINE_ROOT), or None
    for the system's wine64."""
    return settings.get('TG_WINE_ROOT')


def wine_10():
    """Whether Wine 10 runs the test: the Wine 10 root, or the machine for
    the 32-bit runs, whose own Wine is 10. Otherwise Debian 12's Wine 8."""
    return bool(wine_root() or settings.get('TG_VM32_GUEST'))


def wine_programs(root=None, build=None):
    """([wine64], [wineserver]) that run Windows programs: those of the Wine
    10 root (`root`, by default TG_WINE_ROOT), each call in a chroot with
    the build tree bound in, else the system's; None without wine64, the
    second [] without a wineserver."""
    root, build = root or wine_root(), build or build_dir()
    if root:
        chroot = [os.path.join(HERE, 'wine-chroot')] + (['--bind', build] if build else []) + [root]
        return chroot + ['wine64'], chroot + ['wineserver']
    wine = shutil.which('wine64') or ('/usr/lib/wine/wine64'
                                      if os.access('/usr/lib/wine/wine64', os.X_OK) else None)
    if not wine:
        return None
    folder = os.path.dirname(os.path.realpath(wine))
    servers = [p for p in (os.path.join(folder, 'wineserver'), os.path.join(folder, 'wineserver64'),
                           shutil.which('wineserver')) if p and os.access(p, os.X_OK)]
    return [wine], servers[:1]


def wine_command():
    """The command that runs a Windows program (wine_programs); None when
    there is no Wine; [] on Windows itself."""
    if NATIVE:
        return []
    found = wine_programs()
    return found and found[0]


def root_missing(root):
    """Why the Wine 10 root cannot run programs, or None."""
    if os.path.isfile(os.path.join(root, '.tg-wine32-ready')):
        return None
    return ((read(os.path.join(os.path.dirname(root), 'unavailable')) or '').strip()
            or 'no Wine 10 root at %s (tools/setup-wine32.sh builds it)' % root)


def wine_missing():
    """Why no Wine can run here, or None."""
    if wine_root():
        return root_missing(wine_root())
    return None if wine_command() else 'wine64 not found (PATH or /usr/lib/wine/wine64)'


def read_env(path):
    """KEY=VALUE pairs of an env file ({} when absent)."""
    pairs = (line.partition('=') for line in (read(path) or '').splitlines())
    return {k: v for k, sep, v in pairs if sep}


def session_env():
    """KEY=VALUE pairs from the session's wine-session.env ({} when absent)."""
    return read_env(os.path.join(session_dir(), 'wine-session.env')) if session_dir() else {}


class MissingSetup(AssertionError):
    """What an end-to-end test needs is not there, in a run that requires it."""


def missing(reason):
    # Under CTest (TG_E2E_REQUIRED set) a missing piece fails the test
    # instead of skipping it, so that a broken set-up cannot pass quietly.
    if settings.get('TG_E2E_REQUIRED'):
        raise MissingSetup(reason)
    raise unittest.SkipTest(reason)


def require_wine(need_installer=False, need_helpers=False):
    """Skip (or, with TG_E2E_REQUIRED, fail) unless wine64 and an
    initialised prefix are there (and TG_INSTALLER / TG_HELPERS when asked
    for). Where a 32-bit run can go at all, runner.py has decided. On
    Windows itself only the programs are looked for."""
    why = None if NATIVE else wine_missing()
    if why:
        missing(why)
    prefix = wine_prefix()
    if not NATIVE and not (prefix and os.path.isfile(os.path.join(prefix, 'system.reg'))):
        missing('no Wine prefix (WINEPREFIX=%s); run wine-session start' % prefix)
    if need_installer and not (installer_path() and os.path.isfile(installer_path())):
        missing('TG_INSTALLER not set or missing')
    if need_helpers and not os.path.isdir(settings.get('TG_HELPERS') or ''):
        missing('TG_HELPERS not set or missing')


def wine_env(env=None, lang='zh_CN.UTF-8'):
    """Environment for a wine64 child: prefix, quiet debug, locale, DISPLAY."""
    e = dict(os.environ)
    prefix = wine_prefix()
    if prefix:
        e['WINEPREFIX'] = prefix
    e['WINEDEBUG'] = '-all'
    for k in list(e):
        if k.startswith('LC_'):
            del e[k]
    e['LANG'] = lang
    e['LC_ALL'] = lang
    disp = session_env().get('DISPLAY')
    if disp:
        e['DISPLAY'] = disp
    if env:
        e.update(env)
    return e


def read(path, mode='r'):
    """A file's content, None when it cannot be read."""
    try:
        with open(path, mode) as f:
            return f.read()
    except OSError:
        return None


def wine_processes(prefix):
    """{pid: (state, utime, stime, exe, command line, wchan)} of the processes
    whose WINEPREFIX is `prefix`, as Linux sees them."""
    mark = ('WINEPREFIX=%s' % prefix).encode()
    out = {}
    for pid in sorted((int(d) for d in os.listdir('/proc') if d.isdigit())):
        env, stat = read('/proc/%d/environ' % pid, 'rb'), read('/proc/%d/stat' % pid)
        if not env or not stat or mark not in env.split(b'\0'):
            continue
        fields = stat[stat.rindex(')') + 2:].split()
        try:
            exe = os.readlink('/proc/%d/exe' % pid)
        except OSError:
            exe = ''
        cmd = (read('/proc/%d/cmdline' % pid, 'rb') or b'').replace(b'\0', b' ')
        out[pid] = (fields[0], int(fields[11]), int(fields[12]), exe,
                    cmd.decode('utf-8', 'replace').strip(), read('/proc/%d/wchan' % pid) or '-')
    return out


PROCESS_COLUMNS = '    pid state wchan                   user-s   sys-s command'


def session_processes(prefix=None):
    """The Wine processes of this session (or of prefix's), one line each
    (PROCESS_COLUMNS): PID, state, the kernel function it waits in, seconds
    in user space and in the kernel, command line. What a test shows of a
    session that stopped answering."""
    if NATIVE:
        return '(Windows itself: no Wine session)'
    tick = os.sysconf('SC_CLK_TCK')
    return '\n'.join('%7d %s %-24s %7.2f %7.2f %s' % (pid, p[0], p[5], p[1] / tick, p[2] / tick, p[4])
                     for pid, p in wine_processes(prefix or wine_prefix()).items()) or '(none)'


def run_wine(exe, args=(), env=None, timeout=60, lang='zh_CN.UTF-8'):
    """Run exe under wine64 without a terminal; CompletedProcess. A program
    that outlasts `timeout` raises TimeoutExpired, noting the session's
    processes."""
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
