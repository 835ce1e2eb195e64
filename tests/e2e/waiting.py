"""Waiting for what other processes do: one helper that polls and, when the
time is up, fails loudly, naming what it waited for."""

import time

import settings

# How much longer than on the host a wait may take: the machine for the
# 32-bit runs emulates its processor in software and sets this.
SLOWER = settings.get('TG_WAIT_SCALE')


def scaled(seconds):
    """A time limit of the host, as long as it is where the tests run."""
    return seconds * SLOWER


class WaitTimeout(AssertionError):
    """What a test waited for did not happen (a failure, not an error)."""


def wait_until(predicate, timeout, what, interval=0.1, stop=None, detail=None):
    """Calls predicate until it returns something true and returns that.
    Raises WaitTimeout naming `what` when `timeout` seconds pass first, or
    as soon as `stop` (optional) returns a reason to give up, such as a
    program that ended; `detail` (optional) adds what was seen instead."""
    timeout = scaled(timeout)
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        why = stop() if stop else None
        if why:
            value = predicate()     # what came just before the end
            if value:
                return value
            break
        if time.monotonic() >= end:
            why = 'nothing after %g s' % timeout
            break
        time.sleep(interval)
    message = 'waited for %s: %s' % (what, why)
    if detail:
        message += '\n' + str(detail())
    raise WaitTimeout(message)
