"""A program in a console of its own, its screen buffer's text and colours
read by the helper console_driver.exe as the player sees them; each run's
files (run-N/: result.json, screen.txt) are kept under TG_TRANSCRIPTS.

ReadConsoleOutputW gives a double-width character in two cells marked
leading and trailing with a TrueType font; once, unmarked, with a raster
font, which then leaves an empty cell at the end of the line for each;
once, unmarked, with nothing left over, from Wine's conhost. Any other
form, or a Windows without a font for Chinese, fails, saying so. The
expected side is the screen buffer a console keeps for a program's writes;
both are compared as segments: runs of (UTF-8 text, attribute)."""

import collections
import contextlib
import itertools
import json
import os
import shutil
import subprocess
import tempfile
import time
import unicodedata

import settings
import wineenv
from waiting import scaled, wait_until

LEADING, TRAILING = 0x0100, 0x0200      # COMMON_LVB_LEADING_BYTE, _TRAILING_BYTE
DEFAULT_ATTR = 0x07
BLANK = (' ', DEFAULT_ATTR)


def trim_rows(lines):
    """The rows without trailing grey spaces, and without empty rows at the end."""
    rows = [list(line) for line in lines]
    for row in rows:
        while row and row[-1] == BLANK:
            row.pop()
    while rows and not rows[-1]:
        rows.pop()
    return rows


def rows_to_segments(rows):
    """[(utf8_bytes, attr)]: runs of one attribute, each row ended by "\\r\\n"
    in the attribute of its last cell (0x07 for an empty row)."""
    cells = []
    for row in rows:
        cells += row + [('\r\n', row[-1][1] if row else DEFAULT_ATTR)]
    return [(''.join(ch for ch, _ in run).encode('utf-8'), attr)
            for attr, run in itertools.groupby(cells, key=lambda cell: cell[1])]


def format_segments(segs):
    return '\n'.join('  0x%02X %r' % (a, t.decode('utf-8', 'replace')) for t, a in segs)


def diff_segments(actual, expected):
    """'' when equal, else a readable account of the first difference."""
    if actual == expected:
        return ''
    i = next((i for i, (a, e) in enumerate(zip(actual, expected)) if a != e),
             min(len(actual), len(expected)))
    return ('segments differ at #%d\n--- actual\n%s\n--- expected\n%s'
            % (i, format_segments(actual), format_segments(expected)))


def expected_segments(writes, cols=250, codepage='gbk'):
    """The segments, as Result.segments, of the screen buffer a console keeps
    for the writes [(bytes_in_codepage, attr)] (WriteFile): processed output,
    wrapping at the end of a line, one cell a character, '\\n' also returning
    the carriage. Rows that scroll off the top stay."""
    cells, x, y = {}, 0, 0

    def put(ch, attr):
        nonlocal x, y
        if x == cols:
            x, y = 0, y + 1
        cells[y, x] = (ch, attr)
        x += 1

    for data, attr in writes:
        for ch in data.decode(codepage, 'replace') if isinstance(data, bytes) else data:
            if ch == '\b':
                x = max(min(x, cols - 1) - 1, 0)
            elif ch == '\t':
                for _ in range(min(cols - x, 8 - x % 8) or 8):
                    put(' ', attr)
            elif ch == '\n':
                x, y = 0, y + 1
            elif ch == '\r':
                x = 0
            elif ch != '\a':
                put(ch, attr)
        if x == cols:       # a write that fills the line ends on the next
            x, y = 0, y + 1
    return rows_to_segments(trim_rows([cells.get((r, c), BLANK) for c in range(cols)] for r in range(y + 1)))


class UnreadableScreen(AssertionError):
    """A screen the driver read in a form the harness does not understand."""


def _wide(ch):
    return unicodedata.east_asian_width(ch) in ('W', 'F')


