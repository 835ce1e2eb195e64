"""The harness by its first name: runs Windows console programs under Wine
in a pseudo-terminal and reads back what the console showed. The parts live
by concern, and are re-exported here for the tests that import winetool:

  terminal       the colour codec and TerminalScreen (what the terminal shows)
  console_model  ConsoleModel and expected_segments (what it should show)
  console_run    ConsoleRun and Result (a program on a pseudo-terminal)
  wineenv        the build's variables, the Wine session, require_wine
  waiting        wait_until, which fails naming what it waited for
"""

import unittest  # noqa: F401  (winetool.unittest, for the tests that use it)

from console_model import ConsoleModel, expected_segments  # noqa: F401
from console_run import ConsoleRun, Result, run_in_console, start_in_console  # noqa: F401
from terminal import (  # noqa: F401
    DEFAULT_ATTR, TerminalScreen, apply_sgr, apply_sgr_bytes, bg_sgr, diff_segments, fg_sgr,
    format_segments, gbk_to_utf8, parse_segments, parse_terminal, rows_to_segments, same_text,
    sgr_for_change, trim_rows)
from waiting import WaitTimeout, wait_until  # noqa: F401
from wineenv import (  # noqa: F401
    HERE, REPO, MissingSetup, build_dir, ctest_environment, helper32_path, helper_path, helpers_dir,
    installer_path, missing, require_wine, restart_wineserver, run_wine,
    session_dir, session_env, wine_command, wine_env, wine_missing, wine_popen, wine_prefix,
    wine_10, wine_root)

_missing = missing  # the name tests used before
