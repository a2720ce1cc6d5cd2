"""The type stubs generated at build time: they are valid under mypy --strict, the Python
examples and the guide's programs type-check against them, and a call the module would refuse is
refused by the type checker too (so the stubs are really in use, not silently Any)."""

import os
import subprocess
import sys

import korvovyr

from test_docs import PAGES, ROOT, program, python_blocks

STUB_DIR = os.path.dirname(korvovyr.__file__)


def mypy(*args, cwd=ROOT):
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--no-incremental", "--strict", *args],
        cwd=cwd, env=dict(os.environ, MYPYPATH=STUB_DIR), capture_output=True, text=True,
        timeout=300,
    )
    return done.returncode, done.stdout + done.stderr


def test_stubs_are_valid():
    code, out = mypy(os.path.join(STUB_DIR, "korvovyr.pyi"))
    assert code == 0, out
    # korvosim's read-backs are plain dicts and lists: their item types are left open.
    code, out = mypy("--disable-error-code", "type-arg", os.path.join(STUB_DIR, "korvosim.pyi"))
    assert code == 0, out


def test_examples_and_guide_type_check(tmp_path):
    programs = []
    for page in PAGES:
        with open(os.path.join(ROOT, page)) as f:
            blocks = python_blocks(f.read())
        if blocks:
            path = tmp_path / (os.path.basename(page)[:-3].replace("-", "_") + ".py")
            path.write_text(program(blocks))
            programs.append(str(path))
    code, out = mypy(os.path.join(ROOT, "examples", "python"), *programs)
    assert code == 0, out


def test_a_wrong_call_fails_the_check(tmp_path):
    wrong = tmp_path / "wrong.py"
    wrong.write_text(
        "import korvovyr as kv\n"
        "robot = kv.Robot(42)\n"
        "robot.SwitchMode('IDLE')\n"
        "q: str = robot.states()[kv.JointGroup.ARM_1].q\n"
    )
    code, out = mypy(str(wrong))
    assert code == 1
    assert 'Argument 1 to "Robot" has incompatible type "int"' in out
    assert 'Argument 1 to "SwitchMode" of "Robot" has incompatible type "str"' in out
    assert 'Incompatible types in assignment (expression has type "list[float]"' in out
