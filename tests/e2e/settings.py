"""Every TG_* variable the project reads, read here alone (settings.get('TG_WAIT_SCALE')). Who sets
each, its default and its meaning are the table of docs/testing.md, read from there; this module
adds the types of those that are no text."""

import os
import re

DOCS = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'docs', 'testing.md')


def _flag(text):
    return text not in ('', '0', 'off', 'no')


TYPES = {'TG_WAIT_SCALE': float, 'TG_WINE_SPIN_SECONDS': float, 'TG_VM32_ALL': _flag,
         'TG_WINE_SPIN_RERUN': _flag, 'TG_SHOTS': _flag, 'TG_E2E_REQUIRED': _flag, 'TG_VM32_GUEST': _flag}
# A row of the table: | `NAME` | who sets it | meaning (default `VALUE`) |
ROW = re.compile(r'\| `(\w+)` \| (\w+) \| (.*?)(?: \(default (.*)\))? \|$')


def read_table(path=DOCS):
    """{name: (who sets it, type, default, meaning)} of the docs' table."""
    with open(path, encoding='utf-8') as f:
        rows = [ROW.match(line.rstrip('\n')) for line in f]
    return {m[1]: (m[2], TYPES.get(m[1], str), m[4] or '', m[3]) for m in rows if m}


VARIABLES = read_table()


def get(name):
    """The variable's value, of its type (a text one None when unset); only names of the table."""
    _, kind, default, _ = VARIABLES[name]
    text = os.environ.get(name, '')
    return (text or None) if kind is str else kind(text or default.strip('`'))


def without(prefix):
    """A copy of the environment without the variables whose names start with prefix."""
    return {k: v for k, v in os.environ.items() if not k.startswith(prefix)}
