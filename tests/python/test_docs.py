"""help() shows, for every class, method and attribute, the text of the stub."""

import ast
import inspect
import pathlib
import sysconfig

import pytest

import tavrik


def stub_path():
    installed = pathlib.Path(sysconfig.get_paths()["platlib"]) / "tavrik.pyi"
    source = pathlib.Path(__file__).resolve().parents[2] / "src" / "python" / "tavrik.pyi"
    return source if source.exists() else installed


def stub_docstrings():
    """(qualified name, docstring) of every class and every documented,
    non-special member of a class in the stub."""
    tree = ast.parse(stub_path().read_text())
    for node in tree.body:
        if not isinstance(node, ast.ClassDef):
            continue
        yield node.name, ast.get_docstring(node)
        for item in node.body:
            if isinstance(item, ast.FunctionDef) and not item.name.startswith("__") and ast.get_docstring(item):
                yield f"{node.name}.{item.name}", ast.get_docstring(item)


DOCUMENTED = dict(stub_docstrings())


def runtime_doc(qualified):
    obj = tavrik
    for part in qualified.split("."):
        obj = inspect.getattr_static(obj, part) if obj is not tavrik else getattr(obj, part)
    doc = obj.__doc__ or ""
    # A native text signature ends with a line of two dashes and an empty line.
    head, sep, rest = doc.partition("\n--\n\n")
    return inspect.cleandoc(rest if sep else doc)


MEMBER_DOCS_ON_PYPY = "PyPy's C API keeps no docstring for the methods and attributes of a native class"


@pytest.mark.parametrize("qualified", [
    pytest.param(q, marks=pytest.mark.cpython_only(reason=MEMBER_DOCS_ON_PYPY)) if "." in q else q
    for q in sorted(DOCUMENTED)
])
def test_runtime_docstring_is_the_stubs(qualified):
    assert runtime_doc(qualified) == DOCUMENTED[qualified]


def test_every_public_class_member_is_documented_in_the_stub():
    for name in tavrik.__all__:
        cls = getattr(tavrik, name)
        for member, value in vars(cls).items():
            if member.startswith("_") or type(value) is cls:  # enumeration members: the class documents them
                continue
            assert f"{name}.{member}" in DOCUMENTED, f"{name}.{member} has no docstring in the stub"


@pytest.mark.cpython_only(reason=MEMBER_DOCS_ON_PYPY)
def test_help_shows_units_and_failures():
    text = pydoc_text(tavrik.MultiLayer)
    for phrase in ("vacuum wavenumber", "ValueError", "MemoryError", "PanicException", "plot_step"):
        assert phrase in text


def pydoc_text(obj):
    import pydoc

    return pydoc.render_doc(obj, renderer=pydoc.plaintext)
