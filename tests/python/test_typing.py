"""The type stubs: mypy --strict accepts a script that uses every method of the API."""

import os
import subprocess
import sys

import pytest

SAMPLE = os.path.join(os.path.dirname(__file__), "typing", "uses_every_method.py")


def test_mypy_strict_accepts_the_sample():
    pytest.importorskip("mypy")
    import quor

    package_root = os.path.dirname(os.path.dirname(quor.__file__))
    env = dict(os.environ)
    if "site-packages" not in package_root:  # a developer build: point mypy at the sources
        env["MYPYPATH"] = package_root
    out = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", SAMPLE],
                         capture_output=True, text=True, env=env)
    assert out.returncode == 0, out.stdout + out.stderr


def test_stubs_list_every_method():
    import quor

    stub = os.path.join(os.path.dirname(quor.__file__), "_core.pyi")
    text = open(stub).read()
    for cls in (quor.PyTrace, quor.PyExpr):
        for name in dir(cls):
            if not name.startswith("_"):
                assert f"def {name}(" in text, f"{cls.__name__}.{name} is missing from the stubs"
