"""A console's screen as rows of (character, attribute) cells, the form the
harness compares it in (segments), and the expected side: a model of the
screen buffer a Windows console keeps for what a program writes."""

import itertools

DEFAULT_ATTR = 0x07


def trim_rows(lines):
    """The rows without their trailing grey spaces, and without the empty
    rows at the end."""
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


class ConsoleModel:
    """A console screen buffer fed with WriteFile text (processed output,
    wrap at the end of a line, one cell per character; '\\n' also returns
    the carriage, as the console's processed output does). Rows that
    scroll off the top stay."""

    BLANK = (' ', DEFAULT_ATTR)

    def __init__(self, cols=250, codepage='gbk'):
        self.cols, self.codepage = cols, codepage
        self.lines = [[self.BLANK] * cols]
        self.x = self.y = 0

    def _next_line(self):
        self.x = 0
        self.y += 1
        if self.y == len(self.lines):
            self.lines.append([self.BLANK] * self.cols)

    def _put(self, ch, attr):
        if self.x == self.cols:
            self._next_line()
        self.lines[self.y][self.x] = (ch, attr)
        self.x += 1

    def write(self, data, attr):
        text = data.decode(self.codepage, 'replace') if isinstance(data, bytes) else data
        for ch in text:
            if ch == '\b':
                self.x = max(min(self.x, self.cols - 1) - 1, 0)
            elif ch == '\t':
                for _ in range(min(self.cols - self.x, 8 - self.x % 8) or 8):
                    self._put(' ', attr)
            elif ch == '\n':
                self._next_line()
            elif ch == '\r':
                self.x = 0
            elif ch != '\a':
                self._put(ch, attr)
        if self.x == self.cols:     # a write that fills the line ends on the next
            self._next_line()


def expected_segments(writes, cols=250, codepage='gbk'):
    """[(utf8_bytes, attr)] for the writes [(bytes_in_codepage, attr)], in
    the form of Result.segments."""
    model = ConsoleModel(cols, codepage)
    for data, attr in writes:
        model.write(data, attr)
    return rows_to_segments(trim_rows(model.lines))
