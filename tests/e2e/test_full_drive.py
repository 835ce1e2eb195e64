"""The game on a drive too full to keep its original beside it: nothing is
replaced, the original stays whole, nothing is left beside it, and the run
says 假."""

import os
import subprocess
import tempfile
import unittest

import scenario as sc
import wineenv
from waiting import WaitTimeout, wait_until

DRIVE = 'M'
LABEL = '0.25c'


def small_drive_mount_point(name):
    """Where a small file system for drive tests is mounted: under /tmp, so
    that a run inside a chroot whose /tmp is bound from the host sees it (a
    mount made after that bind must be bound into the chroot as well)."""
    return os.path.join(tempfile.gettempdir(), 'tg-e2e-drive-%s-%d' % (name, os.getpid()))


def restart_wineserver():
    """Ends the prefix's wineserver and every Wine process of it; the next
    Wine program starts a new one."""
    server, env = wineenv.wine_programs()[1], wineenv.wine_env()
    for flag in ('-k', '-w'):
        subprocess.run(server + [flag], env=env, capture_output=True, timeout=60)


class SmallDrive:
    """A tmpfs of `size_kib` KiB mounted at small_drive_mount_point(name)
    and mapped as Wine drive `letter` by a link in the prefix's dosdevices.
    Needs root. close() removes the link and unmounts, always."""

    def __init__(self, name, letter, size_kib):
        self.letter = letter.upper()
        self.mount_point = small_drive_mount_point(name)
        self.link = os.path.join(wineenv.wine_prefix(), 'dosdevices', letter.lower() + ':')
        self.mounted = False
        if os.geteuid() != 0:
            wineenv.missing('mounting a small drive needs root')
        os.makedirs(self.mount_point, exist_ok=True)
        try:
            subprocess.run(['mount', '-t', 'tmpfs', '-o', 'size=%dk,mode=0777' % size_kib,
                            'tg-e2e-drive', self.mount_point], check=True, capture_output=True)
            self.mounted = True
            if os.path.lexists(self.link):
                os.remove(self.link)
            os.symlink(self.mount_point, self.link)
            if wineenv.wine_root():
                # Each Wine 10 process sees the mounts of the moment it
                # started, and the wineserver opens files itself: a fresh one
                # is needed to see this drive.
                restart_wineserver()
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def path(self, *parts):
        return os.path.join(self.mount_point, *parts)

    def windows(self, unix_path):
        rest = os.path.relpath(unix_path, self.mount_point)
        return self.letter + ':\\' + ('' if rest == '.' else rest.replace('/', '\\'))

    def free_bytes(self):
        st = os.statvfs(self.mount_point)
        return st.f_bavail * st.f_frsize

    def close(self):
        if os.path.islink(self.link) and os.readlink(self.link) == self.mount_point:
            os.remove(self.link)
        if self.mounted and wineenv.wine_root():
            # The wineserver that saw the drive keeps its own view of it:
            # the next tests get one that never saw it.
            restart_wineserver()
        if self.mounted:
            try:        # a Wine process may still hold a file there
                wait_until(lambda: subprocess.run(['umount', self.mount_point], capture_output=True)
                           .returncode == 0, 5, 'the small drive to unmount', interval=0.25)
            except WaitTimeout:
                subprocess.run(['umount', '-l', self.mount_point], capture_output=True)
            self.mounted = False
        try:
            os.rmdir(self.mount_point)
        except OSError:
            pass


class FullDriveTest(sc.InstallRunTest):
    def test_a_full_drive_keeps_the_original(self):
        size = sc.VERSION_SIZES[LABEL]
        game_exe_bytes = os.path.getsize(wineenv.helper_path('standin_game'))
        # Room for the game and its assembly and half a megabyte more: neither
        # the kept original nor the patched assembly fits beside it.
        room_kib = (game_exe_bytes + size) // 1024 + 512
        with SmallDrive('full', DRIVE, room_kib) as drive, \
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
