import pytest

from tavrik import BackEnd, Polarization

MEMBERS = [
    (BackEnd.Scattering, "BackEnd.Scattering", 0),
    (BackEnd.Transfer, "BackEnd.Transfer", 1),
    (Polarization.TE, "Polarization.TE", 0),
    (Polarization.TM, "Polarization.TM", 1),
]


@pytest.mark.parametrize("member, text, value", MEMBERS)
def test_repr_str_int(member, text, value):
    assert repr(member) == text
    assert str(member) == text
    assert int(member) == value
    assert type(int(member)) is int


@pytest.mark.parametrize("member, text, value", MEMBERS)
def test_equality_with_ints_bools_and_members(member, text, value):
    assert member == value
    assert value == member
    assert member != 1 - value
    assert member == bool(value)
    assert (member == value + 2**70) is False  # beyond the word: no integer value, not equal
    cls = type(member)
    same = [m for m in vars(cls).values() if isinstance(m, cls) and int(m) == value][0]
    other = [m for m in vars(cls).values() if isinstance(m, cls) and int(m) != value][0]
    assert member == same and not (member != same)
    assert member != other and not (member == other)


def test_members_are_singletons():
    assert BackEnd.Transfer is BackEnd.Transfer
    assert Polarization.TM is Polarization.TM
    assert isinstance(Polarization.TE, Polarization)


def test_equality_with_other_objects_is_false():
    assert (BackEnd.Transfer == "Transfer") is False
    assert (Polarization.TE == 0.0) is False  # a float has no integer value
    assert (Polarization.TE == BackEnd.Scattering) is False  # another enumeration
    assert Polarization.TE != None  # noqa: E711

    class Index:
        def __index__(self):
            return 1

    assert Polarization.TM == Index()


@pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
def test_ordering_is_refused(op):
    for a, b in [(BackEnd.Scattering, BackEnd.Transfer), (Polarization.TE, 1)]:
        with pytest.raises(TypeError, match="not supported"):
            eval(f"a {op} b")


def test_members_hash_like_their_values_and_are_not_indices():
    for member in (BackEnd.Scattering, BackEnd.Transfer, Polarization.TE, Polarization.TM):
        assert hash(member) == hash(int(member))
    # Equal keys, equal hashes: a member and its int find the same entry.
    table = {Polarization.TE: "te", BackEnd.Transfer: "transfer"}
    assert table[0] == "te" and table[True] == "transfer" and table[Polarization.TE] == "te"
    with pytest.raises(TypeError):
        [10, 20][Polarization.TM]
