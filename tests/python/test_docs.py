"""The user guide (docs/) and the README run as written: every `python` block of a page, in page
order, is one program that runs against a korvo-sim process of its own, started as the page's
first line `<!-- korvo-sim: ARGS -->` says; and MkDocs builds the guide with --strict, so that a
broken link or reference fails."""

import os
import re
import subprocess
import sys

import pytest

from support import korvo_sim_process

ROOT = os.path.join(os.path.dirname(__file__), "..", "..")
DOCS = os.path.join(ROOT, "docs")
PAGES = sorted(
    [os.path.join("docs", name) for name in os.listdir(DOCS) if name.endswith(".md")]
    + ["README.md"]
)

SIM_LINE = re.compile(r"<!-- korvo-sim: (.*?) -->")
FENCE = re.compile(r"^```(\S*)\s*$")


def python_blocks(text):
    """The page's `python` blocks (fenced at the start of a line), each with the number of its
    first line."""
    blocks, language, body, start = [], None, [], 0
    for number, line in enumerate(text.splitlines(), 1):
        if language is None:
            fence = FENCE.match(line)
            if fence:
                language, body, start = fence.group(1), [], number + 1
        elif line.rstrip() == "```":
            if language == "python":
                blocks.append((start, "\n".join(body)))
            language = None
        else:
            body.append(line)
    return blocks


def program(blocks):
    """One program of the blocks, each line where it stands on the page so that a traceback
    names the page's line."""
    lines = []
    for start, code in blocks:
        lines += [""] * (start - 1 - len(lines))
        lines += code.splitlines()
    return "\n".join(lines) + "\n"


@pytest.mark.parametrize("page", PAGES)
def test_page_runs_as_written(page, tmp_path):
    with open(os.path.join(ROOT, page)) as f:
        text = f.read()
    blocks = python_blocks(text)
    if not blocks:
        pytest.skip(f"{page} holds no Python")
    sim_args = SIM_LINE.search(text)
    assert sim_args, f"{page} runs Python but names no korvo-sim (<!-- korvo-sim: ARGS -->)"
    script = tmp_path / (os.path.basename(page) + ".py")
    script.write_text(program(blocks))

    # The program's working folder is its own: whatever files it writes there, the simulator's
    # configurations stay out of its way.
    work = tmp_path / "work"
    work.mkdir()
    with korvo_sim_process(sim_args.group(1).split(), str(tmp_path)) as connector:
        env = dict(os.environ, ZENOH_CONFIG=connector)
        done = subprocess.run([sys.executable, str(script)], cwd=work, env=env,
                              capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, (
        f"{page} failed:\n{done.stdout}\n{done.stderr}".replace(str(script), page))


def test_guide_builds_strict(tmp_path):
    done = subprocess.run(
        [sys.executable, "-m", "mkdocs", "build", "--strict", "-f",
         os.path.join(ROOT, "mkdocs.yml"), "-d", str(tmp_path / "site")],
        capture_output=True, text=True, timeout=300,
    )
    assert done.returncode == 0, done.stdout + done.stderr
    assert (tmp_path / "site" / "index.html").exists()
