"""`pip install .` into a fresh CPython 3.12 virtual environment: the wheel it builds holds the
module, korvosim, their type stubs and korvo-sim; in that environment a program imports the
module, connects to the installed korvo-sim and runs an example, and mypy finds the stubs in
site-packages. Run by `make test-wheel` (it builds the whole library once more)."""

import os
import signal
import subprocess
import sys

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
# The wheel's CMake build folder and the main build's cargo output, so that a rerun is
# incremental and zenoh's crates are not compiled twice.
WHEEL_BUILD = os.path.join(ROOT, "build", "wheel")
CARGO_DIR = os.path.join(ROOT, "build", "cargo")
PYTHON312 = os.environ.get("PYTHON312", sys.executable)


def run(*args, **kwargs):
    done = subprocess.run(args, capture_output=True, text=True, timeout=3600, **kwargs)
    assert done.returncode == 0, " ".join(map(str, args)) + "\n" + done.stdout + done.stderr
    return done.stdout


@pytest.fixture(scope="module")
def venv(tmp_path_factory):
    folder = tmp_path_factory.mktemp("wheel") / "venv"
    run(PYTHON312, "-m", "venv", str(folder))
    python = folder / "bin" / "python"
    run(str(python), "-m", "pip", "install", "-q", ROOT, "-C", f"build-dir={WHEEL_BUILD}",
        "-C", f"cmake.define.KORVO_CARGO_TARGET_DIR={CARGO_DIR}")
    return folder


def site_packages(venv):
    return run(str(venv / "bin" / "python"), "-c",
               "import sysconfig; print(sysconfig.get_paths()['purelib'])").strip()


def test_the_wheel_holds_modules_stubs_and_the_simulator(venv):
    files = set(os.listdir(site_packages(venv)))
    assert any(f.startswith("korvovyr.cpython-312") and f.endswith(".so") for f in files), files
    assert any(f.startswith("korvosim.cpython-312") and f.endswith(".so") for f in files), files
    for stubs in ("korvovyr-stubs", "korvosim-stubs"):
        assert sorted(os.listdir(os.path.join(site_packages(venv), stubs))) == [
            "__init__.pyi", "py.typed"]
    assert os.access(venv / "bin" / "korvo-sim", os.X_OK)
    # The installed module is the one imported: not the build folder's.
    out = run(str(venv / "bin" / "python"), "-c",
              "import korvovyr, korvosim; print(korvovyr.__file__); print(korvosim.__file__)")
    assert all(line.startswith(site_packages(venv)) for line in out.split()), out


def test_an_example_runs_against_the_installed_simulator(venv, tmp_path):
    python = str(venv / "bin" / "python")
    port = run(python, "-c", "import korvosim; print(korvosim.free_port())").strip()
    listener, connector = tmp_path / "sim.json5", tmp_path / "client.json5"
    run(python, "-c", "import korvosim, sys; "
        "korvosim.write_config(korvosim.listener_config(int(sys.argv[1])), sys.argv[2]); "
        "korvosim.write_config(korvosim.connector_config(int(sys.argv[1])), sys.argv[3])",
        port, str(listener), str(connector))
    serial = "Olvar-L-000007"
    sim = subprocess.Popen(
        [str(venv / "bin" / "korvo-sim"), "--model", "Olvar-L", "--serial", serial,
         "--config", str(listener)], stdout=subprocess.PIPE, text=True)
    try:
        assert sim.stdout.readline().startswith(f"korvo-sim: hosting {serial}")
        out = run(python, os.path.join(ROOT, "examples", "python", "demo.py"), serial,
                  env=dict(os.environ, ZENOH_CONFIG=str(connector)), cwd=tmp_path)
    finally:
        sim.send_signal(signal.SIGINT)
        sim.wait(timeout=20)
    assert "Korvo Robotic Development Kit (VYR)" in out, out
    assert "Control mode: NRT_JOINT_POSITION" in out, out


def test_mypy_finds_the_installed_stubs(venv, tmp_path):
    python = str(venv / "bin" / "python")
    with open(os.path.join(ROOT, "requirements.txt")) as f:
        pins = [line.split()[0] for line in f
                if line.split("==")[0] in ("mypy", "ast_serialize", "librt", "mypy_extensions",
                                           "pathspec", "typing_extensions")]
    run(python, "-m", "pip", "install", "-q", *pins)
    wrong = tmp_path / "wrong.py"
    wrong.write_text("import korvovyr as kv\nimport korvosim\n"
                     "robot = kv.Robot(42)\nsim: korvosim.Simulator = korvosim.Simulator(7)\n")
    done = subprocess.run([python, "-m", "mypy", "--strict", str(wrong)], capture_output=True,
                          text=True, timeout=600, cwd=tmp_path)
    assert 'Argument 1 to "Robot" has incompatible type "int"' in done.stdout, done.stdout
    assert 'Argument 1 to "Simulator" has incompatible type "int"' in done.stdout, done.stdout
    run(python, "-m", "mypy", "--strict", os.path.join(ROOT, "examples", "python"), cwd=tmp_path)
