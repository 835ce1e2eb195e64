"""The game on a drive too full to keep its original beside it: nothing is
replaced, the original stays whole, nothing is left beside it, and the run
says 假."""

import os
import unittest

import scenario as sc
import wineenv

DRIVE = 'M'
LABEL = '0.25c'


class FullDriveTest(sc.InstallRunTest):
    def test_a_full_drive_keeps_the_original(self):
        size = sc.VERSION_SIZES[LABEL]
        game_exe_bytes = os.path.getsize(wineenv.helper_path('standin_game'))
        # Room for the game and its assembly and half a megabyte more: neither
        # the kept original nor the patched assembly fits beside it.
        room_kib = (game_exe_bytes + size) // 1024 + 512
        with sc.SmallDrive('full', DRIVE, room_kib) as drive, \
                sc.Scenario('full-drive', game_folder=drive.path('Thistlegarden')) as s:
            s.make_game()
            original = s.write_assembly(size)
            self.assertLess(drive.free_bytes(), len(sc.payload(LABEL)))
            exe = drive.windows(s.game_exe)
            game = s.start_program(exe)
            self.assertFailedRun(s, game, drive.windows(s.game_dir) + '\\', LABEL,
                                 patched=False, copied=False)

            # The original, whole, and nothing beside it.
            self.assertTrue(s.assembly() == original, 'the original assembly changed')
            managed = os.path.dirname(s.assembly_path)
            self.assertEqual(os.listdir(managed), [sc.ASSEMBLY[-1]])
            # The game was not ended.
            self.assertTrue(sc.alive(game['pid']))


if __name__ == '__main__':
    unittest.main()
