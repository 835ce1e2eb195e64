"""The table the test command ends with: where its time went, read from the
steps it noted (build/timings.txt) and CTest's JUnit reports. Offline."""

import contextlib
import io
import sys
import tempfile
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
sys.dont_write_bytecode = True
sys.path.insert(0, str(REPO / "tools"))
import test_summary  # noqa: E402

SIM = """<?xml version="1.0" encoding="UTF-8"?>
<testsuite name="(empty)" tests="5" time="120">
  <testcase name="sim.FaultLoopTest.ConfirmedVersion" time="100.5" status="run"/>
  <testcase name="sim.Sha256Test.KnownVectors" time="0.25" status="run"/>
  <testcase name="tools.test_payload_build.StandIns.test_images_hardly_compress" time="40" status="run"/>
  <testcase name="sim_program_run" time="1.5" status="run"/>
  <testcase name="sim.Broken.Case" time="" status="fail"/>
</testsuite>
"""
WIN64 = """<?xml version="1.0" encoding="UTF-8"?>
<testsuite name="(empty)" tests="4" time="300">
  <testcase name="wine_setup" time="20" status="run"/>
  <testcase name="conformance.FileTest.Reads" time="5" status="run"/>
  <testcase name="e2e.test_install.InstallTest.test_good_install" time="150" status="run"/>
  <testcase name="e2e.test_banner.BannerTest.test_banner" time="140" status="run"/>
</testsuite>
"""


class TimeTableTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.repo = Path(self.tmp.name)
        for preset, report in (("sim", SIM), ("win64", WIN64)):
            (self.repo / "build" / preset).mkdir(parents=True)
            (self.repo / "build" / preset / "ctest.xml").write_text(report)
        old, test_summary.REPO = test_summary.REPO, str(self.repo)
        self.addCleanup(setattr, test_summary, "REPO", old)

    def notes(self, text):
        path = self.repo / "build" / "timings.txt"
        path.write_text(text)
        return test_summary.step_times(str(path))

    def test_the_steps_are_read_in_their_order_and_a_bad_line_is_left_out(self):
        self.assertEqual(self.notes("set-up 12\nbuild sim 270\nnonsense\nfuzz x\ntest sim 120\ntook 400\n"),
                         [("set-up", 12), ("build sim", 270), ("test sim", 120), ("took", 400)])
        self.assertEqual(test_summary.step_times(str(self.repo / "missing.txt")), [])

    def test_kinds_of_case(self):
        kinds = [test_summary.case_kind(name) for name in (
            "sim.FaultLoopTest.ConfirmedVersion", "tools.test_x.C.test_y", "conformance.FileTest.Reads",
            "e2e.test_install.InstallTest.test_good_install", "wine_setup")]
        self.assertEqual(kinds, ["sim", "tools", "conformance", "e2e", "wine_setup"])

    def test_cases_slowest_first_and_one_without_a_time_left_out(self):
        self.assertEqual(test_summary.case_times("sim")[:2],
                         [(100.5, "sim.FaultLoopTest.ConfirmedVersion"),
                          (40.0, "tools.test_payload_build.StandIns.test_images_hardly_compress")])
        self.assertEqual(len(test_summary.case_times("sim")), 4)
        self.assertEqual(test_summary.case_times("asan"), [])
        self.assertEqual(test_summary.suite_seconds("win64"), 300.0)
        self.assertIsNone(test_summary.suite_seconds("asan"))

    def test_the_table(self):
        steps = self.notes("set-up 12\nbuild sim 270\nbuild win64 200\ntest sim 120\ntest win64 150\n"
                           "fuzz 30\ntook 800\n")
        lines = test_summary.time_table(["sim", "asan", "win64"], steps, slowest=3)
        self.assertEqual(lines[0], "== where the time went (seconds)")
        self.assertEqual([line.split()[:2] for line in lines[1:8]],
                         [["set-up", "12"], ["build", "sim"], ["build", "win64"], ["test", "sim"],
                          ["test", "win64"], ["fuzz", "30"], ["took", "800"]])
        sim = lines[4]
        self.assertIn("4 cases, 142 s of case time (sim 101, tools 40, sim_program_run 2)", sim)
        self.assertIn("1.2 at once", sim)
        self.assertIn("e2e 290, wine_setup 20, conformance 5", lines[5])
        self.assertIn("the whole test command after set-up", lines[7])
        self.assertEqual(lines[8], "  the slowest cases:")
        slowest = [line.split() for line in lines[9:]]
        self.assertEqual(slowest, [["150.0", "win64", "e2e.test_install.InstallTest.test_good_install"],
                                   ["140.0", "win64", "e2e.test_banner.BannerTest.test_banner"],
                                   ["100.5", "sim", "sim.FaultLoopTest.ConfirmedVersion"]])

    def test_a_suite_run_beside_the_others_is_said_once_and_so(self):
        steps = self.notes("test sim beside 240\ntest win64 150\nsim's rest 90\ntook 240\n")
        rows = [line for line in test_summary.time_table(["sim", "win64"], steps, slowest=0)
                if line.split()[:1] == ["test"]]
        self.assertEqual([row.split()[:3] for row in rows], [["test", "sim", "240"], ["test", "win64", "150"]])
        self.assertIn("4 cases, 142 s of case time", rows[0])
        self.assertTrue(rows[0].endswith("; beside the Wine suites, at the lowest priority"), rows[0])
        self.assertNotIn("beside", rows[1])
        rest = [line for line in test_summary.time_table(["sim"], steps) if "rest" in line]
        self.assertEqual(rest, ["  sim's rest         90"])

    def test_without_notes_a_preset_shows_ctests_own_time(self):
        lines = test_summary.time_table(["sim", "asan"], [], slowest=1)
        self.assertEqual(lines[1].split()[:3], ["test", "sim", "120"])
        self.assertFalse(any(line.split()[:1] == ["took"] for line in lines))
        self.assertEqual(lines[-1].split(), ["100.5", "sim", "sim.FaultLoopTest.ConfirmedVersion"])

    def test_main_prints_the_table_before_what_was_proved(self):
        self.notes("build sim 1\ntook 2\n")
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            test_summary.main(["test_summary.py", "0", "host32: yes", "sim"])
        text = out.getvalue()
        self.assertLess(text.index("== where the time went"), text.index("== what this run proved"))


if __name__ == "__main__":
    unittest.main()
