"""The expected side: a model of the screen buffer Wine's conhost keeps for
what a program writes, and of what the terminal shows of it."""

from terminal import DEFAULT_ATTR, apply_sgr_bytes, rows_to_segments, sgr_for_change, trim_rows


class ConsoleModel:
    """A Windows console screen buffer as Wine's conhost keeps it, fed with
    WriteFile text (processed output, wrap at end of line; one cell per
    character; '\\n' also returns the carriage), and what the terminal
    shows of it: conhost sends each update's cells with the SGR changes
    of sgr_for_change, which loses a background after ESC[m. segments()
    gives the terminal's attributes, or the buffer's (as_shown False)."""

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

    def segments(self, as_shown=True):
        return rows_to_segments(trim_rows(
            [[(ch, self.shown[i][x] if as_shown else attr) for x, (ch, attr) in enumerate(line)]
             for i, line in enumerate(self.lines)]))


def expected_segments(writes, cols=250, codepage='gbk', as_shown=None):
    """[(utf8_bytes, attr)] for the writes [(bytes_in_codepage, attr)], in
    the form of Result.segments: by default the attributes as the terminal
    shows them (equal to the written ones except after Wine's ESC[m
    background loss), with as_shown=False the buffer's own attributes.
    Over the console driver, which reads the buffer itself, the default is
    the buffer's attributes."""
    if as_shown is None:
        import console_driver
        as_shown = not console_driver.in_use()
    model = ConsoleModel(cols, codepage=codepage)
    for data, attr in writes:
        model.write(data, attr)
    return model.segments(as_shown)