def decode_line(line, host):
    """(cells, form) of one line the driver read: [(character, attribute)]
    and how its double-width characters came ('marked', 'raster', 'single'
    or None); ValueError says what it does not understand."""
    text, attrs, padding = line['text'], line['attrs'], line.get('padding', 0)
    if len(text) != len(attrs):
        raise ValueError('%d characters but %d attributes' % (len(text), len(attrs)))
    cells, marked, once, x = [], 0, 0, 0
    while x < len(text):
        ch, attr = text[x], attrs[x]
        if ch == '\0':
            raise ValueError('an empty cell at column %d, inside the line' % x)
        if attr & LEADING:
            if not (x + 1 < len(text) and text[x + 1] == ch
                    and attrs[x + 1] & (LEADING | TRAILING) == TRAILING):
                raise ValueError('the leading half of %r at column %d without its trailing half' % (ch, x))
            marked += 1
            x += 1
        elif attr & TRAILING:
            raise ValueError('the trailing half of %r at column %d without its leading half' % (ch, x))
        else:
            once += _wide(ch)
        cells.append((ch, attr & 0xFF))
        x += 1
    if marked and (once or padding):
        raise ValueError('%d double-width characters in two marked cells beside %d in one cell'
                         ' and %d empty cells at the end' % (marked, once, padding))
    if padding:
        # The console gives two cells to the wide characters at least, never to ASCII.
        if not once <= padding <= sum(ord(ch) > 0x7F for ch, _ in cells):
            raise ValueError('%d empty cells at the end for %d double-width characters given once'
                             % (padding, once))
        return cells, 'raster'
    if once and host != 'wine':
        raise ValueError('%d double-width characters in one cell each and no empty cell at the'
                         ' end: neither the form of a TrueType font nor that of a raster one' % once)
    return cells, 'single' if once else 'marked' if marked else None


def describe(screen):
    """The console a screen was read from: host, code page and font."""
    font, shown = screen.get('font'), 'font unknown'
    if font:
        shown = "font '%s' (%s, %d x %d%s)" % (
            font.get('face'), 'TrueType' if font.get('truetype') else 'raster', *font.get('size', [0, 0]),
            '' if font.get('shows_chinese') else ', no Chinese characters')
    return 'on %s, code page %s, %s' % (screen.get('host', 'an unknown host'),
                                       screen.get('codepage', 'unknown'), shown)


def font_problem(started):
    """Why the console cannot show Chinese text (from started.json), or None."""
    if started.get('chinese_fonts') == []:
        return ('this %s has no font for Chinese text (none for GB2312): its console shows the'
                " installer's text as empty boxes" % ('Wine' if started.get('host') == 'wine'
                                                       else 'Windows'))


# How a console run ended; exit_code is None when it was ended, segments the last screen's.
Result = collections.namedtuple('Result', 'exit_code segments timed_out duration text')


class DriverScreen:
    """A screen the driver read: rows of (character, attribute) cells and
    the one form its double-width characters came in."""

    FORMS = {'marked': 'double-width characters in two marked cells',
             'raster': 'double-width characters once, the line padded at its end',
             'single': 'double-width characters once', None: 'no double-width characters'}

    def __init__(self, screen):
        self.info = screen or {}
        rows, forms = [], set()
        for n, line in enumerate(self.info.get('lines', [])):
            try:
                cells, form = decode_line(line, self.info.get('host'))
            except ValueError as e:
                raise self._unreadable('line %d: %s' % (n + 1, e)) from None
            rows.append(cells)
            forms.add(form)
        forms.discard(None)
        if len(forms) > 1:
            raise self._unreadable('double-width characters in the forms %s at once'
                                   % ' and '.join(sorted(forms)))
        self.form = forms.pop() if forms else None
        self.rows = trim_rows(rows)

    def _unreadable(self, what):
        return UnreadableScreen('the console driver read a screen it does not understand: %s (%s)'
                                % (what, describe(self.info)))

    def describe(self):
        return '%s; %s' % (describe(self.info), self.FORMS[self.form])

    def segments(self):
        return rows_to_segments(self.rows)

    def text(self):
        return '\r\n'.join(''.join(ch for ch, _ in row) for row in self.rows)


def _transcript_dir():
    """A new folder for a run's files: kept under TG_TRANSCRIPTS, else temporary."""
    keep = settings.get('TG_TRANSCRIPTS')
    if not keep:
        return tempfile.mkdtemp(prefix='tg-console-'), False
    for n in itertools.count(1):
        with contextlib.suppress(FileExistsError):
            os.makedirs(os.path.join(keep, 'run-%d' % n))
            return os.path.join(keep, 'run-%d' % n), True


