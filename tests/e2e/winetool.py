"""Run Windows console programs under wine64 in a pseudo-terminal and read
back what the console showed: text and Windows console attributes.

Wine's conhost (unix mode) mirrors its screen buffer to the terminal:
foreground 7 is sent as ESC[m, any other foreground as ESC[30+c m or
ESC[90+c m, the background as ESC[40+c m or ESC[100+c m (c = ANSI colour:
red 1, green 2, blue 4), each only when it differs from the previous cell
as conhost remembers it; the background is never sent for attribute 0x07.
So ESC[m also clears a background that conhost believes still set, and a
later 0x?7 or same-background cell shows on the default background;
expected_segments() models that. Line ends are "\r\n" (ONLCR is off on
our pty), cursor moves are relative (\r\n, ESC[nA/C/D), the cursor is
hidden/shown around every update (ESC[?25l / ESC[?25h), four or more
trailing grey spaces become ESC[K, a row that wraps is sent again from
column 0, and SetConsoleTitle gives ESC]0;title BEL. One character takes
one cell (CJK included), so rows wrap at `cols` characters.

TerminalScreen reads that stream with pyte (python3-pyte 0.8), which
parses the sequences and moves the cursor. Our own code remains where
pyte does not show what conhost means:
- width: pyte gives a CJK character two cells (wcwidth) and wraps at its
  width; conhost counts one cell per character, also in its cursor moves,
  and wraps rows itself. draw() puts one character in one cell, on a
  screen wider than any console.
- colours: pyte turns ESC[9xm and ESC[10xm alike into its one "bold"
  flag, so a bright foreground and a bright background cannot be told
  apart. SGR parameters go through apply_sgr() to a Windows attribute,
  kept in the cell's fg (0..15) and bg (0..15).
- erasing: pyte fills erased cells with the current colours; conhost
  sends ESC[K for cells it holds as grey blanks, even while the terminal
  still has a background it believes cleared (see above), so erased cells
  are blank here, as ConsoleModel shows them. ESC[3J keeps the rows
  scrolled off.
- scrollback: pyte.HistoryScreen wraps every call for its paging (five
  times slower here); index() keeps the rows that leave the top.
"""

import dataclasses
import fcntl
import os
import select
import shutil
import signal
import struct
import subprocess
import termios
import threading
import time
import unittest

import pyte

DEFAULT_ATTR = 0x07

# Windows colour bits (blue 1, green 2, red 4) <-> ANSI colour number.
_WIN_TO_ANSI = [0, 4, 2, 6, 1, 5, 3, 7]
_ANSI_TO_WIN = [_WIN_TO_ANSI.index(i) for i in range(8)]


# ---------------------------------------------------------------- encoding

def sgr_for_change(prev, attr):
    """The bytes Wine's conhost sends when the cell attribute goes from
    prev to attr (empty when nothing changes on the terminal)."""
    out = b''
    if (attr & 0x0F) != (prev & 0x0F):
        if (attr & 0x0F) != 7:
            n = 30 + _WIN_TO_ANSI[attr & 7] + (60 if attr & 0x08 else 0)
            out += b'\x1b[%dm' % n
        else:
            out += b'\x1b[m'
    if (attr & 0xF0) != (prev & 0xF0) and attr != 7:
        n = 40 + _WIN_TO_ANSI[(attr >> 4) & 7] + (60 if attr & 0x80 else 0)
        out += b'\x1b[%dm' % n
    return out


def fg_sgr(fg):
    """SGR number Wine uses for a foreground value 0..15 (None for 7: ESC[m)."""
    if fg == 7:
        return None
    return 30 + _WIN_TO_ANSI[fg & 7] + (60 if fg & 8 else 0)


def bg_sgr(bg):
    """SGR number Wine uses for a background value 0..15."""
    return 40 + _WIN_TO_ANSI[bg & 7] + (60 if bg & 8 else 0)


# ---------------------------------------------------------------- decoding

