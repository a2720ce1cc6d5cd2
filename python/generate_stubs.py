"""Writes the type stubs (.pyi) of built extension modules with pybind11-stubgen.

    python generate_stubs.py DIR MODULE [MODULE ...]

The modules are imported from DIR, and their stubs written there.

Any signature stubgen cannot turn into a valid annotation fails the run, so that a stub never
guesses; `polish` then makes each stub stand alone (see there). The constructors of the
interfaces registered before `Robot` (Device, FileIO, Gripper, Maintenance, Model) name their
argument by its C++ name, `korvo::vyr::Robot`, in their signature texts; the stubs name the
Python class it stands for.
"""

import logging
import re
import sys
from pathlib import Path

import pybind11_stubgen as stubgen

# C++ names that appear in signature texts, and the Python classes they stand for.
CPP_NAMES = {"korvo::vyr::Robot": "korvovyr.Robot"}


def main(argv: list[str]) -> int:
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    output_dir, modules = argv[0], argv[1:]
    sys.path.insert(0, output_dir)
    logging.basicConfig(level=logging.WARNING, format="%(name)s - [%(levelname)7s] %(message)s")
    args = stubgen.arg_parser().parse_args(
        ["--exit-code", "--numpy-array-use-type-var", "-o", output_dir, *modules],
        namespace=stubgen.CLIArgs(),
    )
    base = type(stubgen.stub_parser_from_args(args))

    class Parser(base):  # type: ignore[misc, valid-type]
        def parse_args_str(self, args_str):  # type: ignore[no-untyped-def]
            for cpp_name, python_name in CPP_NAMES.items():
                args_str = args_str.replace(cpp_name, python_name)
            return super().parse_args_str(args_str)

    stubgen.run(
        Parser(),
        stubgen.Printer(invalid_expr_as_ellipses=True),
        modules,
        Path(output_dir),
        root_suffix=None,
        dry_run=False,
        writer=stubgen.Writer(stub_ext="pyi"),
    )
    for module in modules:
        polish(Path(output_dir) / f"{module}.pyi")
    return 0


# The name tables are plain dicts keyed by the members of one enum.
NAME_TABLES = {
    "kProductModelNames": "ProductModel",
    "kJointGroupNames": "JointGroup",
    "kOpStatusNames": "OperationalStatus",
    "kModeNames": "Mode",
}


def polish(path: Path) -> None:
    """Makes a generated stub stand alone and say exactly what the module does:
    - stubgen's FixedSize marker becomes a text, and its import goes;
    - NumPy shapes that stubgen writes with type variables M and N (which the method `Model.M`
      would shadow) become `int`; a NumPy argument takes anything array-like, and a list of
      floats as an argument any sequence of numbers or a NumPy array, as the module does;
    - inside a class with a method named `list`, the builtin is spelled `builtins.list`;
    - the name tables get their key and value types."""
    text = re.sub(r"pybind11_stubgen\.typing_ext\.FixedSize\((\d+)\)", r'"FixedSize(\1)"',
                  path.read_text())
    text = text.replace("import pybind11_stubgen.typing_ext\n", "")
    text = re.sub(r'^[MN] = typing\.TypeVar\("[MN]", bound=int\)\n', "", text, flags=re.M)
    text = re.sub(r"tuple\[(M|N), (N|typing\.Literal\[1\])\]",
                  lambda m: "tuple[int, " + ("int" if m.group(2) == "N" else m.group(2)) + "]",
                  text)
    text = "".join(fix_signature_lines(text.splitlines(keepends=True)))
    for table, enum in NAME_TABLES.items():
        text = text.replace(f"{table}: dict\n", f"{table}: dict[{enum}, str]\n")
    if "builtins." in text:
        text = text.replace("from __future__ import annotations\n",
                            "from __future__ import annotations\nimport builtins\n", 1)
    if FLOAT_VECTOR in text:
        imports_end = text.index("\n__all__")
        text = text[:imports_end] + "\n" + FLOAT_VECTOR_ALIAS + text[imports_end:]
        if "import numpy\n" not in text:
            text = text.replace("import typing\n", "import numpy\nimport typing\n", 1)
    if "numpy.typing." in text:
        text = text.replace("import numpy\n", "import numpy\nimport numpy.typing\n", 1)
    if re.search(r"pybind11_stubgen|^[MN] = |\[[MN], ", text, flags=re.M):
        raise SystemExit(f"{path}: a name is left that the stub cannot resolve")
    path.write_text(text)


NDARRAY_FLOAT64 = re.compile(
    r"numpy\.ndarray\[tuple\[(?:[^\[\]]|\[[^\[\]]*\])*\], numpy\.dtype\[numpy\.float64\]\]")


# A list of floats as an argument: the module takes any sequence of numbers, a NumPy array too.
FLOAT_VECTOR = "_FloatVector"
FLOAT_VECTOR_ALIAS = (
    "_FloatVector: typing.TypeAlias = typing.Union[\n"
    "    typing.Sequence[float], numpy.typing.NDArray[typing.Any]]\n")


def fix_signature_lines(lines: list[str]) -> list[str]:
    """Array-like NumPy arguments, any sequence of numbers where the module takes a list of
    floats, and `builtins.list` in the classes that define `list`."""
    shadowing: set[str] = set()
    cls = ""
    for line in lines:
        if line.startswith("class "):
            cls = line
        elif line.startswith("    def list("):
            shadowing.add(cls)
    out = []
    in_docstring = False
    for line in lines:
        if line.startswith("class "):
            cls = line
        elif not line.startswith((" ", "\n")):
            cls = ""
        if not in_docstring and line.lstrip().startswith("def "):
            head, arrow, tail = line.partition(") ->")
            head = NDARRAY_FLOAT64.sub("numpy.typing.ArrayLike", head)
            head = re.sub(r"(?<![\w.])list\[float\]", FLOAT_VECTOR, head)
            line = head + arrow + tail
        if cls in shadowing and not in_docstring and re.match(r"\s*(def |[A-Za-z_]\w*: )", line):
            line = re.sub(r"(?<![\w.])list\[", "builtins.list[", line)
        if line.count('"""') % 2 == 1:
            in_docstring = not in_docstring
        out.append(line)
    return out


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
