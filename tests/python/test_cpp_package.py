"""The installed C++ package: `cmake --install` puts the library, its headers and korvo-sim in a
prefix, and the consumer project of examples/cpp/consumer, configured against that prefix with
find_package(korvovyr CONFIG), builds and talks to a korvo-sim started from the same prefix."""

import os
import subprocess

import korvovyr
from support import korvo_sim_process

ROOT = os.path.join(os.path.dirname(__file__), "..", "..")
BUILD = os.path.join(os.path.dirname(korvovyr.__file__), "..")


def run(*args, **kwargs):
    done = subprocess.run(args, capture_output=True, text=True, timeout=600, **kwargs)
    assert done.returncode == 0, " ".join(args) + "\n" + done.stdout + done.stderr
    return done.stdout


def test_consumer_project_builds_against_the_installed_package(tmp_path):
    prefix, consumer = tmp_path / "prefix", tmp_path / "consumer"
    run("cmake", "--install", BUILD, "--prefix", str(prefix))
    assert (prefix / "lib" / "cmake" / "korvovyr" / "korvovyrConfig.cmake").exists()
    run("cmake", "-S", os.path.join(ROOT, "examples", "cpp", "consumer"), "-B", str(consumer),
        "-G", "Ninja", f"-DCMAKE_PREFIX_PATH={prefix}")
    run("cmake", "--build", str(consumer))

    serial = "Olvar-LL-000042"
    with korvo_sim_process(["--model", "Olvar-LL", "--serial", serial], str(tmp_path),
                           executable=str(prefix / "bin" / "korvo-sim")) as connector:
        out = run(str(consumer / "robot_info"), serial,
                  env=dict(os.environ, ZENOH_CONFIG=connector))
    lines = out.splitlines()
    assert lines[0].startswith(f"Olvar-LL {serial}, software "), out
    assert [line.split(" q [rad]:")[0] for line in lines[1:]] == ["ARM_1", "ARM_2"], out
    assert all(len(line.split(":")[1].split()) == 7 for line in lines[1:]), out
