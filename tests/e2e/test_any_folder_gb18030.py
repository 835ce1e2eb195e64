"""Good installs where the game's and the installer's folders end in "€"
(code page 936's single byte 0x80, no lead byte) or hold characters GB18030
has in two bytes that code page 936 lacks ("ǹ〾"): the game is found,
identified, patched and started again in its own folder; the console shows
"€" as itself and each character 936 lacks as "?"."""

import os
import shutil
import unittest

import scenario as sc
import console_driver
import wineenv

LABEL = '0.25c'


def expected_screen(writes):
    """sc.expected_screen where the text may hold "€", which the console shows
    for code page 936's 0x80 and Python's gbk codec lacks: read as GB18030,
    which has the same characters besides."""
    return console_driver.expected_segments([(t.encode('gb18030'), a) for t, a in writes],
                                           cols=250, codepage='gb18030')


class AnyFolderGB18030Test(sc.E2ETest):
    def run_in(self, name, game_folder, own_folder, shown_folder):
        with sc.Scenario(name, game_folder=game_folder) as s:
            s.make_game()
            original = s.write_assembly(sc.VERSION_SIZES[LABEL])
            own = os.path.join(s.root, own_folder)
            os.makedirs(own)
            shutil.copyfile(wineenv.installer_path(), os.path.join(own, 'ThistlegardenPatch.exe'))
            game = s.start_game()
            previous = len(s.instances())
            user = s.start_auto_user(['ok'])
            s.remember_processes()
            command = 'cd /d %s&& ThistlegardenPatch.exe' % sc.to_windows(own)
            run = console_driver.start_in_console('cmd.exe', ['/c', command], env=sc.EXTRA_ENV)
            s.adopt(run)
            try:
                shown = sc.to_windows(s.game_exe).replace(game_folder, shown_folder)
                self.assertInstalledFromFolder(s, run, user, game, shown, LABEL, original, previous,
                                               screen_of=expected_screen)
            finally:
                s.end_started()
            self.assertEqual(run.wait(timeout=60).exit_code, 0)

    def test_folders_ending_in_euro(self):
        self.run_in('euro-folder', 'Thistlegarden€', '下载€', 'Thistlegarden€')

    def test_two_byte_characters_beyond_936(self):
        self.run_in('gb18030-folder', 'Thistlegarden ǹ〾', '下载 ǹ〾', 'Thistlegarden ??')


if __name__ == '__main__':
    unittest.main()
