"""The built extension refuses to load into a CPython other than 3.12."""

import glob
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import korvovyr

# Loads the extension file by path and reports what the import raised, with the interpreter's
# own version string.
LOADER = """
import importlib.util, json, sys
result = {"version": sys.version, "error": None, "message": None}
try:
    found = importlib.util.spec_from_file_location("korvovyr", sys.argv[1])
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
except Exception as e:
    result["error"] = type(e).__name__
    result["message"] = str(e)
print(json.dumps(result))
"""


def _pyenv_root():
    if shutil.which("pyenv"):
        out = subprocess.run(
            ["pyenv", "root"], capture_output=True, text=True, check=False
        )
        if out.returncode == 0 and out.stdout.strip():
            return Path(out.stdout.strip())
    return Path(os.environ.get("PYENV_ROOT", Path.home() / ".pyenv"))


def _other_interpreters():
    found = []
    for minor in ("3.11", "3.13"):
        for prefix in sorted(glob.glob(str(_pyenv_root() / "versions" / f"{minor}.*"))):
            python = Path(prefix) / "bin" / f"python{minor}"
            if python.is_file():
                found.append(pytest.param(python, id=Path(prefix).name))
    return found


def _load_in(python):
    out = subprocess.run(
        [str(python), "-c", LOADER, korvovyr.__file__],
        capture_output=True,
        text=True,
        check=True,
    )
    return json.loads(out.stdout)


OTHERS = _other_interpreters()


@pytest.mark.skipif(not OTHERS, reason="no CPython 3.11 or 3.13 installed under pyenv")
@pytest.mark.parametrize("python", OTHERS or [None])
def test_other_interpreter_gets_version_mismatch(python):
    result = _load_in(python)
    assert result["error"] == "ImportError"
    assert result["message"] == (
        "Python version mismatch: module was compiled for Python 3.12, but the interpreter "
        f"version is incompatible: {result['version']}."
    )


def test_built_interpreter_loads_the_same_file():
    result = _load_in(sys.executable)
    assert result["error"] is None
    assert result["version"].startswith("3.12")