def apply_sgr(params, attr):
    """New Windows attribute after an SGR sequence with these parameters."""
    fg, bg = attr & 0x0F, (attr >> 4) & 0x0F
    if not params:
        params = [0]
    i = 0
    while i < len(params):
        p = params[i]
        if p is None or p == 0:
            fg, bg = 7, 0
        elif p == 1:
            fg |= 8
        elif p == 22:
            fg &= 7
        elif 30 <= p <= 37:
            fg = _ANSI_TO_WIN[p - 30]
        elif 90 <= p <= 97:
            fg = _ANSI_TO_WIN[p - 90] | 8
        elif 40 <= p <= 47:
            bg = _ANSI_TO_WIN[p - 40]
        elif 100 <= p <= 107:
            bg = _ANSI_TO_WIN[p - 100] | 8
        elif p == 39:
            fg = 7
        elif p == 49:
            bg = 0
        elif p in (38, 48) and i + 2 < len(params) and params[i + 1] == 5:
            n = params[i + 2] or 0
            if n < 16:
                v = _ANSI_TO_WIN[n & 7] | (8 if n >= 8 else 0)
                if p == 38:
                    fg = v
                else:
                    bg = v
            i += 2
        i += 1
    return fg | (bg << 4)


class TerminalScreen(pyte.Screen):
    """A terminal fed with the bytes conhost writes: pyte's parser, cursor
    and scrolling, with the attributes read back as Windows console
    attributes. Rows scrolled off the top stay readable."""

    COLUMNS = 4096             # conhost wraps rows itself; never wrap here

    def __init__(self, rows=50):
        super().__init__(self.COLUMNS, rows)
        self.scrolled_off = []     # rows gone over the top, oldest first
        self._stream = pyte.ByteStream(self)

    def feed(self, data):
        self._stream.feed(data)

    def index(self):
        if self.margins is None and self.cursor.y == self.lines - 1:
            self.scrolled_off.append(self.buffer[0])
        super().index()

    # -- where pyte differs from what conhost means (see the module docstring)
    def draw(self, data):
        line = self.buffer[self.cursor.y]
        for ch in data:
            if ch < ' ':
                continue
            line[self.cursor.x] = self.cursor.attrs._replace(data=ch)
            self.cursor.x += 1

    def select_graphic_rendition(self, *params, private=False):
        if private:
            return
        attr = apply_sgr(list(params), _cell_attr(self.cursor.attrs))
        self.cursor.attrs = self.cursor.attrs._replace(fg=attr & 0x0F, bg=attr >> 4)

    def erase_in_line(self, how=0, private=False):
        line = self.buffer[self.cursor.y]
        x = self.cursor.x
        for col in [c for c in line if how == 2 or (c >= x if how == 0 else c <= x)]:
            del line[col]

    def erase_in_display(self, how=0, private=False):
        rows = {0: range(self.cursor.y + 1, self.lines), 1: range(self.cursor.y)}
        for y in rows.get(how, range(self.lines)):
            self.buffer[y].clear()
        if how in (0, 1):
            self.erase_in_line(how)

    # -- results
    def _all_rows(self):
        rows = self.scrolled_off + [self.buffer[y] for y in range(self.lines)]
        for line in rows:
            width = max(line, default=-1) + 1
            yield [(line[x].data, _cell_attr(line[x])) for x in range(width)]

    def cells(self):
        """Rows of (ch, attr) cells, gaps filled with grey spaces, trailing
        grey spaces and trailing empty rows dropped."""
        return _trim_rows(self._all_rows())

    def segments(self):
        return rows_to_segments(self.cells())

    def text(self):
        return '\r\n'.join(''.join(c for c, _ in row) for row in self.cells())


def _cell_attr(char):
    """The Windows attribute of a pyte cell; pyte's own "default" colours
    are light grey on black."""
    fg = 7 if char.fg == 'default' else char.fg
    bg = 0 if char.bg == 'default' else char.bg
    return fg | bg << 4


def _trim_rows(lines):
    rows = []
    for line in lines:
        row = list(line)
        while row and row[-1] == (' ', DEFAULT_ATTR):
            row.pop()
        rows.append(row)
    while rows and not rows[-1]:
        rows.pop()
    return rows


def rows_to_segments(rows):
    """[(utf8_bytes, attr)] for screen rows: runs of one attribute, each
    row ended by "\\r\\n" taken into its last run (attribute 0x07 for an
    empty row); adjacent runs of one attribute merged."""
    segs = []

    def add(text, attr):
        if segs and segs[-1][1] == attr:
            segs[-1][0].append(text)
        else:
            segs.append(([text], attr))

    for row in rows:
        for ch, attr in row:
            add(ch, attr)
        add('\r\n', row[-1][1] if row else DEFAULT_ATTR)
    return [(''.join(parts).encode('utf-8'), attr) for parts, attr in segs]


