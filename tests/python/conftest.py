import gc
import platform
import sys

import pytest

IS_PYPY = platform.python_implementation() == "PyPy"


def pytest_configure(config):
    config.addinivalue_line("markers", "cpython_only(reason): behaviour of the CPython host that PyPy does not share")
    config.addinivalue_line("markers", "slow: long-running checks")


def pytest_collection_modifyitems(config, items):
    if not IS_PYPY:
        return
    for item in items:
        marker = item.get_closest_marker("cpython_only")
        if marker is not None:
            item.add_marker(pytest.mark.skip(reason="PyPy host: " + marker.kwargs.get("reason", "")))


def live_objects():
    gc.collect()
    gc.collect()
    return len(gc.get_objects())


@pytest.fixture
def assert_no_growth():
    """Run a callable many times and check the interpreter's object count stays flat."""

    def check(body, rounds=200, warmup=20, slack=50):
        for _ in range(warmup):
            body()
        before = live_objects()
        total_before = getattr(sys, "gettotalrefcount", lambda: 0)()
        for _ in range(rounds):
            body()
        after = live_objects()
        total_after = getattr(sys, "gettotalrefcount", lambda: 0)()
        assert after - before <= slack, f"object count grew by {after - before} over {rounds} rounds"
        if total_before:
            assert total_after - total_before <= slack, f"total refcount grew by {total_after - total_before}"

    return check
