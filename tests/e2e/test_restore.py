"""A game patched with the installer's own payload, run again under Wine:
one question, and OK puts the player's original back."""

import os
import unittest

import placement
import scenario as sc

GAME_FOLDER = '我的 游戏/Thistlegarden'


def restore_text(label):
    """The one question on a game patched with one of the installer's own."""
    return '检测到游戏已经安装了 %s 补丁，是否恢复为原版？' % label


def restore_writes(pid, name):
    """The writes after the discovery lines of a run that puts the
    original back."""
    return [('恢复原版Assembly-CSharp.dll\r\n', sc.STEP_ATTR), ('结束进程 %d\r\n' % pid, sc.STEP_ATTR),
            ('执行过程[1]:真\r\n', sc.STEP_ATTR), ('重新运行 %s\r\n' % name, sc.STEP_ATTR),
            (sc.CLOSING_TEXT + '\r\n', sc.CLOSING_ATTR)]


class RestoreTest(sc.InstallRunTest):
    def patch(self, s, label):
        """A good install of `label` on a fresh original; its bytes."""
        original = s.write_assembly(sc.VERSION_SIZES[label])
        game = s.start_game()
        user = s.start_auto_user(['ok'], name='user-patch')
        result = s.run_installer(timeout=120)
        user.stop()
        self.assertEqual(result.exit_code, 0)
        self.assertScreen(result, sc.good_install_writes(game, sc.to_windows(s.game_exe)))
        self.assertTrue(s.assembly() == sc.payload(label), 'not patched')
        s.end_started()
        return original

    def restore(self, s, label, original):
        game = s.start_game()
        previous = len(s.instances())
        user = s.start_auto_user(['ok'], name='user-restore')
        result = s.run_installer(timeout=120)
        self.assertEqual(result.exit_code, 0)
        self.assertScreen(result, sc.BANNER + sc.discovery_writes(game['hwnd'], game['pid'], sc.to_windows(s.game_exe))
                          + restore_writes(game['pid'], sc.GAME_EXE))
        boxes = self.boxes(user, 1)
        self.assertEqual(len(boxes), 1, boxes)
        self.assertBox(boxes[0], sc.CONFIRM_TITLE, restore_text(label), 'question', ['ok', 'cancel'])
        self.assertAnswered(boxes[0])

        # The player's original, byte for byte, and beside it only the kept
        # copy and its record.
        self.assertTrue(s.assembly() == original, 'the original is not back')
        managed = os.path.dirname(s.assembly_path)
        self.assertEqual(sorted(os.listdir(managed)),
                         sorted([sc.ASSEMBLY[-1], sc.kept_original_name(label), sc.KEPT_RECORD]))
        self.assertTrue(sc.read_bytes(os.path.join(managed, sc.kept_original_name(label))) == original)
        # The game was ended and runs once again; no file manager.
        self.assertFalse(sc.alive(game['pid']), 'the game was not ended')
        started = sc.wait_until(lambda: s.instances()[previous:], 10, 'the game started again')
        self.assertEqual(len(started), 1, started)
        live = {p['pid'] for p in sc.processes()}
        self.assertEqual([i['pid'] for i in s.instances() if i['pid'] in live], [started[0]['pid']])
        self.assertFalse([p for p in s.new_processes() if p['exe'].lower() == 'explorer.exe'])

    def patch_then_restore(self, label):
        with sc.Scenario('restore-' + label, game_folder=GAME_FOLDER) as s:
            s.make_game()
            original = self.patch(s, label)
            self.restore(s, label, original)

    # Two cases, not one with two rounds: they run at once, and the longest
    # case no longer sets how long a suite takes.
    @placement.runs('vm32')
    def test_patch_then_restore_where_the_patched_size_is_no_version(self):
        self.patch_then_restore('0.25b')

    @placement.runs('vm32')
    def test_patch_then_restore_where_the_patched_size_is_its_own_version(self):
        self.patch_then_restore('0.25c')


if __name__ == '__main__':
    unittest.main()