def parse_terminal(raw, rows=50):
    """A TerminalScreen fed with all of raw."""
    screen = TerminalScreen(rows=rows)
    screen.feed(raw)
    return screen


def parse_segments(raw, rows=50):
    """[(utf8_bytes, attr)] of what raw terminal bytes leave on the screen."""
    return parse_terminal(raw, rows).segments()


# ---------------------------------------------------------------- expected side

class ConsoleModel:
    """A Windows console screen buffer as Wine's conhost keeps it, fed with
    WriteFile text (processed output, wrap at end of line; one cell per
    character; '\\n' also returns the carriage), and what the terminal
    shows of it: conhost sends each update's cells with the SGR changes
    of sgr_for_change, which loses a background after ESC[m. cells()
    gives the buffer's attributes, shown_cells() the terminal's."""

    BLANK = (' ', DEFAULT_ATTR)

    def __init__(self, cols=250, rows=50, codepage='gbk'):
        self.cols, self.rows, self.codepage = cols, rows, codepage
        self.lines = []            # rows ever shown, each cols cells
        self.shown = []            # the terminal's attribute per cell
        self.top = 0
        self.x = 0
        self.y = 0                 # relative to top
        self.tty_attr = DEFAULT_ATTR
        self.term_attr = DEFAULT_ATTR
        self.written = set()       # (line, col) of cells ever written
        self._grow()

    def _grow(self):
        while len(self.lines) < self.top + self.rows:
            self.lines.append([self.BLANK] * self.cols)
            self.shown.append([DEFAULT_ATTR] * self.cols)

    def _set_tty_attr(self, attr):
        self.term_attr = apply_sgr_bytes(sgr_for_change(self.tty_attr, attr), self.term_attr)
        self.tty_attr = attr

    def _update(self, rect):
        if rect is None:
            return
        left, top, right, bottom = rect
        for y in range(top, bottom + 1):
            line = self.lines[self.top + y]
            trailing = 0
            while trailing < self.cols and line[self.cols - 1 - trailing] == self.BLANK:
                trailing += 1
            if trailing < 4:
                trailing = 0
            for x in range(left, right + 1):
                self._set_tty_attr(line[x][1])
                if x + trailing >= self.cols:
                    break
                self.shown[self.top + y][x] = self.term_attr

    def _scroll(self, rect):
        self.y = self.rows - 1
        self._update(rect)
        self.top += 1
        self._grow()

    def _wrap(self, rect):
        """Past the last column the cursor goes to the next line's start; at
        the bottom the screen scrolls. The rectangle still to update, None
        once scrolled."""
        if self.x == self.cols:
            self.x = 0
            self.y += 1
        if self.y == self.rows:
            self._scroll(rect)
            return None
        return rect

    def write(self, data, attr):
        text = data.decode(self.codepage, 'replace') if isinstance(data, bytes) else data
        rect = None

        def put(ch):
            nonlocal rect
            rect = self._wrap(rect)
            self.lines[self.top + self.y][self.x] = (ch, attr)
            self.written.add((self.top + self.y, self.x))
            if rect is None:
                rect = (self.x, self.y, self.x, self.y)
            else:
                l, t, r, b = rect
                rect = (min(l, self.x), min(t, self.y), max(r, self.x), max(b, self.y))
            self.x += 1

        for ch in text:
            if ch == '\b':
                self.x = min(self.x, self.cols - 1)
                if self.x:
                    self.x -= 1
            elif ch == '\t':
                k = min(self.cols - self.x, 8 - self.x % 8) or 8
                for _ in range(k):
                    put(' ')
            elif ch == '\n':
                self.x = 0
                self.y += 1
                if self.y == self.rows:
                    self._scroll(rect)
                else:
                    self._update(rect)
                rect = None
            elif ch == '\r':
                self.x = 0
            elif ch == '\a':
                pass
            else:
                put(ch)
        if self.x == self.cols:
            rect = self._wrap(rect)
        self._update(rect)

    def set_cursor(self, x, y):
        """SetConsoleCursorPosition: moves the cursor, draws nothing."""
        self.x, self.y = x, y

    def _rows(self, shown):
        out = []
        for i, line in enumerate(self.lines):
            if shown:
                out.append([(ch, self.shown[i][x]) for x, (ch, _) in enumerate(line)])
            else:
                out.append(list(line))
        return _trim_rows(out)

    def cells(self):
        return self._rows(False)

    def shown_cells(self):
        return self._rows(True)

    def segments(self, as_shown=True):
        return rows_to_segments(self._rows(as_shown))


