"""How a 1 kHz control loop runs so that the robot never sees it late. Copy it beside your
program.

    prepare_realtime(80)            # first, before connecting
    robot = kv.Robot(serial)
    pin_to_cpu(1)                   # optional: the loop's thread on a core of its own
    period = Period(0.001)
    while running:
        ...
        robot.StreamJointTorque(cmds)
        period.wait()

The loop's thread is only half of it: each command leaves through zenoh's transmit thread in
this process, and a thread of the ordinary scheduler can wait several milliseconds for a core on
a busy machine. A thread inherits its scheduling policy from the thread that starts it, so
prepare_realtime() is called before the first Robot opens the session: zenoh's threads then run
under SCHED_FIFO too.
"""

import ctypes
import ctypes.util
import os
import sys
import time

_MCL_CURRENT, _MCL_FUTURE = 1, 2


def prepare_realtime(priority: int = 80) -> bool:
    """Locks the process's memory and puts the calling thread, and every thread it starts from
    now on, under SCHED_FIFO at `priority` (1 to 99). Each step the system refuses is reported on
    stderr and skipped: the loop still runs, without that guarantee. Both need root or the
    capabilities CAP_SYS_NICE and CAP_IPC_LOCK (or the limits rtprio and memlock in
    /etc/security/limits.conf). Returns whether both succeeded."""
    done = True
    libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
    if libc.mlockall(_MCL_CURRENT | _MCL_FUTURE) != 0:
        reason = os.strerror(ctypes.get_errno())
        print(f"warning: memory not locked ({reason}): page faults may delay the loop",
              file=sys.stderr)
        done = False
    try:
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(priority))
    except OSError as error:
        print(
            f"warning: no real-time priority ({error.strerror}; needs root or CAP_SYS_NICE): "
            "other programs may delay the loop and its commands by milliseconds",
            file=sys.stderr,
        )
        done = False
    return done


def pin_to_cpu(cpu: int) -> bool:
    """Pins the calling thread to `cpu`. Called after connecting, so that zenoh's threads keep
    every core. Reports a refusal on stderr; returns whether it succeeded."""
    try:
        os.sched_setaffinity(0, {cpu})
    except OSError as error:
        print(f"warning: not pinned to CPU {cpu} ({error.strerror})", file=sys.stderr)
        return False
    return True


class Period:
    """A period kept on absolute deadlines of the monotonic clock: the time the loop's body takes
    does not add up. After an overrun of more than `max_behind` periods, the next deadline starts
    again from now instead of firing the missed periods back to back (a burst of commands that
    the robot would see as a jump)."""

    def __init__(self, seconds: float, max_behind: int = 3) -> None:
        self._period = seconds
        self._max_behind = max_behind
        self._next = time.monotonic()
        self.overruns = 0

    def wait(self) -> None:
        """Sleeps until the next deadline."""
        self._next += self._period
        now = time.monotonic()
        if now - self._next > self._max_behind * self._period:
            self.overruns += 1
            self._next = now + self._period
        delay = self._next - now
        if delay > 0:
            time.sleep(delay)
