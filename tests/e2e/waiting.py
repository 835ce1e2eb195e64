"""Waiting for what other processes do: one helper that polls and, when the
time is up, fails loudly, naming what it waited for."""

import time

import settings


def scaled(seconds):
    """A time limit of the host, as long as it is where the tests run: TG_WAIT_SCALE times (the
    machine for the 32-bit runs emulates its processor in software)."""
    return seconds * settings.get('TG_WAIT_SCALE')


class WaitTimeout(AssertionError):
    """What a test waited for did not happen (a failure, not an error)."""


def wait_until(predicate, timeout, what, interval=0.1, stop=None, detail=None):
    """Calls predicate until it returns something true and returns that. Raises WaitTimeout naming
    `what` when `timeout` seconds pass first, or as soon as `stop` returns a reason to give up (a
    program that ended); `detail` adds what was seen instead."""
    timeout = scaled(timeout)
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        why = stop() if stop else None
        if why or time.monotonic() >= end:
            break
        time.sleep(interval)
    value = why and predicate()     # after a stop, what came just before it
    if value:
        return value
    message = 'waited for %s: %s' % (what, why or 'nothing after %g s' % timeout)
    if detail:
        message += '\n' + str(detail())
    raise WaitTimeout(message)
