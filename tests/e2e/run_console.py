"""Runs a Windows program under Wine in a pseudo-terminal (console calls
need a real console) and prints what the console showed; the exit code is
the program's, or SKIPPED when it cannot run on this host."""

import sys

import winetool

SKIPPED = 77


def main(argv):
    winetool.require_wine()
    result = winetool.run_in_console(argv[1], argv[2:], timeout=600)
    sys.stdout.write(result.text)
    sys.stdout.write("\n")
    if result.timed_out:
        print("timed out", file=sys.stderr)
        return 1
    return result.exit_code


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except winetool.unittest.SkipTest as skip:
        print(f"skipped: {skip}")
        sys.exit(SKIPPED)
