"""The installer under Wine finding (or not finding) the stand-in game:
the discovery lines on the console, the boxes that follow, and the ends
of the run that come before anything is patched."""

import os
import shutil
import unittest

import placement
import scenario as sc
import wineenv


class NoGameTest(sc.E2ETest):
    def setUp(self):
        super().setUp()
        running = [p for p in sc.processes() if p['exe'].lower() == sc.GAME_EXE.lower()]
        self.assertEqual(running, [], 'a game process is left from an earlier test')
        sc.clear_output_folder()

    @placement.runs('windows')
    def test_not_found_report_describes_the_installer(self):
        with sc.Scenario('no-game') as s:
            # The installer in a folder with a blank and Chinese characters.
            folder = os.path.join(s.root, '补丁 工具')
            os.makedirs(folder)
            installer = os.path.join(folder, 'ThistlegardenPatch.exe')
            shutil.copyfile(wineenv.installer_path(), installer)
            win_folder = sc.to_windows(folder) + '\\'

            user = s.start_auto_user(['ok'])
            result = s.run_installer(timeout=60, installer=installer)

            self.assertEqual(result.exit_code, 0)
            self.assertScreen(result, sc.BANNER + sc.discovery_writes(
                0, 0, win_folder + 'ThistlegardenPatch.exe'))
            boxes = self.boxes(user, 1)
            self.assertEqual(len(boxes), 1, boxes)
            self.assertBox(boxes[0], sc.ERROR_TITLE,
                           sc.not_found_text(0, 0, win_folder, 'ThistlegardenPatch.exe'),
                           'error', ['ok'])
            self.assertAnswered(boxes[0])
            # OK ends the run at once, and nothing was written.
            self.assertLess(result.duration - boxes[0]['t'] / 1000.0, 10)
            self.assertFalse(os.path.exists(sc.output_folder()))
            # The installer started nothing (Wine may start its desktop meanwhile).
            installer_pid = boxes[0]['pid']
            self.assertEqual([p for p in s.new_processes() if p['ppid'] == installer_pid], [])


class GameFoundTest(sc.E2ETest):
    def setUp(self):
        super().setUp()
        sc.clear_output_folder()

    def run_declined(self, s, expected_confirm=None):
        """Runs the installer answering Cancel to every box; the Result and
        the boxes. The run must end at the manual-selection question."""
        user = s.start_auto_user(['cancel', 'cancel'], name='user-%d' % len(s.instances()))
        result = s.run_installer(timeout=60)
        self.assertEqual(result.exit_code, 0)
        boxes = self.boxes(user, 2 if expected_confirm else 1)
        user.stop()
        if expected_confirm:
            self.assertEqual(len(boxes), 2, boxes)
            self.assertBox(boxes[0], sc.CONFIRM_TITLE, sc.confirm_text(expected_confirm),
                           'question', ['ok', 'cancel'])
            self.assertAnswered(boxes[0])
        else:
            self.assertEqual(len(boxes), 1, boxes)
        self.assertBox(boxes[-1], sc.MANUAL_TITLE, sc.MANUAL_TEXT, 'warning', ['ok', 'cancel'])
        self.assertAnswered(boxes[-1])
        return result

    def assertUntouched(self, s, game, assembly):
        self.assertEqual(s.assembly(), assembly)
        self.assertTrue(sc.alive(game['pid']), 'the game was ended')
        self.assertEqual(len(s.instances()), 1, 'the game was started again')
        # Nothing but the run's record, in UTF-8 with a byte-order mark.
        self.assertEqual(sc.list_folder(sc.output_folder()), {})
        record = sc.read_bytes(os.path.join(sc.output_folder(), sc.RUN_LOG))
        self.assertTrue(record.startswith(b'\xef\xbb\xbf'), record[:16])
        self.assertIn('游戏进程ID：%d' % game['pid'], record[3:].decode('utf-8'))
        self.assertEqual(s.new_processes(), [])

    def test_found_by_window_and_version_declined(self):
        with sc.Scenario('by-window') as s:
            s.make_game()
            game = s.start_game()
            self.assertNotEqual(game['hwnd'], 0)
            lines = sc.BANNER + sc.discovery_writes(game['hwnd'], game['pid'],
                                                    sc.to_windows(s.game_exe))
            cases = [
                ('no assembly', None, None),
                ('size code 307', 3229614, None),
                ('confirmation cancelled', sc.VERSION_SIZES['0.25c'], '0.25c'),
            ]
            for name, size, label in cases:
                with self.subTest(name):
                    if os.path.exists(s.assembly_path):
                        os.remove(s.assembly_path)
                    data = s.write_assembly(size) if size else None
                    result = self.run_declined(s, label)
                    # Nothing is printed after the discovery lines.
                    self.assertScreen(result, lines)
                    self.assertUntouched(s, game, data)

    def test_found_by_process_name_only(self):
        for exe_name in (sc.GAME_EXE, sc.GAME_EXE.upper()):
            with self.subTest(exe_name), sc.Scenario('by-name', exe_name=exe_name) as s:
                s.make_game(assembly=100)
                game = s.start_game(window=False)
                result = self.run_declined(s)
                self.assertScreen(result, sc.BANNER + sc.discovery_writes(
                    0, game['pid'], sc.to_windows(s.game_exe)))
                self.assertUntouched(s, game, sc.sized_assembly(100))

    def test_another_programs_window_is_passed_over(self):
        with sc.Scenario('window-wins') as s:
            s.make_game(assembly=sc.VERSION_SIZES[sc.VERSIONS[0]])
            game = s.start_game(window=False)
            # Another program's window titled "Thistlegarden": not the game's.
            s.start_program(s.make_program(os.path.join(s.root, '其他 程序'), '其他程序.exe'))
            result = self.run_declined(s, sc.VERSIONS[0])
            self.assertScreen(result, sc.BANNER + sc.discovery_writes(
                0, game['pid'], sc.to_windows(s.game_exe)))


if __name__ == '__main__':
    unittest.main()
