"""Helpers shared by the test modules."""

import time

import pytest

# The simulator answers on its own threads: conditions are polled until they hold. The deadline
# only bounds a broken run.
DEADLINE_S = 30.0


def retry_until(attempt, what):
    """Calls `attempt` until it returns something other than None or False, and returns that;
    fails the test when the deadline passes first."""
    end = time.monotonic() + DEADLINE_S
    while True:
        result = attempt()
        if result is not None and result is not False:
            return result
        if time.monotonic() > end:
            pytest.fail(f"gave up waiting for {what}")
        time.sleep(0.02)
