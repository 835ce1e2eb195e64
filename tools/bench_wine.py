"""Times the installer under Wine: from its start to the first banner line,
and a whole good install beyond the 17 s of delays it must spend. Prints
figures (median of a few runs); judges nothing.

usage: bench_wine.py BUILD_DIR [RUNS]   (the Wine session must be started)
       bench_wine.py BUILD_DIR RUNS --ok-to-managed LABEL
           the time from the player's OK to the first file the run creates in
           Managed (the payload decoded and checked before it), and the
           installer process's peak resident memory (VmHWM), for a game of
           version LABEL
"""

import json
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                'tests', 'e2e'))
import scenario as sc  # noqa: E402
import console_driver  # noqa: E402
import wineenv  # noqa: E402

DELAYS = 17.0


def first_banner_line(runs):
    times = []
    for _ in range(runs):
        started = time.monotonic()
        run = console_driver.start_in_console(wineenv.installer_path())
        try:
            run.wait_for_output('免责声明', timeout=60)
            times.append(time.monotonic() - started)
        finally:
            run.kill()
            run.wait(10)
    return times


def whole_install(runs):
    times = []
    with sc.Scenario('bench') as s:
        s.make_game()
        for _ in range(runs):
            sc.clear_output_folder()
            s.write_assembly(sc.VERSION_SIZES['0.25c'])
            s.start_game()
            s.start_auto_user(['ok'])
            try:
                result = s.run_installer(timeout=180)
            finally:
                s.end_started()
            if result.exit_code != 0 or s.assembly() != sc.payload('0.25c'):
                raise RuntimeError('the install did not succeed (exit %s)' % result.exit_code)
            times.append(result.duration - DELAYS)
    return times


def installer_pids():
    """Linux process IDs of the installer's Wine processes."""
    pids = []
    for entry in os.listdir('/proc'):
        try:
            with open('/proc/%s/cmdline' % entry, 'rb') as f:
                if b'ThistlegardenPatch.exe' in f.read():
                    pids.append(int(entry))
        except (OSError, ValueError):
            pass
    return pids


def peak_resident(pid):
    """VmHWM of a process, in bytes; 0 when it cannot be read."""
    try:
        with open('/proc/%d/status' % pid) as f:
            for line in f:
                if line.startswith('VmHWM:'):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


def clicked_before(log_path):
    """Seconds between the OK's click and its box going, from the helper's log."""
    with open(log_path, encoding='utf-8') as f:
        line = f.readline()
    try:
        return (json.loads(line).get('gone_ms') or 0) / 1000.0
    except ValueError:
        return 0.0


def ok_to_managed(runs, label):
    """(seconds from OK to the first new file in Managed, peak bytes) per run."""
    results = []
    with sc.Scenario('bench-ok') as s:
        s.make_game()
        managed = os.path.dirname(s.assembly_path)
        for _ in range(runs):
            sc.clear_output_folder()
            for name in os.listdir(managed):
                os.remove(os.path.join(managed, name))
            s.write_assembly(sc.VERSION_SIZES[label])
            before = set(os.listdir(managed))
            s.start_game()
            user = s.start_auto_user(['ok'])
            run = s.start_installer()
            agreed = created = None
            peak, pids, polls = 0, [], 0
            try:
                deadline = time.monotonic() + 180
                while time.monotonic() < deadline and run.proc.poll() is None:
                    # The OK is logged once its box is gone, with how long
                    # that took after the click; the first file is looked
                    # for every 5 ms from then on, the memory every 100 ms
                    # (a light loop: the machine is shared).
                    now = time.monotonic()
                    if agreed is None and os.path.getsize(user.log_path) > 0:
                        agreed = now - clicked_before(user.log_path)
                    if agreed is not None and created is None and set(os.listdir(managed)) - before:
                        created = now
                    if polls % 20 == 0:
                        pids = pids or installer_pids()
                        peak = max([peak] + [peak_resident(pid) for pid in pids])
                    polls += 1
                    time.sleep(0.005)
                result = run.wait(30)
            finally:
                s.end_started()
            if result.exit_code != 0 or s.assembly() != sc.payload(label) or None in (agreed, created):
                raise RuntimeError('the install did not succeed (exit %s)' % result.exit_code)
            results.append((created - agreed, peak))
    return results


def describe(times):
    return 'median %.2f s (of %d: %s)' % (statistics.median(times), len(times),
                                         ', '.join('%.2f' % t for t in times))


def main(argv):
    runs = int(argv[2]) if len(argv) > 2 else 3
    os.environ.setdefault('TG_BUILD', argv[1])
    sc.require()
    name = os.path.basename(os.path.normpath(argv[1]))
    if argv[3:4] == ['--ok-to-managed']:
        label = argv[4]
        results = ok_to_managed(runs, label)
        print('%s %s OK to the first file in Managed: %s' % (name, label, describe([t for t, _ in results])))
        print('%s %s installer peak resident (VmHWM): %s bytes' % (
            name, label, ', '.join('{:,d}'.format(p) for _, p in results)))
        return 0
    print('%s start to first banner line: %s' % (name, describe(first_banner_line(runs + 2))))
    print('%s whole good install beyond the 17 s of delays: %s' % (name, describe(whole_install(runs))))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
