"""The harness by its first name: runs Windows console programs under Wine
in a pseudo-terminal and reads back what the console showed. The parts live
by concern, and are re-exported here for the tests that import winetool:

  terminal       the colour codec and TerminalScreen (what the terminal shows)
  console_model  ConsoleModel and expected_segments (what it should show)
  console_run    ConsoleRun (a program on a pseudo-terminal)
  wineenv        the build's variables, the Wine session, require_wine
  waiting        wait_until, which fails naming what it waited for
"""

import unittest  # noqa: F401  (winetool.unittest, for the tests that use it)

from console_model import expected_segments  # noqa: F401
from console_run import run_in_console, start_in_console  # noqa: F401
from terminal import (  # noqa: F401
    DEFAULT_ATTR, bg_sgr, diff_segments, fg_sgr, parse_segments, parse_terminal, same_text,
    sgr_for_change)
from waiting import WaitTimeout, wait_until  # noqa: F401
from wineenv import (  # noqa: F401
    build_dir, ctest_environment, helper32_path, helper_path, installer_path, missing, require_wine,
    run_wine, session_env, wine_10, wine_command, wine_env, wine_root)
