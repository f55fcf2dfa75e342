"""help() of every public class, method and function: what it takes, returns and raises, the
same words in the type stubs, and no word about how it is built inside."""

import ast
import inspect
import os
import re

import pytest

import quor
from quor import PyArray, PyExpr, PyTrace

STUB = os.path.join(os.path.dirname(quor.__file__), "_core.pyi")
CLASSES = {"PyTrace": PyTrace, "PyExpr": PyExpr, "PyArray": PyArray}
FUNCTIONS = {"open": quor.open, "detect_format": quor.detect_format, "find_many": quor.find_many}
# Words that name the inside of the implementation, not what a user sees.
INTERNAL = ["rayon", "signal_value_by_id", "ColumnStore", "worker pool", "libstdc++", "std::", "PodBuffer",
            "quor_core", "GIL", "O(1)"]
# The first lines of these methods are texts the API has always had; callers match on them.
KEPT_FIRST_LINES = [
    "Find matching indices using rayon parallel iteration across all CPU cores.",
    "Count matching indices using rayon parallel iteration.",
    "Uses signal_value_by_id for O(1) access per signal.",
]


def public_methods():
    for cls_name, cls in CLASSES.items():
        for name, member in vars(cls).items():
            if name.startswith("_") or isinstance(member, property) or inspect.isgetsetdescriptor(member):
                continue
            yield f"{cls_name}.{name}", getattr(cls, name)


METHODS = dict(public_methods())
CALLABLES = {**METHODS, **{f"quor.{n}": f for n, f in FUNCTIONS.items()}}


def parameters(func):
    try:
        return [p for p in inspect.signature(func).parameters if p not in ("self", "$self")]
    except (TypeError, ValueError):
        pytest.fail(f"{func!r} has no signature")


def stub_docstrings():
    """{'PyTrace': ..., 'PyTrace.find': ..., '_runs': ...} from the stub."""
    tree = ast.parse(open(STUB).read())
    found = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            found[node.name] = ast.get_docstring(node)
            for item in node.body:
                if isinstance(item, ast.FunctionDef):
                    found[f"{node.name}.{item.name}"] = ast.get_docstring(item)
        elif isinstance(node, ast.FunctionDef):
            found[node.name] = ast.get_docstring(node)
    return found


def test_every_public_name_is_checked():
    # A class that grows a method, or a module that grows a function, is covered here at once.
    assert len(METHODS) > 60
    assert {"find", "find_array", "signal_runs", "expr", "to_arrow"} <= {n.split(".")[1] for n in METHODS}
    public = {n for n in quor.__all__ if callable(getattr(quor, n)) and not isinstance(getattr(quor, n), type)}
    assert public == set(FUNCTIONS)


@pytest.mark.parametrize("name", sorted(CALLABLES))
def test_help_says_what_it_takes_returns_and_raises(name):
    func = CALLABLES[name]
    doc = inspect.getdoc(func) or ""
    summary = doc.split("\n\n")[0]
    assert len(summary.split()) >= 3, f"{name}: no summary beyond the signature"
    params = parameters(func)
    for param in params:
        assert re.search(rf"\b{re.escape(param)}\b", doc), f"{name}: argument {param!r} is not described"
    if params:
        assert "Args:" in doc, f"{name}: no Args section"
        assert "Raises:" in doc, f"{name}: arguments of the wrong type raise, and help() should say so"
    assert "Returns:" in doc, f"{name}: no Returns section"


@pytest.mark.parametrize("name", sorted(CALLABLES) + sorted(CLASSES))
def test_help_names_nothing_internal(name):
    target = CALLABLES.get(name) or CLASSES[name]
    doc = inspect.getdoc(target) or ""
    for line in KEPT_FIRST_LINES:
        doc = doc.replace(line, "")
    for word in INTERNAL:
        assert word not in doc, f"{name}: help() names {word!r}"


@pytest.mark.parametrize("name", sorted(CLASSES))
def test_classes_have_an_overview_with_an_example(name):
    doc = inspect.getdoc(CLASSES[name])
    assert len(doc.split("\n")) > 5 and "Example:" in doc


def test_text_signatures_stay_at_the_head():
    # Python shows a method's parameters from the head of its doc string; the help text follows.
    for name, func in METHODS.items():
        assert func.__text_signature__ is not None, name
    assert PyTrace.find.__text_signature__.startswith("($self, expr")
    assert PyExpr.and_.__text_signature__ == "($self, other)"
    assert PyTrace.from_vcd.__text_signature__ == "(path)"


def test_stub_carries_the_same_words():
    stub = stub_docstrings()
    runtime = {name: inspect.getdoc(obj) for name, obj in {**METHODS, **CLASSES}.items()}
    runtime.update({f"PyArray.{p}": inspect.getdoc(getattr(PyArray, p)) for p in ("typecode", "itemsize")})
    core = quor._core
    runtime.update({n: inspect.getdoc(getattr(core, n)) for n in ("_runs", "_change_rows")})
    for name, doc in runtime.items():
        assert name in stub, f"{name} is missing from the stub"
        assert stub[name] is not None, f"{name} has no docstring in the stub"
        assert inspect.cleandoc(stub[name]) == inspect.cleandoc(doc), f"{name}: stub and help() differ"
