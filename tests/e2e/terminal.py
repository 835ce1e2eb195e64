"""What Wine's console shows on a terminal: the colour codec between Windows
console attributes and the SGR sequences conhost sends, and TerminalScreen,
which reads those bytes back as text and attributes.

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
    if (attr ^ prev) & 0x0F:
        fg = fg_sgr(attr & 0x0F)
        out += b'\x1b[%dm' % fg if fg else b'\x1b[m'
    if (attr ^ prev) & 0xF0 and attr != 7:
        out += b'\x1b[%dm' % bg_sgr(attr >> 4)
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
    for p in params or [0]:
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
    return fg | (bg << 4)


class Cells:
    """segments() and text() of a screen's cells() (rows of (ch, attr))."""

    def segments(self):
        return rows_to_segments(self.cells())

    def text(self):
        return '\r\n'.join(''.join(c for c, _ in row) for row in self.cells())


class TerminalScreen(Cells, pyte.Screen):
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
        return trim_rows(self._all_rows())


def _cell_attr(char):
    """The Windows attribute of a pyte cell; pyte's own "default" colours
    are light grey on black."""
    fg = 7 if char.fg == 'default' else char.fg
    bg = 0 if char.bg == 'default' else char.bg
    return fg | bg << 4


def trim_rows(lines):
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


def apply_sgr_bytes(seq, attr):
    """Attribute after the SGR sequences in seq (bytes of ESC[...m)."""
    for part in seq.split(b'\x1b[')[1:]:
        body = part[:-1]
        attr = apply_sgr([int(p) if p else None for p in body.split(b';')] if body else [], attr)
    return attr


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