def apply_sgr_bytes(seq, attr):
    """Attribute after the SGR sequences in seq (bytes of ESC[...m)."""
    for part in seq.split(b'\x1b[')[1:]:
        body = part[:-1]
        attr = apply_sgr([int(p) if p else None for p in body.split(b';')] if body else [], attr)
    return attr


def expected_segments(writes, cols=250, rows=50, codepage='gbk', as_shown=True):
    """[(utf8_bytes, attr)] for the writes [(bytes_in_codepage, attr)], in
    the form of Result.segments: by default the attributes as the terminal
    shows them (equal to the written ones except after Wine's ESC[m
    background loss), with as_shown=False the buffer's own attributes.
    An item ('cursor', x, y) moves the cursor as SetConsoleCursorPosition."""
    model = ConsoleModel(cols, rows, codepage)
    for item in writes:
        if len(item) == 3 and item[0] == 'cursor':
            model.set_cursor(item[1], item[2])
        else:
            model.write(item[0], item[1])
    return model.segments(as_shown)


def gbk_to_utf8(data):
    return data.decode('gbk').encode('utf-8')


def same_text(terminal_bytes, gbk_bytes):
    """True when UTF-8 text from the terminal equals GBK-encoded text."""
    return terminal_bytes.decode('utf-8', 'replace') == gbk_bytes.decode('gbk', 'replace')


def format_segments(segs):
    return '\n'.join('  0x%02X %r' % (a, t.decode('utf-8', 'replace')) for t, a in segs)


def diff_segments(actual, expected):
    """'' when equal, else a readable account of the first difference."""
    if actual == expected:
        return ''
    for i, (a, e) in enumerate(zip(actual, expected)):
        if a != e:
            break
    else:
        i = min(len(actual), len(expected))
    return ('segments differ at #%d\n--- actual\n%s\n--- expected\n%s'
            % (i, format_segments(actual), format_segments(expected)))


# ---------------------------------------------------------------- environment

def build_dir():
    return os.environ.get('TG_BUILD') or None


def session_dir():
    """The Wine session this process uses: its prefix, X server and
    wineserver. A test run in parallel gets a slot of its own (TG_SESSION,
    set by in-slot); otherwise the build tree's own session."""
    return os.environ.get('TG_SESSION') or build_dir()


def wine_prefix():
    p = os.environ.get('WINEPREFIX')
    if not p and session_dir():
        p = os.path.join(session_dir(), 'wineprefix')
    return p


def installer_path():
    return os.environ.get('TG_INSTALLER') or None


def helpers_dir():
    return os.environ.get('TG_HELPERS') or None


def helper_path(name):
    """Path of a helper exe in TG_HELPERS (name with or without .exe)."""
    d = helpers_dir()
    if not d:
        return None
    if not name.lower().endswith('.exe'):
        name += '.exe'
    return os.path.join(d, name)


HERE = os.path.dirname(os.path.abspath(__file__))


def helper32_path(name):
    """Path of a 32-bit helper exe in TG_HELPERS32, None when the build has
    none."""
    d = os.environ.get('TG_HELPERS32')
    if not d:
        return None
    path = os.path.join(d, name if name.lower().endswith('.exe') else name + '.exe')
    return path if os.path.isfile(path) else None


def wine_root():
    """The Wine 10 root that runs 32-bit programs (TG_WINE_ROOT), or None
    for the system's wine64."""
    return os.environ.get('TG_WINE_ROOT') or None


def wine_command():
    """The command that runs a Windows program: [wine64] or, with a Wine
    10 root, [wine-chroot, wine64]; None when there is no Wine."""
    if wine_root():
        return [os.path.join(HERE, 'wine-chroot'), 'wine64']
    w = shutil.which('wine64')
    if w:
        return [w]
    if os.access('/usr/lib/wine/wine64', os.X_OK):
        return ['/usr/lib/wine/wine64']
    return None


def restart_wineserver():
    """Ends the prefix's wineserver and every Wine process of it; the next
    Wine program starts a new one."""
    server = [os.path.join(HERE, 'wine-chroot'), 'wineserver'] if wine_root() else ['wineserver']
    env = wine_env()
    subprocess.run(server + ['-k'], env=env, capture_output=True, timeout=60)
    subprocess.run(server + ['-w'], env=env, capture_output=True, timeout=60)


