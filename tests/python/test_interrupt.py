"""Ctrl-C stops a long search: the search polls the interpreter's pending
signals every few thousand evaluations, so a KeyboardInterrupt arrives within
a second even though the call holds the interpreter lock, and the stack stays
usable afterwards.

The signal comes from the kernel (an interval timer, or a separate process
sending SIGINT): a Python thread could not run while the search holds the lock.
"""

import math
import os
import signal
import subprocess
import sys
import time

import pytest

from tavrik import Layer, MultiLayer, Polarization

pytestmark = pytest.mark.skipif(sys.platform == "win32", reason="POSIX signals")

# n from 1.0 to 3.5 at omega = 1e6: the first pass alone has 2.5e8 samples.
LONG_OMEGA = 1e6
DELAY = 0.3
WITHIN = 1.0


# PyPy runs signal handlers only between bytecodes: inside a C call its
# PyErr_CheckSignals (and PyOS_InterruptOccurred) report nothing, so the
# interrupt arrives only when the search returns.
PYPY_NO_SIGNALS = pytest.mark.cpython_only(reason="PyPy's C API reports no pending signal during a call")


def stack():
    return MultiLayer([Layer(1.0, 0.0), Layer(3.5, 0.5), Layer(1.5, 1.0), Layer(1.0, 0.0)])


@pytest.fixture
def alarm():
    """Arms SIGALRM after `delay` seconds with a handler that raises KeyboardInterrupt."""

    def raise_interrupt(signum, frame):
        raise KeyboardInterrupt("alarm")

    previous = signal.signal(signal.SIGALRM, raise_interrupt)

    def arm(delay=DELAY):
        signal.setitimer(signal.ITIMER_REAL, delay)

    yield arm
    signal.setitimer(signal.ITIMER_REAL, 0)
    signal.signal(signal.SIGALRM, previous)


def reference_values(multilayer):
    omega = 2 * math.pi
    return (
        multilayer.neff(omega),
        multilayer.neff(omega, Polarization.TM, 1),
        multilayer.field(omega).Ey,
    )


@PYPY_NO_SIGNALS
@pytest.mark.parametrize("method", ["neff", "field", "modes"])
@pytest.mark.parametrize("polarization", [Polarization.TE, Polarization.TM])
def test_alarm_interrupts_a_long_search(alarm, method, polarization):
    multilayer = stack()
    before = reference_values(multilayer)
    call = getattr(multilayer, method)
    alarm()
    start = time.monotonic()
    with pytest.raises(KeyboardInterrupt, match="alarm"):
        call(LONG_OMEGA, polarization)
    elapsed = time.monotonic() - start
    assert elapsed < DELAY + WITHIN, f"interrupt took {elapsed - DELAY:.2f} s to arrive"
    # Nothing of the abandoned call is left behind.
    assert reference_values(multilayer) == before
    multilayer.plot_step = 0.01
    assert multilayer.plot_step == 0.01


@PYPY_NO_SIGNALS
def test_ctrl_c_from_another_process_raises_keyboard_interrupt():
    """The default SIGINT handler, as a terminal's Ctrl-C reaches it."""
    assert signal.getsignal(signal.SIGINT) is signal.default_int_handler
    multilayer = stack()
    before = reference_values(multilayer)
    sender = subprocess.Popen(["sh", "-c", f"sleep {DELAY}; kill -INT {os.getpid()}"])
    start = time.monotonic()
    try:
        with pytest.raises(KeyboardInterrupt):
            multilayer.neff(LONG_OMEGA)
        elapsed = time.monotonic() - start
    finally:
        sender.wait()
    assert elapsed < DELAY + WITHIN, f"interrupt took {elapsed - DELAY:.2f} s to arrive"
    assert reference_values(multilayer) == before


def test_signal_whose_handler_returns_lets_the_search_finish(alarm):
    """A handled signal that raises nothing does not cancel anything."""
    seen = []
    signal.signal(signal.SIGALRM, lambda signum, frame: seen.append(signum))
    multilayer = stack()
    expected = multilayer.neff(200.0)
    signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
    try:
        values = [multilayer.neff(200.0) for _ in range(20)]
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
    assert seen, "the timer never fired during the searches"
    assert values == [expected] * 20
