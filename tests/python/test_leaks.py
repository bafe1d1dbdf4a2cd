"""Build and drop objects and raise every error path many times: nothing accumulates."""

import resource

from tavrik import BackEnd, Layer, MultiLayer, Polarization


def swallow(call, *errors):
    try:
        call()
    except errors or (BaseException,):
        pass


def test_layer_round(assert_no_growth):
    def body():
        layer = Layer(1.5, 2e-7)
        str(layer), repr(layer)
        swallow(lambda: Layer(), TypeError)
        swallow(lambda: Layer(1, 2, 3), TypeError)
        swallow(lambda: Layer(1, n=2), TypeError)
        swallow(lambda: Layer(1, 2, x=3), TypeError)
        swallow(lambda: Layer("a", 1), TypeError)
        swallow(lambda: Layer(10**400, 1), OverflowError)

    assert_no_growth(body)


def test_enumeration_round(assert_no_growth):
    def body():
        for member in (BackEnd.Scattering, BackEnd.Transfer, Polarization.TE, Polarization.TM):
            repr(member), int(member)
            member == 1, member != 0, member == "x", member == 2**80, member == member
            swallow(lambda: member < member, TypeError)
        swallow(lambda: BackEnd(), TypeError)

    assert_no_growth(body)


def test_multilayer_round(assert_no_growth):
    layers = [Layer(1.0, 0.0), Layer(1.5, 1.0), Layer(1.0, 0.0)]

    def body():
        stack = MultiLayer(layers)
        MultiLayer(tuple(layers))
        stack.plot_step = 0.01
        stack.plot_step
        swallow(lambda: MultiLayer(), TypeError)
        swallow(lambda: MultiLayer("abc"), TypeError)
        swallow(lambda: MultiLayer([1.0]), TypeError)
        swallow(lambda: MultiLayer(5), TypeError)
        swallow(lambda: setattr(stack, "plot_step", "x"), TypeError)
        swallow(lambda: delattr(stack, "plot_step"), AttributeError)

    assert_no_growth(body)


def test_process_memory_stays_flat():
    layers = [Layer(1.0, 0.0), Layer(1.5, 1.0), Layer(1.0, 0.0)] * 50

    def body():
        for _ in range(2000):
            MultiLayer(layers)
            swallow(lambda: Layer("a", 1), TypeError)

    body()
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    for _ in range(5):
        body()
    after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    assert after - before < 4096, f"peak RSS grew by {after - before} KiB"
