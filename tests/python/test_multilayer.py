import collections

import pytest

from tavrik import Layer, MultiLayer


def slab():
    return [Layer(1.5, 1.0), Layer(3.5, 0.5), Layer(1.5, 1.0)]


class Stack(collections.abc.Sequence):
    """A user-defined sequence of layers."""

    def __init__(self, layers):
        self._layers = list(layers)

    def __len__(self):
        return len(self._layers)

    def __getitem__(self, i):
        return self._layers[i]


@pytest.mark.parametrize("container", [list, tuple, Stack, collections.deque])
def test_accepts_any_sequence_of_layers(container):
    stack = MultiLayer(container(slab()))
    assert stack.plot_step == 0.001
    assert MultiLayer(layers=container(slab())).plot_step == 0.001


def test_empty_and_single_layer_stacks_are_accepted():
    MultiLayer([])
    MultiLayer([Layer(1.0, 1.0)])
    MultiLayer(b"")  # bytes are a sequence, and an empty one holds no layer


def test_sequence_with_a_failing_len_is_still_read():
    class NoLen(Stack):
        def __len__(self):
            raise RuntimeError("length unknown")

    MultiLayer(NoLen(slab()))


def test_errors_while_iterating_propagate():
    class Failing(Stack):
        def __iter__(self):
            yield Layer(1.0, 1.0)
            raise ValueError("broken stack")

    with pytest.raises(ValueError, match="^broken stack$"):
        MultiLayer(Failing(slab()))

    class BadIter(Stack):
        def __iter__(self):
            return 5

    with pytest.raises(TypeError, match="^argument 'layers': iter\\(\\) returned non-iterator"):
        MultiLayer(BadIter(slab()))


def test_layer_values_are_copied():
    layers = slab()
    stack = MultiLayer(layers)
    layers.clear()
    del layers
    assert stack.plot_step == 0.001


def test_plot_step_reads_writes_and_is_not_deletable():
    stack = MultiLayer(slab())
    assert stack.plot_step == 0.001
    stack.plot_step = 2
    assert stack.plot_step == 2.0 and type(stack.plot_step) is float
    stack.plot_step = -0.5
    assert stack.plot_step == -0.5
    stack.plot_step = float("inf")
    assert stack.plot_step == float("inf")
    with pytest.raises(AttributeError) as info:
        del stack.plot_step
    assert str(info.value) == "can't delete attribute"
    with pytest.raises(TypeError) as info:
        stack.plot_step = "abc"
    assert str(info.value) == "argument 'plot_step': must be real number, not str"
    assert stack.plot_step == float("inf")


def test_store_during_a_shared_access_is_refused():
    stack = MultiLayer(slab())
    seen = []

    class Sneaky:
        def __float__(self):
            try:
                stack.plot_step = 0.5
            except RuntimeError as error:
                seen.append(str(error))
            return 1.0

    try:
        stack.neff(Sneaky())
    except Exception:
        pass
    assert seen == ["Already borrowed"]
    assert stack.plot_step == 0.001
    stack.plot_step = 0.5  # the access was released
    assert stack.plot_step == 0.5


def test_multilayer_has_no_comparison_or_repr_of_its_own():
    a = MultiLayer(slab())
    assert a == a and a != MultiLayer(slab())
    assert repr(a).startswith("<")
    assert hash(a) == hash(a)
