"""scripts/setup.sh and scripts/demo.sh, run against stand-ins for dpkg, python3 and pip that log
their arguments: what each step installs, and that the demo says what it is doing."""

import os
import shutil
import stat
import subprocess

import pytest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
TEST_TOOLS = ("pytest", "hypothesis", "numpy", "mypy")

# python3 -m venv DIR makes DIR/bin/python, which logs each call instead of running it.
FAKE_PYTHON3 = """#!/bin/sh
echo "python3 $*" >>"$LOG"
if [ "$1 $2" = "-m venv" ]; then
  mkdir -p "$3/bin"
  printf '#!/bin/sh\\necho "venv-python $*" >>"$LOG"\\n' >"$3/bin/python"
  chmod +x "$3/bin/python"
fi
"""


def executable(path, text):
    path.write_text(text)
    path.chmod(path.stat().st_mode | stat.S_IXUSR)


@pytest.fixture
def sandbox(tmp_path):
    if shutil.which("bash") is None:
        pytest.skip("needs bash")
    (tmp_path / "scripts").mkdir()
    for name in ("setup.sh", "demo.sh"):
        shutil.copy(os.path.join(ROOT, "scripts", name), tmp_path / "scripts" / name)
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    executable(bin_dir / "dpkg", "#!/bin/sh\nexit 0\n")  # every Debian package present
    executable(bin_dir / "python3", FAKE_PYTHON3)
    return tmp_path


def run(sandbox, *command):
    log = sandbox / "log"
    log.write_text("")
    env = dict(os.environ, PATH=f"{sandbox / 'bin'}:{os.environ['PATH']}", LOG=str(log))
    out = subprocess.run(["bash", *command], cwd=sandbox, env=env, capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    return out.stdout, log.read_text().splitlines()


def installed(calls):
    return [c for c in calls if " pip install " in f" {c} "]


@pytest.mark.parametrize(
    "command, with_test_tools",
    [
        (["scripts/demo.sh"], False),
        (["scripts/setup.sh"], False),
        (["scripts/setup.sh", "--test"], True),
    ],
)
def test_test_tools_come_only_with_the_tests(sandbox, command, with_test_tools):
    _, calls = run(sandbox, *command)
    pip = " ".join(installed(calls))
    assert "scikit-build-core" in pip and "--no-build-isolation ." in pip
    for tool in TEST_TOOLS:
        assert (f" {tool}" in pip) == with_test_tools, tool


def test_the_demo_says_what_it_does_before_each_step(sandbox):
    out, calls = run(sandbox, "scripts/demo.sh")
    lines = out.splitlines()
    build = next(i for i, line in enumerate(lines) if "building quor" in line)
    assert "few minutes" in lines[build]
    assert any("virtual environment" in line for line in lines[:build])
    assert any("build tools" in line for line in lines[:build])
    assert lines[-1].startswith("demo: running examples/demo.py")
    assert calls[-1] == "venv-python examples/demo.py"
