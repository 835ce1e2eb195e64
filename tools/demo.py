"""Runs the installer under Wine against a stand-in game and shows what it did.

usage: demo.py [--build DIR] [--version LABEL] [--manual]

Runs the 32-bit release installer, the program players get, under the Wine
10 root that runs 32-bit programs here (tools/setup-wine32.sh); --build
build/win64 runs the 64-bit build under the system's wine64 instead.

Starts the Wine session of the build (a prefix and an X server), lays
out a game folder in the prefix, starts the stand-in game with its window and
an automated user that answers OK to the version confirmation, and runs the
installer. On a terminal the installer writes to this very terminal, so its
real coloured console shows; otherwise it runs in a console of its own and
what it showed is printed afterwards. The demo then lists what changed, saves
screenshots of the version confirmation and of the desktop at the end (PNG,
in BUILD/demo/, paths printed) and ends everything it started, the Wine
session included.

--manual leaves the boxes to a person: set DISPLAY to a real X display.
"""

import argparse
import os
import subprocess
import sys
import threading
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
E2E = os.path.join(REPO, 'tests', 'e2e')
sys.path.insert(0, E2E)
sys.path.insert(0, os.path.join(REPO, 'payload'))
import validate_payloads  # noqa: E402  (the reader of the table of versions)
SESSION = os.path.join(E2E, 'wine-session')


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--build', default=os.path.join(REPO, 'build', 'win32'),
                        help='the build tree (default: build/win32, the release)')
    parser.add_argument('--version', default='0.25c',
                        choices=[label for label, _, _, _ in validate_payloads.read_versions()],
                        help='game version the stand-in assembly identifies as')
    parser.add_argument('--manual', action='store_true',
                        help='a person answers the boxes (on $DISPLAY)')
    return parser.parse_args(argv)


def set_environment(build):
    # What CTest gives the end-to-end tests of that build; the stand-in game
    # is always a 64-bit program.
    os.environ['TG_BUILD'] = build
    os.environ['WINEPREFIX'] = os.path.join(build, 'wineprefix')
    os.environ['TG_INSTALLER'] = os.path.join(build, 'ThistlegardenPatch.exe')
    os.environ['PYTHONDONTWRITEBYTECODE'] = '1'
    helpers64 = os.path.join(build, 'helpers64')
    if os.path.isdir(helpers64):
        os.environ['TG_HELPERS'] = helpers64
        root = subprocess.run(['bash', os.path.join(REPO, 'tools', 'setup-wine32.sh'), '--path'],
                              capture_output=True, text=True).stdout.strip()
        os.environ['TG_WINE_ROOT'] = root
    else:
        os.environ['TG_HELPERS'] = os.path.join(build, 'tests', 'e2e', 'helpers')
        os.environ.pop('TG_WINE_ROOT', None)


def describe_installer(installer):
    # Which build runs, from its PE header.
    with open(installer, 'rb') as f:
        image = f.read(4096)
    pe = int.from_bytes(image[0x3C:0x40], 'little')
    if int.from_bytes(image[pe + 4:pe + 6], 'little') == 0x14C:
        return '32-bit release installer (i386), under Wine 10 in WoW64 mode'
    return '64-bit build (x86-64), under wine64'


def describe_payloads(installer):
    """The installer's size, split as tools/release.sh splits it."""
    size = os.path.getsize(installer)
    try:
        with open(os.path.join(os.path.dirname(installer), 'payload', 'packed', 'payload_bytes.txt')) as f:
            embedded, raw = (int(n) for n in f.read().split())
    except (OSError, ValueError):
        return '%d bytes' % size
    return ('%d bytes: the program %d, its payloads %d as carried (compressed, decoded as the run '
            'needs them), %d as files' % (size, size - embedded, embedded, raw))


# Windows colour bits (blue 1, green 2, red 4) as an ANSI colour number.
ANSI = [0, 4, 2, 6, 1, 5, 3, 7]


def ansi(segments):
    """Screen segments [(utf8, attr)] as text with ANSI colours."""
    out = []
    for text, attr in segments:
        fg, bg = attr & 0x0F, (attr >> 4) & 0x0F
        codes = ['%d' % (30 + ANSI[fg & 7] + (60 if fg & 8 else 0)),
                 '%d' % (40 + ANSI[bg & 7] + (60 if bg & 8 else 0))]
        for i, line in enumerate(text.decode('utf-8', 'replace').split('\r\n')):
            if i:
                out.append('\x1b[0m\n')
            if line:
                out.append('\x1b[%sm%s' % (';'.join(codes), line))
    return ''.join(out) + '\x1b[0m'


def short_hash(data):
    import scenario as sc
    return sc.sha256(data)[:16] if data is not None else '-'


def describe(data):
    return '%s bytes, sha256 %s' % (len(data), short_hash(data)) if data is not None else 'missing'


def screenshot(path):
    """The Wine session's whole X screen as a PNG; path, or None with the reason printed."""
    import wineenv
    display = wineenv.session_env().get('DISPLAY')
    result = subprocess.run(['import', '-display', display or '', '-window', 'root', path],
                            capture_output=True, text=True)
    if result.returncode != 0 or not os.path.isfile(path):
        print('  (no screenshot: %s)' % (result.stderr.strip() or 'no display'))
        return None
    return path


