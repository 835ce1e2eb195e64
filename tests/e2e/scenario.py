"""Building blocks of the end-to-end runs: a game folder in the prefix with
the stand-in game, the automated user, the installer in a console, and what
they leave behind. A Scenario ends everything it and the installer started
by process ID when it closes."""

import ast
import atexit
import contextlib
import functools
import hashlib
import json
import ntpath
import os
import queue
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import console_driver
import settings
import wineenv
from waiting import WaitTimeout, scaled, wait_until
from wineenv import drive_c, to_unix, to_windows  # noqa: F401  (sc.to_windows in the cases)

REPO = wineenv.REPO

GAME_EXE = 'Thistlegarden.exe'
ASSEMBLY = ('Thistlegarden_Data', 'Managed', 'Assembly-CSharp.dll')
OUTPUT_FOLDER = 'Thistlegarden补丁程序'
COMPARISON_FOLDER = '补丁对比图'
MARKER_FILE = '该文件夹没用可以直接删除'
BEFORE_IMAGE = '安装前.PNG'
AFTER_IMAGE = '安装后.PNG'

sys.path.insert(0, os.path.join(REPO, 'payload'))
import validate_payloads  # noqa: E402  (the reader of the table of versions)


# The versions of payload/versions.def in its order; label -> payload file
# name, and the smallest assembly size of the label's first size code (its
# size in hundredths of a mebibyte, rounded down).
_TABLE = validate_payloads.read_versions()
VERSIONS = [label for label, _, _, _ in _TABLE]
PAYLOAD_FILES = {label: name for label, _, name, _ in _TABLE}
VERSION_SIZES = {label: (codes[0] * 1048576 + 99) // 100 for label, codes, _, _ in _TABLE}

ROOT_NAME = 'tg-e2e'

# The newest record of a run in the output folder (older ones go up to 5).
RUN_LOG = '运行记录1.txt'
RUN_LOG_PREFIX = '运行记录'
NEW_FILE_SUFFIX = '.patch-new'
# Beside the kept originals: which of them each patch replaced.
KEPT_RECORD = '原版Assembly-CSharp记录.txt'


def kept_original_name(label):
    return '原版Assembly-CSharp-%s.dll.bak' % label


# Variables given to every Wine process started here (e.g. another DISPLAY).
EXTRA_ENV = {}

# Console attributes (foreground | background << 4) of the run's writes.
STEP_ATTR = 0x0A            # bright green on black
CLOSING_ATTR = 0x5F         # bright white on dark magenta
NOTICE_ATTR = 0x0E          # bright yellow on black

GOOD_INSTALL_FILE = os.path.join(REPO, 'tests', 'expected', 'good_install.txt')


# The writes of tests/expected/good_install.txt: (text with its {...}
# fields, attribute); the texts are Python string literals.
with open(GOOD_INSTALL_FILE, encoding='utf-8') as _f:
    _GOOD_INSTALL = [(ast.literal_eval(quoted.strip()), int(attr, 16))
                     for attr, quoted in (line.split(' ', 1) for line in _f
                                          if not line.startswith('#') and '"' in line)]
BANNER_LINES = 5
BANNER = _GOOD_INSTALL[:BANNER_LINES]

ERROR_TITLE = '欧尼酱~出错啦~'
CONFIRM_TITLE = '欧尼酱~这个事情很重要！'
MANUAL_TITLE = '欧尼酱！出错啦~'
MANUAL_TEXT = '未能成功检测到你的游戏版本，是否手动选择？否则退出。'
DEVELOPER_TEXT = '运行出错！，请联系开发者Orrinvale&Tamsk_Olu！'
CLOSING_TEXT = '补丁安装结束，程序在10秒后自动关闭......'


def confirm_text(label):
    return '识别Assembly-CSharp.dll大小版本自动识别为 %s，是否确认为该版本？' % label


def _variables(pid, hwnd, folder, name):
    return ('\r\n\r\n--------------------变量信息--------------------\r\n进程ID：%d'
            '\r\n窗口句柄：%d\r\n程序路径：%s\r\n程序命名：%s' % (pid, hwnd, folder, name))


def not_found_text(pid, hwnd, folder, name):
    return '未能成功寻找到游戏！\r\n请确保游戏已经在运行！' + _variables(pid, hwnd, folder, name)


def run_failure_text(pid, hwnd, folder, name, step1, step2):
    truth = lambda v: '真' if v else '假'  # noqa: E731
    return ('程序执行过程中出现错误！\r\n请尝试关闭杀毒软件后在运行本程序。'
            + _variables(pid, hwnd, folder, name)
            + '\r\n\r\n执行过程:\r\n%s\r\n%s' % (truth(step1), truth(step2)))


def _filled(writes, hwnd=0, pid=0, path='', name=''):
    fields = {'{hwnd}': '%d' % hwnd, '{pid}': '%d' % pid, '{path}': path, '{name}': name}
    out = []
    for text, attr in writes:
        for field, value in fields.items():
            text = text.replace(field, value)
        out.append((text, attr))
    return out


def discovery_writes(hwnd, pid, path):
    return _filled(_GOOD_INSTALL[BANNER_LINES:BANNER_LINES + 6], hwnd=hwnd, pid=pid, path=path)


def step_writes(pid, name, step1, step2, restarted=None):
    """The writes after the discovery lines; restarted None: the game is
    started again when step 1 ended it."""
    replace, end, one, two, again, closing = _filled(_GOOD_INSTALL[BANNER_LINES + 6:], pid=pid, name=name)
    out = []
    if step1:
        out += [replace, end]
    for (text, attr), ok in ((one, step1), (two, step2)):
        out.append((text if ok else text.replace('真', '假'), attr))
    if step1 if restarted is None else restarted:
        out.append(again)
    if not (step1 and step2):
        out.append(run_log_line())
    out.append(closing)
    return out


def run_log_line():
    folder = temp_folder()[0].rstrip('\\') + '\\' + OUTPUT_FOLDER
    return ('运行记录已保存到 %s\\%s，求助时请附上这个文件。\r\n' % (folder, RUN_LOG), NOTICE_ATTR)


def good_install_writes(game, shown_path):
    """Everything a good install of the running game prints."""
    return (BANNER + discovery_writes(game['hwnd'], game['pid'], shown_path)
            + step_writes(game['pid'], GAME_EXE, True, True))


def expected_screen(writes):
    """The segments a console shows for these writes (texts as str)."""
    return console_driver.expected_segments([(t.encode('gbk'), a) for t, a in writes])


def require():
    wineenv.require_wine(need_installer=True, need_helpers=True)


# ---------------------------------------------------------------- files

def sha256(data):
    return hashlib.sha256(data).hexdigest()


def read_bytes(path):
    with open(path, 'rb') as f:
        return f.read()


def sized_assembly(size, seed=0):
    """Stand-in original assembly of `size` bytes, unlike any payload."""
    block = hashlib.sha256(b'original assembly %d %d' % (size, seed)).digest() * 128
    return (b'MZ' + block * (size // len(block) + 1))[:size]


# ---------------------------------------------------------------- payloads

@functools.cache
def payload_dir():
    """The payloads the installer under test embeds: the build's (CTest's
    TG_PAYLOADS, else its payload/folder.txt), else stand-ins made here."""
    build = wineenv.build_dir()
    for folder in (settings.get('TG_PAYLOADS'),
                   build and (wineenv.read(os.path.join(build, 'payload', 'folder.txt')) or '').strip()):
        if folder and os.path.isfile(os.path.join(folder, 'before.png')):
            return folder
    folder = tempfile.mkdtemp(prefix='tg-payloads-')
    subprocess.run(['python3', '-B', os.path.join(REPO, 'payload', 'make_standins.py'), folder],
                   check=True, capture_output=True)
    return folder


def payload(name):
    """A payload by its label, or its file's name (the images)."""
    return read_bytes(os.path.join(payload_dir(), PAYLOAD_FILES.get(name, name)))


before_image = functools.partial(payload, 'before.png')
after_image = functools.partial(payload, 'after.png')


# ---------------------------------------------------------------- helpers

def _json_lines(data):
    out = []
    for line in filter(None, map(str.strip, data.decode('utf-8', 'replace').splitlines())):
        with contextlib.suppress(ValueError):       # a line still being written
            out.append(json.loads(line))
    return out


def read_json_lines(path):
    return _json_lines(wineenv.read(path, 'rb') or b'')


class Probe:
    """One `winprobe serve` answering this process's questions (starting a
    Windows program costs more than most answers); made again when
    EXTRA_ENV changed or it ended."""

    def __init__(self):
        self.proc, self.env = None, None

    def _start(self):
        self.stop()
        self.env = dict(EXTRA_ENV)
        self.proc = wineenv.wine_popen(wineenv.helper_path('winprobe'), ['serve'], self.env,
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, args=(self.proc.stdout, self.lines), daemon=True).start()

    @staticmethod
    def _read(out, lines):
        for line in iter(out.readline, b''):
            lines.put(line)
        out.close()
        lines.put(None)

    def ask(self, *args):
        if self.proc is None or self.proc.poll() is not None or self.env != EXTRA_ENV:
            self._start()
        self.proc.stdin.write((' '.join(str(a) for a in args) + '\n').encode())
        self.proc.stdin.flush()
        answer, timeout = [], scaled(60)
        while True:
            try:
                line = self.lines.get(timeout=timeout)
            except queue.Empty:
                error = subprocess.TimeoutExpired(['winprobe'] + list(args), timeout)
                error.add_note("the session's processes:\n" + wineenv.session_processes())
                self.stop()
                raise error from None
            if line is None:
                raise RuntimeError('winprobe ended while asked %r' % (args,))
            parsed = _json_lines(line)
            if parsed and 'done' in parsed[0]:
                return answer
            answer += parsed

    def stop(self):
        if self.proc:
            with contextlib.suppress(OSError, subprocess.TimeoutExpired):
                self.proc.stdin.close()
                self.proc.wait(5)
            _stop_popen(self.proc)
            self.proc = None


_PROBE = Probe()
atexit.register(_PROBE.stop)


def winprobe(*args):
    return _PROBE.ask(*args)


processes = functools.partial(winprobe, 'procs')
top_windows = functools.partial(winprobe, 'windows')


def shell_folders():
    """Windows itself: {hwnd: [folders]} File Explorer's windows show (one a
    tab), None when the shell cannot say."""
    lines = winprobe('folders')
    if any('error' in line for line in lines):
        return None
    shown = {}
    for line in lines:
        shown.setdefault(line['hwnd'], []).append(line['folder'])
    return shown


def same_folder(a, b):
    """Whether two Windows paths name one folder: alike but for case,
    separators and a final backslash, or one on disk (8.3 and long names)."""
    def plain(path):
        return path.replace('/', '\\').rstrip('\\').casefold()
    with contextlib.suppress(OSError, ValueError):
        return plain(a) == plain(b) or os.path.samefile(a, b)
    return False


def shows_folder(window, folder):
    """Whether a file manager's window shows folder (a Windows path): by the
    folders the shell says it shows, else by its title (the folder's name or
    path, which File Explorer may follow with " - File Explorer")."""
    if window.get('folders') is not None:
        return any(same_folder(shown, folder) for shown in window['folders'])
    title = window.get('title', '')
    path = folder.rstrip('\\/')
    return any(title == whole or title.startswith(whole + ' - ')
               for whole in (ntpath.basename(path), path))


def desktop_pids():
    return {w['pid'] for w in top_windows() if w['class'] in ('Shell_TrayWnd', 'Progman')}


def end_windows_processes(pids, politely=False):
    """Ends Windows processes by PID; politely: their windows are asked to
    close first (about 2 s a process in Wine)."""
    pids = [p for p in pids if p]
    return winprobe('close' if politely else 'end', *pids) if pids else []


@functools.cache
def temp_folder():
    """(Windows path, Unix path) of the temporary-files folder."""
    win = winprobe('temp')[0]['temp']
    return win, to_unix(win)


def output_folder():
    return os.path.join(temp_folder()[1], OUTPUT_FOLDER)


def clear_output_folder():
    shutil.rmtree(output_folder(), ignore_errors=True)


def list_folder(path):
    """{relative path: size} of every file below path but the runs' records."""
    files = [os.path.join(base, name) for base, _, names in os.walk(path) for name in names
             if not name.startswith(RUN_LOG_PREFIX)]
    return {os.path.relpath(full, path): os.path.getsize(full) for full in files}


def exited(proc, name):
    """Why waiting on proc is over (None while it runs)."""
    code = proc.poll()
    return None if code is None else '%s exited with %s' % (name, code)


def _stop_popen(proc):
    with contextlib.suppress(ProcessLookupError):
        proc.kill()             # nothing once it ended
    with contextlib.suppress(subprocess.TimeoutExpired):
        proc.wait(10)


class AutoUser:
    """The auto_user helper answering boxes; its log is read back as dicts."""

    def __init__(self, scenario, answers, name):
        self.log_path = os.path.join(scenario.root, name + '.jsonl')
        with contextlib.suppress(FileNotFoundError):
            os.remove(self.log_path)
        args = ['--log', to_windows(self.log_path), '--timeout-ms', '300000']
        args += ['--answers', ','.join(answers)] if answers else []
        self.proc = wineenv.wine_popen(wineenv.helper_path('auto_user'), args, EXTRA_ENV)
        wait_until(lambda: os.path.exists(self.log_path), 30, 'the automated user to start',
                   interval=0.05, stop=lambda: exited(self.proc, 'auto_user'))

    def entries(self):
        return read_json_lines(self.log_path)

    def wait_for(self, n, timeout=60):
        """True once the user has logged n windows; fails naming those it did."""
        wait_until(lambda: len(self.entries()) >= n, timeout,
                   'the automated user to log %d windows' % n,
                   detail=lambda: 'it logged: %r' % self.entries())
        return True

    def stop(self):
        _stop_popen(self.proc)


class Scenario:
    """One game folder in the prefix and everything started for it; a
    context manager whose close() ends what it and the installer started."""

    def __init__(self, name, game_folder='Thistlegarden', exe_name=GAME_EXE, game_bits=64):
        # The game is a 64-bit program; game_bits=32 makes it a 32-bit one.
        self.game_helper = (wineenv.helper32_path if game_bits == 32
                            else wineenv.helper_path)('standin_game')
        self.root = os.path.join(drive_c(), ROOT_NAME, name)
        shutil.rmtree(self.root, ignore_errors=True)
        os.makedirs(self.root)
        self.game_dir = os.path.join(self.root, game_folder)
        self.exe_name = exe_name
        self.marker_path = os.path.join(self.root, 'instances.jsonl')
        self._popens, self._users, self._runs = [], [], []
        self._procs_before = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # -- the game folder
    @property
    def game_exe(self):
        return os.path.join(self.game_dir, self.exe_name)

    @property
    def assembly_path(self):
        return os.path.join(self.game_dir, *ASSEMBLY)

    def make_program(self, folder, exe_name, config=None):
        """The stand-in as folder/exe_name with its standin.cfg (the marker
        file, plus `config`); the exe's path."""
        os.makedirs(folder, exist_ok=True)
        exe = os.path.join(folder, exe_name)
        shutil.copyfile(self.game_helper, exe)
        lines = ['marker=' + to_windows(self.marker_path)]
        lines += ['%s=%s' % kv for kv in (config or {}).items()]
        with open(os.path.join(folder, 'standin.cfg'), 'w', encoding='utf-8') as f:
            f.write('\r\n'.join(lines) + '\r\n')
        return exe

    def make_game(self, assembly=None, config=None):
        """The game folder: the stand-in as the game and, given a size or
        bytes, the assembly."""
        os.makedirs(os.path.dirname(self.assembly_path), exist_ok=True)
        self.make_program(self.game_dir, self.exe_name, config)
        if assembly is not None:
            self.write_assembly(assembly)

    def write_assembly(self, assembly):
        data = sized_assembly(assembly) if isinstance(assembly, int) else assembly
        with open(self.assembly_path, 'wb') as f:
            f.write(data)
        return data

    def assembly(self):
        return wineenv.read(self.assembly_path, 'rb')

    # -- processes
    def instances(self):
        """The marker lines of every stand-in game started so far."""
        return read_json_lines(self.marker_path)

    def start_wine(self, exe, args=()):
        """Starts exe under Wine; it is ended when the scenario closes."""
        proc = wineenv.wine_popen(exe, args, EXTRA_ENV)
        self._popens.append(proc)
        return proc

    def start_and_wait(self, exe, args, marker, timeout=30):
        """Starts a stand-in; the line it writes to `marker` once it runs."""
        before = len(read_json_lines(marker))
        proc = self.start_wine(exe, args)
        wait_until(lambda: len(read_json_lines(marker)) > before, timeout,
                   '%s to start' % os.path.basename(str(exe)),
                   interval=0.05, stop=lambda: exited(proc, os.path.basename(str(exe))))
        return read_json_lines(marker)[-1]

    def start_program(self, exe, window=True):
        """Starts a stand-in of make_program; its marker line once it runs
        and its window is shown."""
        info = self.start_and_wait(exe, [] if window else ['--no-window'], self.marker_path)
        if window:
            wait_until(lambda: any(w['hwnd'] == info['hwnd'] and w['visible'] for w in top_windows()),
                       10, 'window %d to be shown' % info['hwnd'])
        return info

    def start_game(self, window=True):
        return self.start_program(self.game_exe, window)

    def hold_file(self, path):
        """Another process opens path with no sharing and keeps it open."""
        marker = os.path.join(self.root, 'holder.jsonl')
        info = self.start_and_wait(wineenv.helper_path('standin_game'),
                                    ['--no-window', '--hold', to_windows(path),
                                     '--marker', to_windows(marker)], marker)
        if not info.get('held'):
            raise RuntimeError('could not hold %s: error %s' % (path, info.get('hold_error')))
        return info

    def start_auto_user(self, answers=(), name='auto_user'):
        user = AutoUser(self, list(answers), name)
        self._users.append(user)
        self._popens.append(user.proc)
        return user

    def remember_processes(self):
        """What runs now; new_processes() gives what started since."""
        self._procs_before = live_pids()
        if wineenv.NATIVE:
            self._windows_before = {w['hwnd'] for w in top_windows()}

    def start_installer(self, lang='zh_CN.UTF-8', installer=None):
        """The installer started in a console: its DriverRun."""
        self.remember_processes()
        return self.adopt(console_driver.start_in_console(installer or wineenv.installer_path(),
                                                       lang=lang, env=EXTRA_ENV))

    def adopt(self, run):
        """A console run started otherwise, ended with the scenario."""
        self._runs.append(run)
        return run

    def run_installer(self, timeout=120, lang='zh_CN.UTF-8', installer=None):
        """The Result of the installer run in a console until it ends."""
        return self.start_installer(lang, installer).wait(timeout)

    def new_processes(self):
        """Processes started since remember_processes() (the installer's
        start) but the console host, the probe and Wine's desktop process
        (started anew once the last program ended)."""
        before = self._procs_before or set()
        new = [p for p in processes() if p['pid'] not in before
               and p['exe'].lower() not in ('conhost.exe', 'winprobe.exe')]
        if any(p['exe'].lower() == 'explorer.exe' for p in new):
            desktop = desktop_pids()
            new = [p for p in new if p['pid'] not in desktop]
        return new

    def native_file_managers(self):
        """Windows itself: File Explorer windows opened since the installer
        started (its explorer.exe hands the folder to the shell's process and
        ends), with the "folders" they show where the shell says."""
        before = getattr(self, '_windows_before', set())
        windows = [w for w in top_windows() if w['class'] == 'CabinetWClass'
                   and w['hwnd'] not in before and w['visible']]
        shown = shell_folders() if windows else {}
        for w in windows if shown is not None else ():
            w['folders'] = shown.get(w['hwnd'], [])
        return windows

    def file_manager_window(self, parent_pid, folder, timeout=20):
        """The visible window of a file manager parent_pid started showing
        folder (a Windows path); fails listing those there were."""
        seen, new = [], []

        def windows():
            if wineenv.NATIVE:
                seen[:] = self.native_file_managers()
            else:
                new[:] = self.new_processes()
                started = {p['pid'] for p in new if p['exe'].lower() == 'explorer.exe'
                           and p['ppid'] == parent_pid}
                seen[:] = [w for w in top_windows() if w['pid'] in started and w['visible']]
            return [w for w in seen if shows_folder(w, folder)]

        def detail():
            # The windows seen, and what else started with every window it has.
            shown = top_windows()
            return 'file manager windows: %s\nnew processes: %s\nthe session:\n%s' % (
                json.dumps([{k: w.get(k) for k in ('title', 'folders')} for w in seen], ensure_ascii=False),
                json.dumps([dict(p, windows=[[w['class'], w['title'], w['visible']] for w in shown
                                             if w['pid'] == p['pid']]) for p in new], ensure_ascii=False),
                wineenv.session_processes())
        return wait_until(windows, timeout, 'a file manager window of process %d showing %s'
                          % (parent_pid, folder), interval=0.2, detail=detail)[0]

    def end_started(self):
        """Ends the games and file managers the installer started (by PID)."""
        if self._procs_before is None:
            return
        if wineenv.NATIVE:
            # The shell's own process shows File Explorer: close its windows.
            windows = [w['hwnd'] for w in self.native_file_managers()]
            if windows:
                winprobe('closewindow', *windows)
        started = self.new_processes()     # never Wine's desktop process
        games = {i['pid'] for i in self.instances()}
        games.update(p['pid'] for p in started if p['exe'].lower() == self.exe_name.lower())
        # Wine's file manager ended outright (one still starting has no window
        # to close) stays in its desktop's list of shell windows, and the next
        # one on its folder ends at once, showing nothing: close it once shown.
        managers = {p['pid'] for p in started if p['exe'].lower() == 'explorer.exe'}
        end_windows_processes(sorted(games & live_pids()))

        def unshown():
            return managers & live_pids() - {w['pid'] for w in top_windows() if w['visible']}
        with contextlib.suppress(WaitTimeout):
            wait_until(lambda: not unshown(), 10, 'the file managers to show a window')
        end_windows_processes(sorted(managers & live_pids()), politely=True)
        _PROBE.stop()

    def close(self):
        for run in self._runs:
            run.kill()
            run.wait(10)
        for user in self._users:
            user.stop()
        self.end_started()
        for proc in self._popens:
            _stop_popen(proc)


def live_pids():
    return {p['pid'] for p in processes()}


def alive(pid):
    return pid in live_pids()


class E2ETest(unittest.TestCase):
    """Assertions shared by the end-to-end tests."""

    maxDiff = None

    def setUp(self):
        require()

    def assertScreen(self, result, writes):
        """The console showed exactly these writes, in their colours."""
        expected = expected_screen(writes)
        self.assertEqual(result.segments, expected, console_driver.diff_segments(result.segments, expected))

    def assertBox(self, entry, title, text, icon, buttons):
        """A message box as the automated user saw it."""
        self.assertEqual(entry['kind'], 'box', entry)
        seen = {k: entry[k] for k in ('title', 'text', 'icon', 'buttons')}
        self.assertEqual(seen, {'title': title, 'text': text, 'icon': icon, 'buttons': buttons})
        self.assertEqual(entry['owner'], 0, 'boxes have no owner')

    def assertAnswered(self, entry):
        """The box closed once its answer was given."""
        self.assertEqual(entry['problem'], '', entry)
        self.assertIsNotNone(entry['gone_ms'], 'the box stayed open after %s' % entry['pressed'])

    def boxes(self, user, n):
        """The windows the user logged, once there are n."""
        user.wait_for(n, timeout=10)
        return user.entries()

    def assertInstalledFromFolder(self, s, run, user, game, shown, label, original, previous,
                                  screen_of=None):
        """A good install of `label` in `run`, a console started in another
        folder: the game's path shown as `shown`, one question, the original
        kept, the game started again in its own folder. The boxes."""
        closed = run.wait_for_output(CLOSING_TEXT, timeout=90)
        time.sleep(0.3)
        screen = run.segments()
        self.assertTrue(closed, run.screen_text())
        expected = (screen_of or expected_screen)(good_install_writes(game, shown))
        self.assertEqual(screen, expected, console_driver.diff_segments(screen, expected))
        boxes = self.boxes(user, 1)
        self.assertEqual([b['title'] for b in boxes], [CONFIRM_TITLE])
        self.assertTrue(s.assembly() == payload(label), 'not patched')
        kept = os.path.join(os.path.dirname(s.assembly_path), kept_original_name(label))
        self.assertTrue(read_bytes(kept) == original, 'the original is not kept')
        started = wait_until(lambda: s.instances()[previous:], 10,
                             'the game started again', detail=s.instances)
        self.assertEqual(len(started), 1, started)
        self.assertEqual(started[0]['exe'], to_windows(s.game_exe))
        self.assertEqual(started[0]['cwd'], to_windows(s.game_dir))
        return boxes

    def assertFailedRun(self, s, game, folder, label, patched, copied):
        """A run, OK pressed in every box, on a game of `label` in the Windows
        folder `folder` (ending in "\\") where the patch (`patched` False) or
        the copy of the patched assembly fails: its screen and boxes."""
        self.assertFalse(patched and copied, 'both steps worked')
        n = 2 if patched else 3
        user = s.start_auto_user(['ok'] * n)
        result = s.run_installer(timeout=120)
        self.assertEqual(result.exit_code, 0)
        self.assertScreen(result, BANNER + discovery_writes(game['hwnd'], game['pid'], folder + GAME_EXE)
                          + step_writes(game['pid'], GAME_EXE, patched, copied))
        boxes = self.boxes(user, n)
        self.assertEqual(len(boxes), n, boxes)
        self.assertBox(boxes[0], CONFIRM_TITLE, confirm_text(label), 'question', ['ok', 'cancel'])
        if not patched:
            self.assertBox(boxes[1], ERROR_TITLE, DEVELOPER_TEXT, 'error', ['ok'])
        self.assertBox(boxes[-1], ERROR_TITLE, run_failure_text(
            game['pid'], game['hwnd'], folder, GAME_EXE, patched, copied), 'error', ['ok'])
        return boxes


class InstallRunTest(E2ETest):
    """Tests of whole runs, each starting with an empty output folder."""

    def setUp(self):
        super().setUp()
        clear_output_folder()
