"""Times the installer under Wine: from its start to the first banner line,
and a whole good install beyond the 17 s of delays it must spend. Prints
figures (median of a few runs); judges nothing.

usage: bench_wine.py BUILD_DIR [RUNS]   (the Wine session must be started)
"""

import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                'tests', 'e2e'))
import scenario as sc  # noqa: E402
import winetool  # noqa: E402

DELAYS = 17.0


def first_banner_line(runs):
    times = []
    for _ in range(runs):
        started = time.monotonic()
        run = winetool.start_in_console(winetool.installer_path())
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


def describe(times):
    return 'median %.2f s (of %d: %s)' % (statistics.median(times), len(times),
                                         ', '.join('%.2f' % t for t in times))


def main(argv):
    runs = int(argv[2]) if len(argv) > 2 else 3
    os.environ.setdefault('TG_PAYLOADS', winetool.ctest_environment(argv[1]).get('TG_PAYLOADS', ''))
    sc.require()
    name = os.path.basename(os.path.normpath(argv[1]))
    print('%s start to first banner line: %s' % (name, describe(first_banner_line(runs + 2))))
    print('%s whole good install beyond the 17 s of delays: %s' % (name, describe(whole_install(runs))))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