class DriverRun:
    """A program running in a console of its own, read by the driver."""

    def __init__(self, exe, args=(), env=None, lang='zh_CN.UTF-8'):
        driver = wineenv.helper_path('console_driver')
        if not (driver and os.path.isfile(driver)):
            wineenv.missing('helper console_driver missing in TG_HELPERS')
        self.folder, self.keep = _transcript_dir()
        command = ['--out', wineenv.to_windows(self.folder), '--cols', '250', '--rows', '300']
        if settings.get('TG_SHOTS'):
            command.append('--shot')
        # A program given by name alone (cmd.exe) is found as Windows finds it.
        program = wineenv.to_windows(exe) if os.sep in str(exe) else str(exe)
        command += ['--', program] + [str(a) for a in args]
        self.start_time, self._result = time.monotonic(), None
        self.proc = wineenv.wine_popen(driver, command, env, lang)
        started = wait_until(lambda: self._json('started.json') or self._json('result.json'), 60,
                             'the console driver to start %s' % os.path.basename(str(exe)),
                             interval=0.05, stop=self.ended)
        self.pid = started.get('pid')
        if self.pid is None:
            raise RuntimeError('the console driver could not start %s: %r' % (exe, started))
        problem = font_problem(started)
        if problem:
            self.kill()
            raise AssertionError(problem)

    def _json(self, name):
        with contextlib.suppress(ValueError):       # None when unreadable
            return json.loads((wineenv.read(os.path.join(self.folder, name), 'rb') or b'').decode('utf-8'))

    def result_info(self):
        """result.json once the driver wrote it, else None."""
        if self._result is None:
            self._result = self._json('result.json')
        return self._result

    def screen(self):
        """What the console shows now; once it ended, the read after the end
        unless the one while it ran shows more."""
        done = self.result_info()
        if not done:
            return DriverScreen(self._json('screen.json'))
        running, after = DriverScreen(done.get('running')), DriverScreen(done.get('after'))
        return after if len(after.rows) >= len(running.rows) else running

    def screen_text(self):
        return self.screen().text()

    def segments(self):
        return self.screen().segments()

    def wait_for_output(self, needle, timeout=30):
        """True once the screen shows needle; WaitTimeout, with the screen,
        when the time is up or the program ends first."""
        return wait_until(lambda: needle in self.screen_text(), timeout,
                          'the console to show %r' % needle, interval=0.05, stop=self.ended,
                          detail=lambda: 'the screen:\n' + self.screen_text() +
                          "\nthe session's processes:\n" + wineenv.session_processes())

    def ended(self):
        """Why the program runs no more; None while it runs."""
        if self.result_info():
            return 'the program ended (exit code %s)' % self._result.get('exit_code')
        code = self.proc.poll()
        if code is not None and not os.path.exists(os.path.join(self.folder, 'result.json')):
            return 'the console driver ended with %s' % code

    def kill(self):
        """Ends the program: the driver is asked, then ended with it."""
        if self.result_info():
            return
        with contextlib.suppress(OSError):
            open(os.path.join(self.folder, 'stop'), 'w').close()
        try:
            wait_until(self.result_info, 10, 'the console driver to end the program', interval=0.05,
                       stop=self.ended)
        except AssertionError:
            self.proc.kill()
            if self.pid:
                wineenv.run_wine(wineenv.helper_path('winprobe'), ['end', str(self.pid)], timeout=60)

    def wait(self, timeout=60):
        """The Result once the program ended; at the time-out it is ended."""
        timed_out = False
        try:
            wait_until(self.result_info, timeout, 'the program to end', interval=0.05, stop=self.ended)
        except AssertionError:
            timed_out = True
            self.kill()
        try:
            self.proc.wait(scaled(30))
        except subprocess.TimeoutExpired:
            self.proc.kill()
        done, screen = self.result_info() or {}, self.screen()
        if self.keep:
            with open(os.path.join(self.folder, 'screen.txt'), 'w', encoding='utf-8') as f:
                f.write(('# %s\n' % screen.describe() if done else '')
                        + format_segments(screen.segments()) + '\n')
        else:
            shutil.rmtree(self.folder, ignore_errors=True)
        code = None if timed_out or done.get('stopped') else done.get('exit_code')
        duration = done['elapsed_ms'] / 1000.0 if 'elapsed_ms' in done else time.monotonic() - self.start_time
        return Result(code, screen.segments(), timed_out or bool(done.get('timed_out')), duration,
                      screen.text())


start_in_console = DriverRun
