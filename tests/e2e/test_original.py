"""The player's original assembly under Wine: an original an earlier build
set aside is never put over the assembly, an original that cannot be kept
is not replaced, and a program holding the assembly for a moment is waited
out."""

import os
import unittest

import placement
import scenario as sc
import wineenv

ASIDE_SUFFIX = '.aside1'


class OriginalTest(sc.InstallRunTest):
    def make_aside(self, s):
        """A 0.25e game with an older original, of the first version's size, set aside
        beside its assembly; (original, aside) bytes."""
        original = s.write_assembly(sc.VERSION_SIZES['0.25e'])
        aside = sc.sized_assembly(sc.VERSION_SIZES[sc.VERSIONS[0]], seed=1)
        with open(s.assembly_path + ASIDE_SUFFIX, 'wb') as f:
            f.write(aside)
        return original, aside

    def aside(self, s):
        return sc.read_bytes(s.assembly_path + ASIDE_SUFFIX)

    def test_an_old_aside_is_left_alone_when_the_player_declines(self):
        with sc.Scenario('aside-declined') as s:
            s.make_game()
            original, aside = self.make_aside(s)
            game = s.start_game()
            user = s.start_auto_user(['cancel', 'cancel'])
            result = s.run_installer(timeout=120)
            self.assertEqual(result.exit_code, 0)
            self.assertScreen(result, sc.BANNER + sc.discovery_writes(
                game['hwnd'], game['pid'], sc.to_windows(s.game_exe)))
            boxes = self.boxes(user, 2)
            self.assertEqual(len(boxes), 2, boxes)
            self.assertBox(boxes[0], sc.CONFIRM_TITLE, sc.confirm_text('0.25e'), 'question',
                           ['ok', 'cancel'])
            self.assertBox(boxes[1], sc.MANUAL_TITLE, sc.MANUAL_TEXT, 'warning', ['ok', 'cancel'])
            self.assertTrue(s.assembly() == original, 'the assembly changed')
            self.assertTrue(self.aside(s) == aside, 'the aside changed')
            self.assertEqual(sc.list_folder(sc.output_folder()), {})
            self.assertTrue(sc.alive(game['pid']))

    @placement.runs('windows')
    def test_an_old_aside_is_left_alone_when_the_player_confirms(self):
        with sc.Scenario('aside-confirmed') as s:
            s.make_game()
            original, aside = self.make_aside(s)
            game = s.start_game()
            user = s.start_auto_user(['ok'])
            result = s.run_installer(timeout=120)
            self.assertEqual(result.exit_code, 0)
            self.assertScreen(result, sc.good_install_writes(game, sc.to_windows(s.game_exe)))
            boxes = self.boxes(user, 1)
            self.assertBox(boxes[0], sc.CONFIRM_TITLE, sc.confirm_text('0.25e'), 'question',
                           ['ok', 'cancel'])
            self.assertTrue(s.assembly() == sc.payload('0.25e'), 'not the 0.25e payload')
            self.assertTrue(self.aside(s) == aside, 'the aside changed')
            kept = os.path.join(os.path.dirname(s.assembly_path), sc.kept_original_name('0.25e'))
            self.assertTrue(sc.read_bytes(kept) == original, 'the original is not kept')

    def test_an_original_that_cannot_be_kept_is_not_replaced(self):
        with sc.Scenario('cannot-keep') as s:
            s.make_game()
            original = s.write_assembly(sc.VERSION_SIZES['0.25c'])
            folder = os.path.dirname(s.assembly_path)
            others = {}
            for n in range(1, 10):
                name = sc.kept_original_name('0.25c' if n == 1 else '0.25c-%d' % n)
                others[name] = sc.sized_assembly(sc.VERSION_SIZES['0.25c'], seed=n + 1)
                with open(os.path.join(folder, name), 'wb') as f:
                    f.write(others[name])
            game = s.start_game()
            self.assertFailedRun(s, game, sc.to_windows(s.game_dir) + '\\', '0.25c',
                                 patched=False, copied=False)
            self.assertTrue(s.assembly() == original, 'the assembly changed')
            for name, data in others.items():
                self.assertTrue(sc.read_bytes(os.path.join(folder, name)) == data, name)
            self.assertFalse(os.path.exists(os.path.join(folder, sc.kept_original_name('0.25c-10'))))
            self.assertFalse(os.path.exists(s.assembly_path + sc.NEW_FILE_SUFFIX))
            # The game runs on, and no second copy is started beside it.
            self.assertTrue(sc.alive(game['pid']))
            self.assertEqual(len(s.instances()), 1, s.instances())

    @placement.runs('windows')
    def test_a_moments_lock_is_waited_out(self):
        with sc.Scenario('moment-lock') as s:
            s.make_game()
            original = s.write_assembly(sc.VERSION_SIZES['0.25b'])
            game = s.start_game()
            # Once the installer starts keeping the original (the player has
            # confirmed), another program holds the assembly with no sharing
            # for 3.5 s: the keep, the swap and the read back meet the lock.
            managed = os.path.dirname(s.assembly_path)
            draft = os.path.join(managed, '原版Assembly-CSharp.dll' + sc.NEW_FILE_SUFFIX)
            marker = os.path.join(s.root, 'holder.jsonl')
            s.start_and_wait(wineenv.helper_path('standin_game'),
                              ['--no-window', '--marker', sc.to_windows(marker),
                               '--hold', sc.to_windows(s.assembly_path),
                               '--hold-after', sc.to_windows(draft), '--hold-ms', '3500'], marker)
            user = s.start_auto_user(['ok'])
            result = s.run_installer(timeout=120)
            self.assertEqual(result.exit_code, 0)
            self.assertScreen(result, sc.good_install_writes(game, sc.to_windows(s.game_exe)))
            self.assertEqual(len(self.boxes(user, 1)), 1)
            held = sc.read_json_lines(marker)
            self.assertEqual(len(held), 2, held)
            self.assertTrue(held[1]['held'], held)
            self.assertTrue(s.assembly() == sc.payload('0.25b'), 'not patched')
            kept = os.path.join(managed, sc.kept_original_name('0.25b'))
            self.assertTrue(sc.read_bytes(kept) == original, 'the original is not kept')
            # The run waited for the lock: its 17 s of delays and most of the 3.5 s.
            self.assertGreaterEqual(result.duration, 17.0 + 2.5)


if __name__ == '__main__':
    unittest.main()