def wine_missing():
    """Why no Wine can run here, or None."""
    root = wine_root()
    if root:
        if os.path.isfile(os.path.join(root, '.tg-wine32-ready')):
            return None
        why = os.path.join(os.path.dirname(root), 'unavailable')
        try:
            with open(why) as f:
                return f.read().strip()
        except OSError:
            return 'no Wine 10 root at %s (tools/setup-wine32.sh builds it)' % root
    return None if wine_command() else 'wine64 not found'


def session_env():
    """KEY=VALUE pairs from the session's wine-session.env ({} when absent)."""
    d = session_dir()
    out = {}
    if not d:
        return out
    try:
        with open(os.path.join(d, 'wine-session.env')) as f:
            for line in f:
                k, sep, v = line.rstrip('\n').partition('=')
                if sep:
                    out[k] = v
    except OSError:
        pass
    return out


class MissingSetup(AssertionError):
    """What an end-to-end test needs is not there, in a run that requires it."""


def _missing(reason):
    # Under CTest (TG_E2E_REQUIRED set) a missing piece fails the test
    # instead of skipping it, so that a broken set-up cannot pass quietly.
    if os.environ.get('TG_E2E_REQUIRED'):
        raise MissingSetup(reason)
    raise unittest.SkipTest(reason)


REPO = os.path.dirname(os.path.dirname(HERE))


def _host32():
    return subprocess.run(['bash', os.path.join(REPO, 'tools', 'host32.sh'), '--reason'],
                          capture_output=True, text=True, timeout=900)


def no_32_bit_code():
    """Why this host cannot run 32-bit Windows programs (its kernel runs no
    32-bit code), or None when it can. A probe that cannot tell is an
    error, never a "cannot"."""
    probe = _host32()
    if probe.returncode == 0:
        return None
    if probe.returncode == 1:
        return probe.stdout.strip()
    raise MissingSetup('cannot tell whether this host runs 32-bit code: '
                       + (probe.stdout + probe.stderr).strip())


def require_wine(need_installer=False, need_helpers=False):
    """Skip (or, with TG_E2E_REQUIRED, fail) unless wine64 and an
    initialised prefix are there (and TG_INSTALLER / TG_HELPERS when asked
    for). A 32-bit run on a host that runs no 32-bit code is skipped,
    saying so, whatever TG_E2E_REQUIRED says."""
    if wine_root():
        why = no_32_bit_code()
        if why:
            raise unittest.SkipTest(why)
    elif os.environ.get('TG_SPARED_WHERE_32_RUNS') and _host32().returncode == 0:
        raise unittest.SkipTest('the 32-bit suite runs this case on this host')
    why = wine_missing()
    if why:
        _missing(why)
    prefix = wine_prefix()
    if not prefix or not os.path.isfile(os.path.join(prefix, 'system.reg')):
        _missing('no Wine prefix (WINEPREFIX=%s); run wine-session start' % prefix)
    if need_installer and not (installer_path() and os.path.isfile(installer_path())):
        _missing('TG_INSTALLER not set or missing')
    if need_helpers and not (helpers_dir() and os.path.isdir(helpers_dir())):
        _missing('TG_HELPERS not set or missing')


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


# ---------------------------------------------------------------- running

@dataclasses.dataclass
class Result:
    exit_code: object          # int, or None when timed out
    raw_bytes: bytes           # everything the terminal received
    segments: list             # [(utf8_bytes, attr)] of the final screen
    timed_out: bool = False
    duration: float = 0.0
    stderr: bytes = b''        # only with stderr='pipe'
    screen: object = None      # the TerminalScreen

    @property
    def text(self):
        """The screen as str, rows joined with \\r\\n."""
        return self.screen.text() if self.screen else ''

    def lines(self):
        return self.text.split('\r\n') if self.text else []


