"""A console's screen as rows of (character, attribute) cells, the form the
harness compares it in (segments), and the expected side: the screen buffer
a Windows console keeps for what a program writes."""

import itertools

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
