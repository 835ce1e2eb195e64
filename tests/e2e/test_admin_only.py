"""A game folder the player may not change, as one under Program Files for a
player without administrator rights: here the Managed folder and the
assembly are made immutable (chattr +i), which even root cannot change.
Wine has no User Account Control and runs a "runas" start with the same
rights, so the elevated part is refused too: the run asks once, changes
nothing, leaves the game running and tells the player. Under Wine 8 a
run's token reads elevated already: it does not ask, and says that even
an administrator is refused."""

import os
import subprocess
import time
import unittest

import placement
import scenario as sc
import wineenv
from waiting import scaled

ASKING_TEXT = ('游戏所在的文件夹需要管理员权限才能修改，Windows将询问是否允许本程序修改；'
               '选择“否”不会改动任何文件。')
UNCHANGED = '，游戏文件未作任何改动。'
REFUSED_TO_ADMINISTRATOR = ('游戏所在的文件夹拒绝修改（错误代码5），本程序已有管理员权限也无法修改，'
                            '可能是文件夹的权限设置或安全软件阻止了修改。游戏文件未作任何改动。')


def chattr(flag, *paths):
    try:
        return subprocess.run(['chattr', flag, *paths], capture_output=True, text=True)
    except FileNotFoundError:
        return subprocess.CompletedProcess(['chattr'], 127, '', 'chattr is not installed')


class AdminOnlyTest(sc.InstallRunTest):
    @placement.runs('vm32')
    def test_a_folder_that_refuses_the_player_asks_once_and_changes_nothing(self):
        with sc.Scenario('admin-only') as s:
            s.make_game()
            original = s.write_assembly(sc.VERSION_SIZES['0.25c'])
            managed = os.path.dirname(s.assembly_path)
            made = chattr('+i', s.assembly_path, managed)
            # Undone however the test ends, before the scenario removes its folder.
            self.addCleanup(chattr, '-i', s.assembly_path, managed)
            if made.returncode != 0:
                self.skipTest('this file system cannot make a folder immutable: ' + made.stderr.strip())
            game = s.start_game()
            user = s.start_auto_user(['ok'] * 3)
            started = time.monotonic()
            result = s.run_installer(timeout=120)
            took = time.monotonic() - started
            self.assertEqual(result.exit_code, 0)

            folder = sc.to_windows(s.game_dir) + '\\'
            if wineenv.wine_10():
                # The elevated part, started by this run for this game,
                # passes its checks of who asked and where; Wine has no
                # access lists, so the player's account may change the
                # folder by its rights, and the part does no work there.
                refused = '游戏的文件夹不用管理员权限也能修改，为安全起见，以管理员权限运行的部分不予修改' + UNCHANGED
                told = [(ASKING_TEXT + '\r\n', sc.NOTICE_ATTR),
                        (refused + '修改被拒绝可能是安全软件所致，请检查安全软件的设置后再试。\r\n', sc.NOTICE_ATTR)]
                recorded = '管理员权限：已请求，' + refused
            else:
                told = [(REFUSED_TO_ADMINISTRATOR + '\r\n', sc.NOTICE_ATTR)]
                recorded = '管理员权限：本程序已有管理员权限，文件夹仍拒绝修改'
            self.assertScreen(result, sc.BANNER
                              + sc.discovery_writes(game['hwnd'], game['pid'], folder + sc.GAME_EXE)
                              + told
                              + sc.step_writes(game['pid'], sc.GAME_EXE, False, False))
            boxes = self.boxes(user, 3)
            self.assertEqual(len(boxes), 3, boxes)
            self.assertBox(boxes[0], sc.CONFIRM_TITLE, sc.confirm_text('0.25c'), 'question', ['ok', 'cancel'])
            self.assertBox(boxes[1], sc.ERROR_TITLE, sc.DEVELOPER_TEXT, 'error', ['ok'])
            self.assertBox(boxes[2], sc.ERROR_TITLE, sc.run_failure_text(
                game['pid'], game['hwnd'], folder, sc.GAME_EXE, False, False), 'error', ['ok'])
            # The refusal was not waited out as a lock (ten seconds) before
            # asking; the rest of the run is as slow as the machine running it.
            self.assertLess(took, scaled(16 + 30) + 10, 'the run took %.1f s' % took)

            self.assertEqual(s.assembly(), original)
            self.assertEqual(sorted(os.listdir(managed)), [sc.ASSEMBLY[-1]])
            self.assertTrue(sc.alive(game['pid']), 'the game is not running')
            # The run's record says what the elevated part reported.
            record = sc.read_bytes(os.path.join(sc.output_folder(), sc.RUN_LOG))
            self.assertTrue(record.startswith(b'\xef\xbb\xbf'), record[:16])
            self.assertIn(recorded, record[3:].decode('utf-8'))
            self.assertEqual(len(s.instances()), 1, s.instances())


if __name__ == '__main__':
    unittest.main()
