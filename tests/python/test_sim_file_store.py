"""korvo-sim's file store: the korvosim file controls and read-backs, seen through the requests a
client sends with the test-only middleware module over loopback.

One simulator per module (conftest.py) listens on a free port of 127.0.0.1; every test hosts its
own robot under a fresh serial number.
"""

import struct
import zlib

import pytest

from support import hosted_robot, retry_until



def crc_bits(data):
    """The CRC-32 of `data` as the int32 the containers carry."""
    return struct.unpack("<i", struct.pack("<I", zlib.crc32(data)))[0]


@pytest.fixture
def robot(simulator, session):
    """A robot under a fresh serial number, with a `vyr(op_code, **fields)` caller that returns
    the decoded reply (None when none arrived)."""
    with hosted_robot(simulator, session, "Olvar-L", 60) as hosted:
        yield hosted


def download(vyr, op_code, name):
    reply = vyr(op_code, string_container=[name])
    assert reply is not None and reply.op_code == op_code
    return reply


def test_read_backs_start_with_the_robots_files(robot):
    sim, vyr = robot
    assert sorted(sim.traj_files) == ["PolishSpiral.traj", "Wipe.traj"]
    assert sorted(sim.project_files) == ["PolishTable.plan", "PolishTable.proj"]
    assert list(vyr(60).string_container) == ["PolishSpiral.traj", "Wipe.traj"]
    assert list(vyr(63).string_container) == ["PolishTable"]
    urdf = sim.urdf
    meshes = sim.mesh_files
    assert meshes and all(f'filename="package://{path}"' in urdf for path in meshes)


def test_set_and_remove_show_in_listings_and_downloads(robot):
    sim, vyr = robot
    sim.set_traj_file("Scan.traj", b"scan\x00\xff")
    sim.set_project_file("Deburr.proj", b"proj")
    assert list(vyr(63).string_container) == ["PolishTable"]  # the .plan is still missing
    sim.set_project_file("Deburr.plan", b"plan")
    assert list(vyr(63).string_container) == ["Deburr", "PolishTable"]
    sim.set_mesh_file("extra/part.stl", b"solid-less")

    for op_code, name, content in [
        (62, "Scan.traj", b"scan\x00\xff"),
        (65, "Deburr.plan", b"plan"),
        (66, "extra/part.stl", b"solid-less"),
    ]:
        reply = download(vyr, op_code, name)
        assert reply.success, name
        assert list(reply.string_container) == [name]
        assert list(reply.int_container) == [crc_bits(content)]
        assert bytes(reply.byte_container) == content

    sim.remove_file("traj", "Scan.traj")
    sim.remove_file("project", "Deburr.proj")
    sim.remove_file("mesh", "extra/part.stl")
    assert "Scan.traj" not in sim.traj_files
    assert list(vyr(63).string_container) == ["PolishTable"]
    assert not download(vyr, 66, "extra/part.stl").success
    with pytest.raises(ValueError):
        sim.remove_file("traj", "Scan.traj")
    with pytest.raises(ValueError):
        sim.remove_file("folder", "Wipe.traj")


def test_uploads_reach_the_read_backs_and_bad_crcs_do_not(robot):
    sim, vyr = robot
    data = bytes(range(256)) * 40
    ok = vyr(61, string_container=["Big.traj"], int_container=[crc_bits(data)],
             byte_container=list(data))
    assert ok.success and ok.op_code == 61
    assert sim.traj_files["Big.traj"] == data
    bad = vyr(64, string_container=["P.proj"], int_container=[crc_bits(data) ^ 1],
              byte_container=list(data))
    assert not bad.success
    assert "P.proj" not in sim.project_files


def test_served_urdf_and_corrupted_replies(robot):
    sim, vyr = robot
    name = f"{sim.serial}.urdf"
    sim.serve_urdf("<robot")
    reply = download(vyr, 5, name)
    assert reply.success and bytes(reply.byte_container) == b"<robot"
    assert list(reply.int_container) == [crc_bits(b"<robot")]

    sim.corrupt_next_reply("crc")
    bad = download(vyr, 5, name)
    assert bad.success and list(bad.int_container) != [crc_bits(b"<robot")]
    sim.corrupt_next_reply("name")
    bad = download(vyr, 5, name)
    assert bad.success and list(bad.string_container) != [name]
    with pytest.raises(ValueError):
        sim.corrupt_next_reply("size")

    sim.serve_urdf(None)
    reply = download(vyr, 5, name)
    assert bytes(reply.byte_container) == sim.urdf.encode()
    assert list(reply.string_container) == [name]
    assert list(reply.int_container) == [crc_bits(sim.urdf.encode())]
