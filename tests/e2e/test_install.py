"""Whole installer runs under Wine against the stand-in game: a good install
of each version, and runs in which a recorded step really fails."""

import os
import time
import unittest

import placement
import scenario as sc
import settings
import console_driver
import wineenv

GAME_FOLDER = '我的 游戏/Thistlegarden'


class InstallTest(sc.InstallRunTest):
    def assertRestarted(self, s, installer_pid, previous):
        """A new instance of the game, started by the installer by its full
        path, without arguments, in the game's own folder."""
        sc.wait_until(lambda: len(s.instances()) > previous, 10, 'the game to start again')
        started = s.instances()[previous:]
        self.assertEqual(len(started), 1, started)
        game = started[0]
        self.assertEqual(game['ppid'], installer_pid)
        self.assertEqual(game['exe'], sc.to_windows(s.game_exe))
        self.assertEqual(game['cmdline'].replace('"', ''), game['exe'], 'arguments were given')
        self.assertEqual(game['cwd'], sc.to_windows(s.game_dir))
        self.assertTrue(game['window'])

    def assertFileManager(self, s, installer_pid):
        """A file manager window, started by the installer, on the
        comparison images' folder."""
        images = os.path.join(sc.output_folder(), sc.COMPARISON_FOLDER)
        self.assertTrue(s.file_manager_window(installer_pid, sc.to_windows(images)))

    def assertKept(self, s, label, original):
        """The original of `label` kept beside the assembly, and nothing left
        there but the assembly, kept originals (of earlier runs too) and
        their record."""
        managed = os.path.dirname(s.assembly_path)
        kept = {sc.kept_original_name(v) for v in sc.VERSION_SIZES} | {sc.KEPT_RECORD}
        names = set(os.listdir(managed))
        self.assertIn(sc.kept_original_name(label), names)
        self.assertEqual(names - kept, {sc.ASSEMBLY[-1]})
        self.assertTrue(sc.read_bytes(os.path.join(managed, sc.kept_original_name(label))) == original,
                        'the kept original differs')

    def assertComparisonFolder(self, backup=None):
        """The comparison images (and the backup's content, None: no backup)."""
        folder = sc.output_folder()
        images = os.path.join(folder, sc.COMPARISON_FOLDER)
        expected = {
            os.path.join(sc.COMPARISON_FOLDER, sc.MARKER_FILE): 0,
            os.path.join(sc.COMPARISON_FOLDER, sc.BEFORE_IMAGE): len(sc.before_image()),
            os.path.join(sc.COMPARISON_FOLDER, sc.AFTER_IMAGE): len(sc.after_image()),
        }
        if backup is not None:
            expected['Assembly-CSharp.dll'] = len(backup)
        self.assertEqual(sc.list_folder(folder), expected)
        self.assertEqual(sc.read_bytes(os.path.join(images, sc.BEFORE_IMAGE)), sc.before_image())
        self.assertEqual(sc.read_bytes(os.path.join(images, sc.AFTER_IMAGE)), sc.after_image())
        if backup is not None:
            self.assertEqual(sc.read_bytes(os.path.join(folder, 'Assembly-CSharp.dll')), backup)

    def assertPatched(self, s, label):
        data = s.assembly()
        self.assertIsNotNone(data, 'the assembly is missing')
        self.assertEqual(len(data), len(sc.payload(label)))
        self.assertTrue(data == sc.payload(label), 'the assembly differs from the payload')

    # ------------------------------------------------------------ good runs

    def install_while_running(self, s, label):
        """Runs one good install of label up to the closing line and checks
        everything it did; returns the ConsoleRun, still in its last delay."""
        original = s.write_assembly(sc.VERSION_SIZES[label])
        game = s.start_game()
        previous = len(s.instances())
        user = s.start_auto_user(['ok'], name='user-' + label)
        run = s.start_installer()
        closed = run.wait_for_output(sc.CLOSING_TEXT, timeout=90)
        time.sleep(0.3)
        screen = run.segments()
        self.assertTrue(closed, run.screen_text())

        boxes = self.boxes(user, 1)
        self.assertEqual(len(boxes), 1, boxes)
        self.assertBox(boxes[0], sc.CONFIRM_TITLE, sc.confirm_text(label), 'question',
                       ['ok', 'cancel'])
        self.assertAnswered(boxes[0])
        installer_pid = boxes[0]['pid']
        # Its work is done: left running, it would inspect every later
        # install's windows as well.
        user.stop()

        name = os.path.basename(s.game_exe)
        expected = sc.expected_screen(
            sc.BANNER + sc.discovery_writes(game['hwnd'], game['pid'], sc.to_windows(s.game_exe))
            + sc.step_writes(game['pid'], name, True, True))
        self.assertEqual(screen, expected, console_driver.diff_segments(screen, expected))

        self.assertPatched(s, label)
        self.assertComparisonFolder(backup=sc.payload(label))
        self.assertKept(s, label, original)
        self.assertFalse(sc.alive(game['pid']), 'the game was not ended')
        self.assertRestarted(s, installer_pid, previous)
        self.assertFileManager(s, installer_pid)
        return run

    @placement.runs('vm32', 'windows')
    def test_good_install_of_every_version(self):
        # After its closing line a run only waits ten seconds: the next run
        # starts meanwhile, so the runs, one a version, take little more than their delays.
        with sc.Scenario('install', game_folder=GAME_FOLDER) as s:
            s.make_game()
            waiting = []
            try:
                # TG_E2E_VERSIONS: the labels to install, all by default.
                labels = (settings.get('TG_E2E_VERSIONS') or '').split() or list(sc.VERSION_SIZES)
                for label in labels:
                    with self.subTest(label):
                        sc.clear_output_folder()
                        try:
                            run = self.install_while_running(s, label)
                        finally:
                            s.end_started()
                        waiting.append((label, run))
            finally:
                for label, run in waiting:
                    result = run.wait(timeout=60)
                    with self.subTest(label, end='exit'):
                        self.assertEqual(result.exit_code, 0)
                        self.assertGreaterEqual(result.duration, 17.0)

    def test_good_install_of_a_32_bit_game(self):
        if not wineenv.helper32_path('standin_game'):
            self.skipTest('this build has no 32-bit stand-in game')
        with sc.Scenario('install32', game_folder=GAME_FOLDER, game_bits=32) as s:
            s.make_game()
            with open(s.game_exe, 'rb') as f:
                image = f.read(4096)
            pe = int.from_bytes(image[0x3C:0x40], 'little')
            self.assertEqual(int.from_bytes(image[pe + 4:pe + 6], 'little'), 0x14C, 'not an i386 game')
            try:
                run = self.install_while_running(s, '0.25e')
            finally:
                s.end_started()
            result = run.wait(timeout=60)
            self.assertEqual(result.exit_code, 0)

    # ------------------------------------------------------------ failed steps

    @placement.runs('windows')
    def test_locked_assembly_fails_both_steps(self):
        with sc.Scenario('locked') as s:
            s.make_game()
            original = s.write_assembly(sc.VERSION_SIZES['0.25a'])
            game = s.start_game()
            s.hold_file(s.assembly_path)
            boxes = self.assertFailedRun(s, game, sc.to_windows(s.game_dir) + '\\', '0.25a',
                                         patched=False, copied=False)
            for box in boxes:
                self.assertAnswered(box)

            self.assertEqual(s.assembly(), original)
            # The game runs on, and no second copy is started beside it.
            self.assertTrue(sc.alive(game['pid']))
            self.assertComparisonFolder(backup=None)
            self.assertFileManager(s, boxes[0]['pid'])
            self.assertEqual(len(s.instances()), 1, s.instances())

    @placement.runs('spared_at_64')
    def test_locked_backup_fails_the_copy_step(self):
        with sc.Scenario('backup-locked') as s:
            s.make_game()
            original = s.write_assembly(sc.VERSION_SIZES['0.25e'])
            game = s.start_game()
            backup = os.path.join(sc.output_folder(), 'Assembly-CSharp.dll')
            os.makedirs(os.path.dirname(backup))
            with open(backup, 'wb') as f:
                f.write(b'held backup')
            s.hold_file(backup)
            boxes = self.assertFailedRun(s, game, sc.to_windows(s.game_dir) + '\\', '0.25e',
                                         patched=True, copied=False)

            self.assertPatched(s, '0.25e')
            self.assertFalse(sc.alive(game['pid']))
            self.assertRestarted(s, boxes[0]['pid'], 1)
            self.assertComparisonFolder(backup=b'held backup')
            self.assertKept(s, '0.25e', original)


if __name__ == '__main__':
    unittest.main()
