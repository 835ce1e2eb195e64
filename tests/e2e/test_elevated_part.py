"""The elevated part started by a program that is not the installer's
waiting run: whatever its command line names (a folder of its choosing, as
older builds took, or the real game's process), it changes nothing there
and nothing in the game that runs."""

import os
import unittest

import placement
import scenario as sc
import wineenv

REFUSED = 0x20000001


def listing(folder):
    out = {}
    for base, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(base, name)
            out[os.path.relpath(path, folder)] = sc.read_bytes(path)
    return out


class ElevatedPartTest(sc.E2ETest):
    @placement.runs('vm32')
    def test_another_program_cannot_aim_it(self):
        with sc.Scenario('elevated-part') as s:
            s.make_game()
            s.write_assembly(sc.VERSION_SIZES['0.25c'])
            game = s.start_game()
            victim = os.path.join(s.root, 'Victim')
            managed = os.path.join(victim, *sc.ASSEMBLY[:-1])
            os.makedirs(managed)
            with open(os.path.join(managed, sc.ASSEMBLY[-1]), 'wb') as f:
                f.write(sc.sized_assembly(sc.VERSION_SIZES['0.25c'], seed=7))
            with open(os.path.join(managed, sc.ASSEMBLY[-1] + sc.NEW_FILE_SUFFIX), 'wb') as f:
                f.write(b'not ours')
            victim_before = listing(victim)
            game_before = listing(s.game_dir)
            size = str(sc.VERSION_SIZES['0.25c'])
            pid = str(game['pid'])
            attempts = [
                ['--elevated-part', '1-2', '0.25c', size, sc.to_windows(victim) + '\\'],
                ['--elevated-part', '1-2', '0.25c', size, 'Victim\\'],
                ['--elevated-part', pid, '1', pid, '1', '0.25c', size],
                ['--elevated-part', pid, '1', pid, '1', 'restore', '0.25c', size],
            ]
            for args in attempts:
                with self.subTest(args=args):
                    proc = s.start_wine(wineenv.installer_path(), args)
                    proc.wait(timeout=60)
                    # Wine passes the low byte of the exit code on.
                    self.assertEqual(proc.returncode, REFUSED & 0xFF)
                    self.assertEqual(listing(victim), victim_before)
                    self.assertEqual(listing(s.game_dir), game_before)
            self.assertTrue(sc.alive(game['pid']), 'the game is not running')


if __name__ == '__main__':
    unittest.main()
