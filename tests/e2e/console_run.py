"""Windows console programs under Wine on a pseudo-terminal: the terminal
is read all the while, and what it shows is read back as a TerminalScreen."""

import os
import select
import signal
import struct
import subprocess
import threading
import time

try:
    import fcntl
    import termios
except ImportError:         # Windows itself: only the console driver's way
    fcntl = termios = None

import console_driver
from console_driver import Result
from terminal import parse_terminal
from waiting import scaled
from wineenv import wine_command, wine_env


class ConsoleRun(console_driver.ScreenReading):
    """A program running under wine64 on a pseudo-terminal; the terminal
    is read continuously by a thread. Use wait() for the Result."""

    def __init__(self, exe, args=(), env=None, lang='zh_CN.UTF-8'):
        wine = wine_command()
        if not wine:
            raise FileNotFoundError('wine64 not found')
        self._chunks = []
        self._lock = threading.Lock()
        self._last_data = time.monotonic()
        master, slave = os.openpty()
        # 50 rows of 250 columns, as parse_terminal reads them and the expected screens wrap
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack('HHHH', 50, 250, 0, 0))
        attrs = termios.tcgetattr(slave)
        attrs[1] &= ~termios.ONLCR            # keep conhost's "\r\n" as sent
        termios.tcsetattr(slave, termios.TCSANOW, attrs)
        self._master = master

        def child_setup():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)
            signal.signal(signal.SIGHUP, signal.SIG_IGN)

        self.start_time = time.monotonic()
        try:
            self.proc = subprocess.Popen(
                wine + [str(exe)] + [str(a) for a in args], stdin=slave, stdout=slave, stderr=slave,
                env=wine_env(env, lang), preexec_fn=child_setup, close_fds=True)
        finally:
            os.close(slave)
        self.pid = self.proc.pid
        self._reader = threading.Thread(target=self._read_loop, daemon=True)
        self._stop = False
        self._reader.start()

    def _read_loop(self):
        while not self._stop:
            try:
                r, _, _ = select.select([self._master], [], [], 0.05)
            except (OSError, ValueError):
                return
            if not r:
                continue
            try:
                data = os.read(self._master, 65536)
            except OSError:
                return
            if not data:
                return
            with self._lock:
                self._chunks.append(data)
                self._last_data = time.monotonic()

    def output(self):
        """Bytes received so far."""
        with self._lock:
            return b''.join(self._chunks)

    def screen(self):
        """What the terminal shows so far."""
        return parse_terminal(self.output())

    def ended(self):
        code = self.proc.poll()
        return None if code is None else 'the program ended (exit code %s)' % code

    def kill(self):
        """End the wine process by its PID."""
        if self.proc.poll() is None:
            try:
                os.kill(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass

    def wait(self, timeout=60):
        timed_out = False
        try:
            code = self.proc.wait(timeout=scaled(timeout))
        except subprocess.TimeoutExpired:
            timed_out = True
            self.kill()
            self.proc.wait()
            code = None
        # Output written before the exit is already queued: read until the
        # terminal is quiet (a bounded drain; what it read is the result).
        end = time.monotonic() + 5
        while time.monotonic() < end:
            with self._lock:
                quiet = time.monotonic() - self._last_data
            if quiet >= 0.2 or not self._reader.is_alive():
                break
            time.sleep(0.02)
        self._stop = True
        self._reader.join(1)
        try:
            os.close(self._master)
        except OSError:
            pass
        screen = parse_terminal(self.output())
        return Result(code, screen.segments(), timed_out, time.monotonic() - self.start_time, screen)


def start_in_console(exe, args=(), env=None, lang='zh_CN.UTF-8'):
    """Starts exe under wine64 on a pty; the ConsoleRun, or a DriverRun over
    the console driver where console_driver.in_use()."""
    run = console_driver.DriverRun if console_driver.in_use() else ConsoleRun
    return run(exe, args, env, lang)


def run_in_console(exe, args=(), env=None, timeout=60):
    """Runs exe until it exits; its Result (exit_code None and timed_out
    True when it was ended at the time-out)."""
    return start_in_console(exe, args, env).wait(timeout)
