"""A good install on a system whose ANSI code page is not 936: the program's
names and texts still reach the disk and the screen as they are meant."""

import os
import time
import unittest

import placement
import scenario as sc

LANG = 'C.UTF-8'   # ANSI 1252, console 437
GAME_FOLDER = '游戏 目录/Thistlegarden 补丁 测试'
LABEL = '0.25a'


class AnyCodePageTest(sc.InstallRunTest):
    @placement.runs('vm32', 'spared_at_64')
    def test_good_install_under_an_english_locale(self):
        with sc.Scenario('any-codepage', game_folder=GAME_FOLDER) as s:
            s.make_game()
            try:
                s.write_assembly(sc.VERSION_SIZES[LABEL])
                s.start_game()
                user = s.start_auto_user(['ok'], name='user-any-codepage')
                run = s.start_installer(lang=LANG)
                closed = run.wait_for_output(sc.CLOSING_TEXT, timeout=90)
                time.sleep(0.3)
                self.assertTrue(closed, run.screen_text())

                # The box's texts, logged by the auto user as UTF-8.
                boxes = self.boxes(user, 1)
                self.assertEqual(len(boxes), 1, boxes)
                self.assertBox(boxes[0], sc.CONFIRM_TITLE, sc.confirm_text(LABEL), 'question',
                               ['ok', 'cancel'])

                # The game in its Chinese-named folder was found and patched.
                data = s.assembly()
                self.assertIsNotNone(data, 'the assembly is missing')
                self.assertTrue(data == sc.payload(LABEL), 'the assembly differs from the payload')

                # The comparison folder under its real name (Wine keeps UTF-8 names).
                images = os.path.join(sc.output_folder(), sc.COMPARISON_FOLDER)
                self.assertTrue(os.path.isdir(images), os.listdir(sc.temp_folder()[1]))
                self.assertEqual(sc.read_bytes(os.path.join(images, sc.BEFORE_IMAGE)),
                                 sc.before_image())
                self.assertEqual(sc.read_bytes(os.path.join(images, sc.AFTER_IMAGE)),
                                 sc.after_image())
                self.assertTrue(os.path.exists(os.path.join(images, sc.MARKER_FILE)))
                self.assertEqual(sc.read_bytes(os.path.join(sc.output_folder(),
                                                            'Assembly-CSharp.dll')),
                                 sc.payload(LABEL))
            finally:
                s.end_started()
            result = run.wait(timeout=60)
            self.assertEqual(result.exit_code, 0)


if __name__ == '__main__':
    unittest.main()
