"""korvovyr.Model's description sync and remote services against korvo-sim: the registered
faces, template files synced in place, constrained IK and configuration scores as Python values,
and errors as Python exceptions."""

import re
import xml.etree.ElementTree as ET

import numpy as np
import pytest

import korvovyr as kv
from support import connected_robot, retry_until


@pytest.fixture
def hosted(simulator, zenoh_config):
    with connected_robot(simulator, "Olvar-L") as (robot, sim):
        model = kv.Model(robot)
        yield robot, model, sim
        del model


def test_methods_are_registered_in_order_with_their_signatures():
    names = [n for n in vars(kv.Model) if not n.startswith("_")]
    assert names == [
        "link_names", "joint_names", "Reload", "SyncURDF", "SyncKinematicsYAML", "Update",
        "J", "dJ", "M", "C", "g", "c", "T", "SolveConstrainedIK", "configuration_score",
        "multi_contact_forces", "multi_contact_positions",
    ]
    contact = "dict[korvovyr.JointGroup, list[numpy.ndarray[numpy.float64[3, 1]]]]"
    heads = {
        "SyncURDF": ("SyncURDF(self: korvovyr.Model, template_urdf_path: str) -> None", "Blocking"),
        "SyncKinematicsYAML": (
            "SyncKinematicsYAML(self: korvovyr.Model, template_yaml_path: str) -> int",
            "Blocking",
        ),
        "SolveConstrainedIK": (
            "SolveConstrainedIK(self: korvovyr.Model, ik_params_by_group: "
            "dict[korvovyr.JointGroup, korvovyr.IKParams]) -> korvovyr.IKResult",
            "Blocking",
        ),
        "configuration_score": (
            "configuration_score(self: korvovyr.Model) -> "
            "dict[korvovyr.JointGroup, tuple[float, float]]",
            "Blocking",
        ),
        "multi_contact_forces": (
            f"multi_contact_forces(self: korvovyr.Model) -> {contact}",
            "Non-blocking",
        ),
        "multi_contact_positions": (
            f"multi_contact_positions(self: korvovyr.Model) -> {contact}",
            "Non-blocking",
        ),
    }
    for name, (signature, marker) in heads.items():
        assert getattr(kv.Model, name).__doc__.startswith(f"{signature}\n\n[{marker}] "), name


def test_template_files_take_the_robots_origins(hosted, tmp_path):
    _, model, sim = hosted
    served = ET.fromstring(sim.urdf)
    joints = {j.get("name"): j.find("origin") for j in served.iter("joint")}

    template = ET.fromstring(sim.urdf)
    for joint in template.iter("joint"):
        joint.find("origin").set("xyz", "9 9 9")
    urdf = tmp_path / "robot.urdf"
    urdf.write_bytes(ET.tostring(template))
    assert model.SyncURDF(str(urdf)) is None
    synced = {j.get("name"): j.find("origin") for j in ET.parse(urdf).iter("joint")}
    assert {n: (o.get("xyz"), o.get("rpy")) for n, o in synced.items()} == {
        n: (o.get("xyz"), o.get("rpy")) for n, o in joints.items()
    }

    yaml = tmp_path / "kinematics.yaml"
    yaml.write_text("kinematics:\n" + "".join(f"  {n}: {{x: 9}}\n" for n in joints))
    assert model.SyncKinematicsYAML(str(yaml)) == len(joints)
    first = next(iter(joints))
    x = float(joints[first].get("xyz").split()[0])
    # Written back in the flow style of the template: "  name: {x: ..., y: ..., ...}".
    line = next(ln for ln in yaml.read_text().splitlines() if ln.startswith(f"  {first}: "))
    assert float(re.search(r"\bx: ([^,}]+)", line).group(1)) == pytest.approx(x, abs=1e-12)

    missing = str(tmp_path / "missing.urdf")
    with pytest.raises(ValueError, match=re.escape(f"Failed to load template URDF at [{missing}]")):
        model.SyncURDF(missing)
    (tmp_path / "plain.yaml").write_text("robot: Olvar_L\n")
    with pytest.raises(ValueError, match=r"Missing <kinematics> root node"):
        model.SyncKinematicsYAML(str(tmp_path / "plain.yaml"))
    sim.serve_urdf("<robot")
    with pytest.raises(RuntimeError, match=r"Failed to parse the URDF obtained from server"):
        model.SyncURDF(str(urdf))


def test_constrained_ik_and_configuration_scores(hosted):
    robot, model, _ = hosted
    n = len(model.joint_names())
    flange = next(name for name in model.link_names() if name.endswith(".arm1.flange"))
    target = np.linspace(0.2, 0.5, n)
    model.Update(list(target), [0.0] * n)
    t = model.T(flange)
    w, x, y, z = _quaternion(t[:3, :3])
    params = kv.IKParams()
    params.cartesian_pose = [*t[:3, 3], w, x, y, z]
    params.seed_q = [0.0] * n
    result = model.SolveConstrainedIK({kv.JointGroup.ARM_1: params})
    assert result.success
    assert list(result.solved_q) == [kv.JointGroup.ARM_1]
    model.Update(result.solved_q[kv.JointGroup.ARM_1], [0.0] * n)
    assert np.allclose(model.T(flange), t, atol=1e-4)

    with pytest.raises(ValueError, match=r"Input \[ik_params_by_group\] is empty"):
        model.SolveConstrainedIK({})
    params.seed_q = [0.0] * (n - 1)
    with pytest.raises(ValueError, match=r"Size of input vector \[seed_q\] does not match"):
        model.SolveConstrainedIK({kv.JointGroup.ARM_1: params})

    scores = model.configuration_score()
    assert list(scores) == [kv.JointGroup.ARM_1]
    translation, orientation = scores[kv.JointGroup.ARM_1]
    assert 0.0 <= translation <= 100.0 and 0.0 <= orientation <= 100.0


def _quaternion(r):
    """w, x, y, z of a rotation matrix (its trace is positive for the postures used here)."""
    w = np.sqrt(max(1.0 + np.trace(r), 1e-12)) / 2
    return (
        w,
        (r[2, 1] - r[1, 2]) / (4 * w),
        (r[0, 2] - r[2, 0]) / (4 * w),
        (r[1, 0] - r[0, 1]) / (4 * w),
    )


def test_contact_estimates_are_lists_of_arrays_per_group(hosted):
    robot, model, sim = hosted
    n = len(model.joint_names())
    sim.set_multi_contact([[0.5 * i, 1.0, -1.0] for i in range(n)], [[0.0, 0.0, 0.25]] * n)

    def arrived():
        forces = model.multi_contact_forces()
        return bool(forces) and bool(forces[kv.JointGroup.ARM_1][-1][0] == 0.5 * (n - 1))

    retry_until(arrived, "the contact forces")
    forces, positions = model.multi_contact_forces(), model.multi_contact_positions()
    arm = forces[kv.JointGroup.ARM_1]
    assert isinstance(arm, list) and len(arm) == n
    assert all(isinstance(v, np.ndarray) and v.shape == (3,) and v.dtype == np.float64 for v in arm)
    assert np.array_equal(arm[2], [1.0, 1.0, -1.0])
    assert np.array_equal(positions[kv.JointGroup.ARM_1][0], [0.0, 0.0, 0.25])

    sim.set_multi_contact([], [])  # a robot without the estimation
    retry_until(lambda: model.multi_contact_forces() == {}, "no contact estimates")
    assert model.multi_contact_positions() == {}