class ConsoleRun:
    """A program running under wine64 on a pseudo-terminal; the terminal
    is read continuously by a thread. Use wait() for the Result."""

    def __init__(self, exe, args=(), env=None, cols=250, rows=50,
                 lang='zh_CN.UTF-8', cwd=None, stderr='pty'):
        wine = wine_command()
        if not wine:
            raise FileNotFoundError('wine64 not found')
        self.cols, self.rows = cols, rows
        self._chunks = []
        self._lock = threading.Lock()
        self._last_data = time.monotonic()
        master, slave = os.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack('HHHH', rows, cols, 0, 0))
        attrs = termios.tcgetattr(slave)
        attrs[1] &= ~termios.ONLCR            # keep conhost's "\r\n" as sent
        termios.tcsetattr(slave, termios.TCSANOW, attrs)
        self._master = master

        def child_setup():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)
            signal.signal(signal.SIGHUP, signal.SIG_IGN)

        self.start_time = time.monotonic()
        try:
            self.proc = subprocess.Popen(
                wine + [str(exe)] + [str(a) for a in args],
                stdin=slave, stdout=slave,
                stderr=subprocess.PIPE if stderr == 'pipe' else slave,
                env=wine_env(env, lang), cwd=cwd, preexec_fn=child_setup,
                close_fds=True)
        finally:
            os.close(slave)
        self.pid = self.proc.pid
        self._stderr = b''
        self._reader = threading.Thread(target=self._read_loop, daemon=True)
        self._stop = False
        self._reader.start()
        if stderr == 'pipe':
            self._err_reader = threading.Thread(target=self._read_err, daemon=True)
            self._err_reader.start()
        else:
            self._err_reader = None

    def _read_loop(self):
        while not self._stop:
            try:
                r, _, _ = select.select([self._master], [], [], 0.05)
            except (OSError, ValueError):
                return
            if not r:
                continue
            try:
                data = os.read(self._master, 65536)
            except OSError:
                return
            if not data:
                return
            with self._lock:
                self._chunks.append(data)
                self._last_data = time.monotonic()

    def _read_err(self):
        self._stderr = self.proc.stderr.read()

    def output(self):
        """Bytes received so far."""
        with self._lock:
            return b''.join(self._chunks)

    def wait_for_output(self, needle, timeout=30):
        """Wait until the screen text contains needle (str); True if seen."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if needle in parse_terminal(self.output(), self.rows).text():
                return True
            if self.proc.poll() is not None:
                return needle in parse_terminal(self.output(), self.rows).text()
            time.sleep(0.05)
        return False

    def kill(self):
        """End the wine process by its PID."""
        if self.proc.poll() is None:
            try:
                os.kill(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass

    def wait(self, timeout=60, drain=0.2):
        timed_out = False
        try:
            code = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            timed_out = True
            self.kill()
            self.proc.wait()
            code = None
        # Output written before the exit is already queued; read it all.
        end = time.monotonic() + 5
        while time.monotonic() < end:
            with self._lock:
                quiet = time.monotonic() - self._last_data
            if quiet >= drain or not self._reader.is_alive():
                break
            time.sleep(0.02)
        self._stop = True
        self._reader.join(1)
        try:
            os.close(self._master)
        except OSError:
            pass
        if self._err_reader:
            self._err_reader.join(2)
        duration = time.monotonic() - self.start_time
        raw = self.output()
        screen = parse_terminal(raw, self.rows)
        return Result(code, raw, screen.segments(), timed_out, duration,
                      self._stderr, screen)


def start_in_console(exe, args=(), env=None, cols=250, rows=50,
                     lang='zh_CN.UTF-8', cwd=None, stderr='pty'):
    """Start exe under wine64 on a pty and return the ConsoleRun."""
    return ConsoleRun(exe, args, env, cols, rows, lang, cwd, stderr)


def run_in_console(exe, args=(), env=None, timeout=60, cols=250, lang='zh_CN.UTF-8',
                   rows=50, cwd=None, stderr='pty'):
    """Run exe under wine64 in a cols x rows pseudo-terminal until it exits;
    Result(exit_code, raw_bytes, segments, ...). On time-out the process
    is killed, exit_code is None and timed_out is True."""
    return ConsoleRun(exe, args, env, cols, rows, lang, cwd, stderr).wait(timeout)


def run_wine(exe, args=(), env=None, timeout=60, lang='zh_CN.UTF-8', cwd=None):
    """Run exe under wine64 without a terminal; CompletedProcess."""
    return subprocess.run(wine_command() + [str(exe)] + [str(a) for a in args],
                          env=wine_env(env, lang), cwd=cwd, timeout=timeout,
                          stdin=subprocess.DEVNULL, capture_output=True)
