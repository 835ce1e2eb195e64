"""A good install where the game's folder, the installer's folder and the
temporary-files folder have names code page 936 cannot hold: every path
reaches the file and process calls unchanged; the console shows "?" for
such a character."""

import os
import shutil
import unittest

import scenario as sc
import console_driver
import wineenv

GAME_FOLDER = 'Thistlegarden ♪'
OWN_FOLDER = '下载 ♪ 게임'
TEMP_FOLDER = 'Temp ♥ Ä'
LABEL = '0.25e'


class AnyFolderTest(sc.E2ETest):
    def test_names_beyond_code_page_936(self):
        with sc.Scenario('any-folder', game_folder=GAME_FOLDER) as s:
            s.make_game()
            original = s.write_assembly(sc.VERSION_SIZES[LABEL])
            own = os.path.join(s.root, OWN_FOLDER)
            os.makedirs(own)
            installer = os.path.join(own, 'ThistlegardenPatch.exe')
            shutil.copyfile(wineenv.installer_path(), installer)
            temp = os.path.join(s.root, TEMP_FOLDER)
            os.makedirs(temp)
            game = s.start_game()
            previous = len(s.instances())
            user = s.start_auto_user(['ok'])
            s.remember_processes()
            # The temporary-files folder comes from the environment Windows
            # hands the program (Wine takes it from its registry, not from
            # the Unix one): set by a command shell, which then starts the
            # installer from its own folder. No quotes: Wine would escape them.
            command = 'set TEMP=%s&& set TMP=%s&& cd /d %s&& ThistlegardenPatch.exe' % (
                sc.to_windows(temp), sc.to_windows(temp), sc.to_windows(own))
            run = console_driver.start_in_console('cmd.exe', ['/c', command], env=sc.EXTRA_ENV)
            s.adopt(run)
            try:
                shown = sc.to_windows(s.game_exe).replace('♪', '?')
                boxes = self.assertInstalledFromFolder(s, run, user, game, shown, LABEL, original,
                                                       previous)
                ours = os.path.join(temp, sc.OUTPUT_FOLDER)
                self.assertEqual(sc.read_bytes(os.path.join(ours, 'Assembly-CSharp.dll')),
                                 sc.payload(LABEL))
                images = os.path.join(ours, sc.COMPARISON_FOLDER)
                self.assertEqual(sc.read_bytes(os.path.join(images, sc.AFTER_IMAGE)),
                                 sc.after_image())
                installer_pid = boxes[0]['pid']
                self.assertTrue(s.file_manager_window(installer_pid, sc.to_windows(images)))
            finally:
                s.end_started()
            self.assertEqual(run.wait(timeout=60).exit_code, 0)


if __name__ == '__main__':
    unittest.main()
