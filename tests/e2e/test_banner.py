"""The installer under Wine in a real console: the banner, byte for byte
and in its colours, then the discovery lines and the not-found report."""

import unittest

import placement
import scenario as sc
import console_driver
import wineenv

BANNER = sc.BANNER


def gbk(writes):
    return [(text.encode("gbk"), attr) for text, attr in writes]


class BannerTest(unittest.TestCase):
    def setUp(self):
        wineenv.require_wine(need_installer=True)

    def check_banner(self, lang):
        run = console_driver.start_in_console(wineenv.installer_path(), lang=lang)
        try:
            shown = run.wait_for_output("thistlegarden-patch", timeout=60)
            self.assertTrue(shown, run.screen_text())
        finally:
            run.kill()
        result = run.wait(10)
        expected = console_driver.expected_segments(gbk(BANNER))
        banner = result.segments[: len(expected)]
        self.assertEqual(banner, expected, console_driver.diff_segments(banner, expected))

    @placement.runs('vm32')
    def test_banner_on_a_chinese_console(self):
        self.check_banner("zh_CN.UTF-8")

    @placement.runs('vm32', 'windows')
    def test_banner_is_legible_on_another_code_page(self):
        self.check_banner("C.UTF-8")


if __name__ == "__main__":
    unittest.main()
