"""The installer on a desktop as a player has it under Wine: the file
manager open on the game's folder (a window of the same title, above the
game's), a program named like the file manager beside the installer, and a
player who starts the installer twice."""

import os
import shutil
import time
import unittest

import placement
import scenario as sc
import console_driver
import wineenv


class DesktopTest(sc.E2ETest):
    def setUp(self):
        super().setUp()
        sc.clear_output_folder()

    def open_file_manager(self, s, folder):
        """Wine's file manager on folder; its window, once shown."""
        before = {p['pid'] for p in sc.processes()}
        s.start_wine('explorer.exe', [sc.to_windows(folder)])
        title = os.path.basename(folder)
        w = sc.wait_until(lambda: [w for w in sc.top_windows() if w['title'] == title
                                   and w['visible'] and w['pid'] not in before],
                          30, 'a file manager window titled %s' % title, interval=0.2)[0]
        self.addCleanup(sc.end_windows_processes, [w['pid']], True)
        return w

    def test_a_font_for_chinese_text(self):
        # Without one the boxes and the window show empty squares where a
        # player's Windows shows 宋体 (tools/setup.sh installs one).
        faces = sorted({f['face'] for f in sc.winprobe('chinese-fonts')})
        self.assertTrue(faces, 'the desktop has no font for Simplified Chinese')

    def test_file_manager_on_the_game_folder_is_not_the_game(self):
        with sc.Scenario('file-manager') as s:
            s.make_game(assembly=sc.VERSION_SIZES['0.25b'])
            game = s.start_game()
            manager = self.open_file_manager(s, s.game_dir)
            self.assertEqual(manager['title'], 'Thistlegarden')
            # Above the game's window in the z-order, as top_windows lists them.
            order = [w['hwnd'] for w in sc.top_windows()]
            self.assertLess(order.index(manager['hwnd']), order.index(game['hwnd']))

            user = s.start_auto_user(['ok'])
            run = s.start_installer()
            self.assertTrue(run.wait_for_output(sc.CLOSING_TEXT, timeout=90),
                            run.screen_text())
            screen = run.segments()
            expected = sc.expected_screen(sc.good_install_writes(game, sc.to_windows(s.game_exe)))
            self.assertEqual(screen, expected, console_driver.diff_segments(screen, expected))
            boxes = self.boxes(user, 1)
            self.assertEqual([b['title'] for b in boxes], [sc.CONFIRM_TITLE])
            self.assertEqual(s.assembly(), sc.payload('0.25b'))
            self.assertTrue(sc.alive(manager['pid']), 'the file manager was ended')
            self.assertFalse(sc.alive(game['pid']))
            self.assertEqual(run.wait(timeout=60).exit_code, 0)

    def test_a_planted_file_manager_beside_the_installer_never_runs(self):
        with sc.Scenario('planted') as s:
            s.make_game(assembly=sc.VERSION_SIZES['0.25e'])
            game = s.start_game()
            downloads = os.path.join(s.root, 'Downloads')
            os.makedirs(downloads)
            installer = os.path.join(downloads, 'ThistlegardenPatch.exe')
            shutil.copyfile(wineenv.installer_path(), installer)
            planted = s.make_program(downloads, 'explorer.exe', {'no-window': '1'})

            user = s.start_auto_user(['ok'])
            result = s.run_installer(timeout=120, installer=installer)
            self.assertEqual(result.exit_code, 0)
            self.assertIn(sc.CLOSING_TEXT, result.text)
            installer_pid = self.boxes(user, 1)[0]['pid']

            started = [i['exe'] for i in s.instances()[1:]]
            self.assertNotIn(sc.to_windows(planted), started)
            self.assertEqual(started, [sc.to_windows(s.game_exe)])
            # The file manager that did open is the system's (Wine runs the
            # one in C:\windows as its builtin in system32).
            new = s.new_processes()
            managers = [p for p in new if p['exe'].lower() == 'explorer.exe' and p['ppid'] == installer_pid]
            self.assertTrue(managers, 'no file manager of process %d among the new processes %r;'
                            ' the session:\n%s' % (installer_pid, new, wineenv.session_processes()))
            for p in managers:
                self.assertIn(p['path'].lower(), ('c:\\windows\\explorer.exe',
                                                  'c:\\windows\\system32\\explorer.exe'))
            self.assertFalse(sc.alive(game['pid']))

    @placement.runs('windows')
    def test_a_second_start_a_moment_later_only_says_so(self):
        for gap in (0.25, 1.0):
            with self.subTest(gap=gap), sc.Scenario('twice-%d' % int(gap * 100)) as s:
                sc.clear_output_folder()
                s.make_game(assembly=sc.VERSION_SIZES['0.25c'])
                game = s.start_game()
                user = s.start_auto_user(['ok', 'ok'])
                s.remember_processes()
                runs = []
                for n in range(2):
                    if n:
                        time.sleep(gap)
                    runs.append(console_driver.start_in_console(wineenv.installer_path(),
                                                          env=sc.EXTRA_ENV))
                    s.adopt(runs[-1])
                results = [run.wait(timeout=120) for run in runs]
                self.assertEqual([r.exit_code for r in results], [0, 0])
                # Whichever took the mutex first ran; the other printed nothing.
                full = sc.expected_screen(sc.good_install_writes(game, sc.to_windows(s.game_exe)))
                empty = sc.expected_screen([])
                self.assertEqual(sorted([r.segments == full for r in results]), [False, True],
                                 [console_driver.diff_segments(r.segments, full) for r in results])
                self.assertIn(empty, [r.segments for r in results])
                boxes = self.boxes(user, 2)
                self.assertEqual(sorted((b['title'], b['text']) for b in boxes), sorted([
                    (sc.CONFIRM_TITLE, sc.confirm_text('0.25c')),
                    ('友情提醒', '补丁程序已经在运行，请在先打开的窗口中继续。')]))
                # One patch, one restarted game, no failure report.
                self.assertEqual(s.assembly(), sc.payload('0.25c'))
                self.assertEqual(len(s.instances()), 2, s.instances())
                self.assertFalse(sc.alive(game['pid']))


if __name__ == '__main__':
    unittest.main()
