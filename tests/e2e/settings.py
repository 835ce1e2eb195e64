"""Every TG_* variable the project reads, with its type, default and meaning;
the harness reads them here alone (settings.get('TG_WAIT_SCALE')), and
docs/testing.md's table of them is `settings.py --table`."""

import os
import sys

PERSON, HARNESS = 'person', 'harness'


def _flag(text):
    return text not in ('', '0', 'off', 'no')


# name: (who sets it, type, default, meaning). The type turns the text into a value (`str`: None
# when unset or empty); a default is what the reader (often a tool) assumes.
VARIABLES = {
    'TG_WINE32_CACHE': (PERSON, str, '/var/cache/thistlegarden/wine32',
                        'where the Wine 10 root is built and kept'),
    'TG_VM32_CACHE': (PERSON, str, '/var/cache/thistlegarden/vm32',
                      'where the machine for the 32-bit runs is built and kept'),
    'TG_VM32_MACHINE': (PERSON, str, '`TG_VM32_CACHE`/machine',
                        "`tools/vm32.sh`: the machine's kernel, initrd and disk image"),
    'TG_VM32': (PERSON, str, 'on', '`off`: never use the machine; the 32-bit cases skip on a host '
                'without 32-bit code'),
    'TG_VM32_ALL': (PERSON, _flag, '', '`1` (or `tools/test.sh --vm32-all`): every 32-bit case in '
                    'the machine, not the default set'),
    'TG_VM32_ACCEL': (PERSON, str, 'tcg', '`kvm`: boot the machine with KVM instead of software '
                      'emulation'),
    'TG_VM32_WAIT_SCALE': (PERSON, str, '4', 'how much longer the harness waits inside the machine'),
    'TG_HOST32_PRETEND': (PERSON, str, '', '`no`: the probe answers "no 32-bit code" on any host, '
                          'to try that path'),
    'TG_WAIT_SCALE': (PERSON, float, '1', 'how much longer the harness waits for what it waits for'),
    'TG_WINE_SLOTS': (PERSON, None, '4', 'CMake cache variable: Wine sessions the Windows cases run '
                      'in at once (the `win64` preset sets 6)'),
    'TG_WINE_SPIN_SECONDS': (PERSON, float, '20', 'how long a wineserver must spin before its slot is '
                             'taken for the Wine 10 loop'),
    'TG_WINE_SPIN_RERUN': (PERSON, _flag, '1', '`0`: fail a case whose wineserver spun instead of '
                           'running it again'),
    'TG_E2E_VERSIONS': (PERSON, str, 'all', 'the labels `test_good_install_of_every_version` installs '
                        '(`0.25e` in the machine)'),
    'TG_SHOTS': (PERSON, _flag, '', '`1`: the console driver saves a screenshot when a program ends'),
    'TG_ACTIONLINT_DIR': (PERSON, None, '/var/cache/thistlegarden/actionlint',
                          'where the workflow linter is installed'),
    'TG_PAYLOAD_DIR': (PERSON, None, '', 'CMake cache variable: a folder of real payloads to embed '
                       'instead of the stand-ins'),
    'TG_COMPRESS_PAYLOADS': (PERSON, None, 'ON', 'CMake cache variable: `OFF` embeds every payload '
                             'stored as it is instead of compressed'),
    'TG_LZMA_SDK_DIR': (PERSON, None, '/usr/include/lzma', "CMake cache variable: where the LZMA "
                        "SDK's decoder lies (Debian's `lzma-dev`)"),
    'TG_SIGN_CERT': (PERSON, None, '', '`tools/release.sh`: the certificate that signs the installer'),
    'TG_SIGN_KEY': (PERSON, None, '', "`tools/release.sh`: the certificate's private key"),
    'TG_SIGN_PASS_FILE': (PERSON, None, '', "`tools/release.sh`: a file holding the key's password"),
    'TG_SIGN_TIMESTAMP_URL': (PERSON, None, '', '`tools/release.sh`: the time-stamping server'),
    'FUZZ_SECONDS': (PERSON, None, '30', '`tools/fuzz.sh`: how long each fuzz target runs'),
    'BENCH_ROUNDS': (PERSON, None, '7', '`tools/bench.sh`: how many times the replacement benchmark '
                     'repeats'),
    # What CTest, the runner and tools/vm32.sh hand the harness.
    'TG_BUILD': (HARNESS, str, '', 'the build tree of the run'),
    'TG_VERSION': (HARNESS, str, '', 'the version the build defines'),
    'TG_INSTALLER': (HARNESS, str, '', 'the installer under test'),
    'TG_HELPERS': (HARNESS, str, '', "the helper programs' folder (of the build's bitness, or 64-bit)"),
    'TG_HELPERS32': (HARNESS, str, '', 'the 32-bit helper programs, where the build has them'),
    'TG_PAYLOADS': (HARNESS, str, '', "the build's payloads, for the checks of what an install wrote"),
    'TG_E2E_REQUIRED': (HARNESS, _flag, '', '`1` (CTest): a missing piece of set-up fails a case '
                        'instead of skipping it'),
    'TG_WINE_ROOT': (HARNESS, str, '', 'the Wine 10 root: set, the run is of the 32-bit build'),
    'TG_SESSION': (HARNESS, str, '', "the Wine session (prefix, X server, wineserver) of the case's "
                   'slot'),
    'TG_SLOTS_ROOT': (HARNESS, str, '', 'where the slots lie, when not in the build tree (the machine)'),
    'TG_VM32_GUEST': (HARNESS, _flag, '', '`1`: the case runs inside the machine for the 32-bit runs'),
    'TG_TRANSCRIPTS': (HARNESS, str, '', "where the console driver keeps each run's files"),
    'TG_TOOLS_CACHE': (HARNESS, str, '', "where the tools' own tests keep the stand-ins and compressed sizes they made"),
}


def get(name):
    """The variable's value, of its type (a `str` one None when unset); only names of the table."""
    _, kind, default, _ = VARIABLES[name]
    text = os.environ.get(name, '')
    return (text or None) if kind is str else kind(text or default)


def without(prefix):
    """A copy of the environment without the variables whose names start with prefix."""
    return {k: v for k, v in os.environ.items() if not k.startswith(prefix)}


def table():
    """docs/testing.md's table of the variables."""
    rows = ['| variable | set by | what it does |', '|---|---|---|']
    for name, (who, _, default, meaning) in VARIABLES.items():
        said = meaning + (' (default %s)' % (default if '`' in default else '`%s`' % default)
                          if default else '')
        rows.append('| `%s` | %s | %s |' % (name, who, said))
    return '\n'.join(rows) + '\n'


if __name__ == '__main__':
    if sys.argv[1:] != ['--table']:
        sys.exit('usage: settings.py --table')
    sys.stdout.write(table())