class BoxShot(threading.Thread):
    """Takes a screenshot once the version confirmation is on screen (the
    automated user waits before it answers)."""

    def __init__(self, title, path):
        super().__init__(daemon=True)
        self.title, self.path, self.taken = title, path, None
        self.stop = threading.Event()

    def run(self):
        import scenario as sc
        while not self.stop.is_set():
            if any(w['class'] == '#32770' and w['visible'] and w['title'] == self.title
                   for w in sc.top_windows()):
                time.sleep(0.5)         # drawn
                self.taken = screenshot(self.path)
                return
            time.sleep(0.2)


def run_on_this_terminal(installer, env):
    """The installer attached to our terminal; its exit code."""
    import wineenv
    proc = subprocess.Popen(wineenv.wine_command() + [installer], env=wineenv.wine_env(env))
    try:
        return proc.wait()
    except KeyboardInterrupt:
        proc.kill()
        proc.wait()
        return None


def demo(args):
    import scenario as sc
    import wineenv

    if args.manual and os.environ.get('DISPLAY'):
        sc.EXTRA_ENV['DISPLAY'] = os.environ['DISPLAY']
    sc.require()
    sc.clear_output_folder()
    print('Installer: %s' % wineenv.installer_path())
    print('  the %s' % describe_installer(wineenv.installer_path()))
    print('  %s' % describe_payloads(wineenv.installer_path()))

    with sc.Scenario('demo', game_folder='我的 游戏/Thistlegarden') as s:
        s.make_game(assembly=sc.VERSION_SIZES[args.version])
        before = s.assembly()
        game = s.start_game()
        print('Stand-in game: %s (process %d, window %d)' % (
            sc.to_windows(s.game_exe), game['pid'], game['hwnd']))
        print('Assembly before: %s' % describe(before))
        shots = os.path.join(wineenv.build_dir(), 'demo')
        os.makedirs(shots, exist_ok=True)
        for name in ('confirmation.png', 'end.png'):
            if os.path.exists(os.path.join(shots, name)):
                os.remove(os.path.join(shots, name))
        user = None
        box_shot = None
        if not args.manual:
            # It lets the box stand long enough for a screenshot.
            user = s.start_auto_user(['wait:4000+ok'])
            print('Automated user: answers OK to the version confirmation')
            box_shot = BoxShot(sc.CONFIRM_TITLE, os.path.join(shots, 'confirmation.png'))
            box_shot.start()
        print()

        started = time.monotonic()
        if sys.stdout.isatty():
            s.remember_processes()
            code = run_on_this_terminal(wineenv.installer_path(), sc.EXTRA_ENV)
        else:
            result = s.run_installer(timeout=3600)
            print(ansi(result.segments))
            code = result.exit_code
        print()
        print('Installer ended with exit code %s after %.1f s' % (code, time.monotonic() - started))
        if box_shot:
            box_shot.stop.set()
            box_shot.join(10)

        after = s.assembly()
        print()
        print('Assembly: %s' % sc.to_windows(s.assembly_path))
        print('  before: %s' % describe(before))
        print('  after:  %s' % describe(after))
        matches = [label for label in sc.PAYLOAD_FILES if after == sc.payload(label)]
        print('  now the patched assembly of %s' % matches[0] if matches
              else '  not a patched assembly')

        folder = sc.output_folder()
        print()
        print('Temporary-files folder: %s' % sc.to_windows(folder))
        for name, size in sorted(sc.list_folder(folder).items()):
            print('  %9d bytes  %s' % (size, name.replace('/', '\\')))

        print()
        print('Processes:')
        print('  game %d %s' % (game['pid'], 'still running' if sc.alive(game['pid'])
                                else 'ended'))
        for instance in s.instances()[1:]:
            print('  game %d started by process %d: %s' % (
                instance['pid'], instance['ppid'], instance['cmdline']))
        for p in s.new_processes():
            if p['exe'].lower() == 'explorer.exe':
                titles = [w['title'] for w in sc.top_windows() if w['pid'] == p['pid']
                          and w['visible']]
                print('  file manager %d started by process %d, window %s' % (
                    p['pid'], p['ppid'], ', '.join(titles) or '(none)'))
        if user:
            print()
            print('Boxes answered:')
            for box in user.entries():
                print('  [%s] %s -> %s' % (box['title'], box['text'].split('\r\n')[0],
                                           box['pressed']))
        print()
        print('Screenshots:')
        if box_shot:
            print('  version confirmation: %s' % (box_shot.taken or '(not taken)'))
        end_shot = screenshot(os.path.join(shots, 'end.png'))
        print('  end state:            %s' % (end_shot or '(not taken)'))
    print()
    print('Everything the demo started has been ended.')
    return 0 if code == 0 else 1


def main(argv):
    args = parse_args(argv)
    build = os.path.abspath(args.build)
    if not os.path.isfile(os.path.join(build, 'ThistlegardenPatch.exe')):
        print('no installer in %s: build its preset first' % build, file=sys.stderr)
        return 2
    set_environment(build)
    # The runner knows which Wine the build's run uses (set_environment said).
    if subprocess.run([sys.executable, os.path.join(E2E, 'runner.py'), 'setup', build,
                       '--slots', '0']).returncode != 0:
        print('could not start the Wine session', file=sys.stderr)
        return 2
    try:
        return demo(args)
    finally:
        subprocess.run([SESSION, 'stop', build])


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
