"""korvovyr.FileIO against korvo-sim over zenoh on loopback: the class's Python face (its two
DownloadTrajFile overloads), file content that is not UTF-8, errors as Python exceptions, and
release at interpreter exit."""

import gc
import textwrap
import uuid

import pytest

import korvovyr as kv


@pytest.fixture
def rig(simulator, zenoh_config):
    """A connected Robot of its own with a FileIO, its simulated robot and its serial number."""
    serials = []

    def make():
        serial = f"Olvar-L-f{uuid.uuid4().hex[:10]}"
        sim = simulator.add_robot("Olvar-L", serial, 0)
        serials.append(serial)
        robot = kv.Robot(serial, verbose=False)
        sim.clear_records()
        return sim, robot, kv.FileIO(robot), serial

    yield make
    gc.collect()
    for serial in serials:
        simulator.remove_robot(serial)


METHODS = [
    ("traj_files_list", "(self: korvovyr.FileIO) -> list[str]\n\n[Blocking] "),
    ("projects_list", "(self: korvovyr.FileIO) -> list[str]\n\n[Blocking] "),
    (
        "UploadTrajFile",
        "(self: korvovyr.FileIO, file_dir: str, file_name: str) -> None\n\n[Blocking] ",
    ),
    (
        "DownloadTrajFile",
        "(*args, **kwargs)\nOverloaded function.\n\n1. DownloadTrajFile(self: korvovyr.FileIO, "
        "file_name: str) -> str\n\n[Blocking] ",
    ),
    ("UploadProject", "(self: korvovyr.FileIO, project_dir: str) -> None\n\n[Blocking] "),
    (
        "DownloadProject",
        "(self: korvovyr.FileIO, project_name: str, save_dir: str) -> None\n\n[Blocking] ",
    ),
    ("DownloadCollisionMesh", "(self: korvovyr.FileIO, save_dir: str) -> None\n\n[Blocking] "),
]


def test_methods_in_registration_order_with_signature_and_marker():
    assert [n for n in vars(kv.FileIO) if not n.startswith("_")] == [m[0] for m in METHODS]
    for name, opening in METHODS:
        assert getattr(kv.FileIO, name).__doc__.startswith(name + opening)
    assert (
        "\n2. DownloadTrajFile(self: korvovyr.FileIO, file_name: str, save_dir: str) -> None\n\n"
        "[Blocking] " in kv.FileIO.DownloadTrajFile.__doc__
    )
    assert kv.FileIO.__init__.__doc__.startswith(
        "__init__(self: korvovyr.FileIO, robot: korvo::vyr::Robot) -> None\n\n"
        "[Non-blocking] Instantiate the file exchange interface."
    )
    names = list(vars(kv))
    assert names.index("Device") < names.index("FileIO") < names.index("GripperParams")
    assert kv.FileIO.__doc__ == (
        "Interface to exchange files with the robot. Only certain types of file can be transferred."
    )


def test_download_overloads_return_the_content_or_write_the_file(rig, tmp_path):
    sim, _, files, _ = rig()
    content = b"MoveL p1\n\xff\xfe not UTF-8 \x00"
    sim.set_traj_file("Mixed.traj", content)
    text = files.DownloadTrajFile("Mixed.traj")
    assert isinstance(text, str)
    assert text.encode("utf-8", "surrogateescape") == content
    assert files.DownloadTrajFile("Mixed.traj", str(tmp_path / "out")) is None
    assert (tmp_path / "out" / "Mixed.traj").read_bytes() == content
    assert repr(files) == "<korvovyr.FileIO>"


def test_errors_surface_as_value_and_runtime_errors(rig, tmp_path):
    sim, _, files, _ = rig()
    (tmp_path / "folder.traj").mkdir()
    with pytest.raises(ValueError) as error:  # a directory is no file to read, not a MemoryError
        files.UploadTrajFile(str(tmp_path), "folder.traj")
    assert str(error.value) == (
        f"[korvo::vyr::FileIO::UploadTrajFile] Failed to load trajectory file "
        f"[{tmp_path / 'folder.traj'}]"
    )
    with pytest.raises(ValueError):
        files.DownloadProject("NoSuchProject", str(tmp_path))
    sim.serve_urdf('<robot><link name="../../escape"><collision><geometry><mesh '
                   'filename="package://m/a.stl"/></geometry></collision></link></robot>')
    with pytest.raises(RuntimeError) as error:
        files.DownloadCollisionMesh(str(tmp_path / "meshes"))
    assert str(error.value) == (
        "[korvo::vyr::FileIO::DownloadCollisionMesh] Invalid link contained in URDF"
    )
    assert not (tmp_path / "meshes").exists()
    assert sim.vyr_requests()[-1]["op_code"] == 5


def test_file_io_alive_at_interpreter_exit_is_released_first(rig, run_python):
    *_, serial = rig()
    gc.collect()
    script = """
        import atexit
        def late():
            try:
                files.traj_files_list()
            except RuntimeError as error:
                print(error)
        atexit.register(late)
        import korvovyr
        files = korvovyr.FileIO(korvovyr.Robot(SERIAL, verbose=False))
        """
    done = run_python("-c", f"SERIAL = {serial!r}\n" + textwrap.dedent(script), timeout=60)
    assert (done.returncode, done.stderr, done.stdout) == (
        0,
        "",
        "[korvo::vyr::FileIO] FileIO was released at interpreter exit\n",
    )
