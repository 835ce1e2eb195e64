"""The game on a drive that fills up while the patched assembly is written:
the original stays whole, nothing is left beside it, and the run says 假."""

import os
import unittest

import scenario as sc
import winetool

DRIVE = 'M'
LABEL = '0.25c'


class FullDriveTest(sc.E2ETest):
    def setUp(self):
        super().setUp()
        sc.clear_output_folder()

    def test_a_full_drive_keeps_the_original(self):
        size = sc.VERSION_SIZES[LABEL]
        game_exe_bytes = os.path.getsize(winetool.helper_path('standin_game'))
        # Room for the game and its assembly and half a megabyte more: the
        # patched assembly, written beside the original, does not fit.
        room_kib = (game_exe_bytes + size) // 1024 + 512
        with sc.SmallDrive('full', DRIVE, room_kib) as drive, \
                sc.Scenario('full-drive', game_folder=drive.path('Thistlegarden')) as s:
            s.make_game()
            original = s.write_assembly(size)
            self.assertLess(drive.free_bytes(), len(sc.payload(LABEL)))
            exe = drive.windows(s.game_exe)
            game = s.start_program(exe)
            user = s.start_auto_user(['ok', 'ok', 'ok'])
            result = s.run_installer(timeout=120)
            self.assertEqual(result.exit_code, 0)

            folder = drive.windows(s.game_dir) + '\\'
            self.assertScreen(result, sc.BANNER + sc.discovery_writes(
                game['hwnd'], game['pid'], folder + sc.GAME_EXE)
                + sc.step_writes(game['pid'], sc.GAME_EXE, False, False))
            boxes = self.boxes(user, 3)
            self.assertEqual(len(boxes), 3, boxes)
            self.assertBox(boxes[0], sc.CONFIRM_TITLE, sc.confirm_text(LABEL), 'question',
                           ['ok', 'cancel'])
            self.assertBox(boxes[1], sc.ERROR_TITLE, sc.DEVELOPER_TEXT, 'error', ['ok'])
            self.assertBox(boxes[2], sc.ERROR_TITLE, sc.run_failure_text(
                game['pid'], game['hwnd'], folder, sc.GAME_EXE, False, False), 'error', ['ok'])

            # The original, whole, and nothing beside it.
            self.assertTrue(s.assembly() == original, 'the original assembly changed')
            managed = os.path.dirname(s.assembly_path)
            self.assertEqual(os.listdir(managed), [sc.ASSEMBLY[-1]])
            # It was kept on the temporary drive, which had room.
            kept = os.path.join(sc.output_folder(), sc.kept_original_name(LABEL))
            self.assertTrue(sc.read_bytes(kept) == original, 'the kept original differs')
            # The game was not ended.
            self.assertTrue(sc.alive(game['pid']))


if __name__ == '__main__':
    unittest.main()
