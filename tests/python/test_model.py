"""korvovyr.Model against korvo-sim over zenoh on loopback: the class face, NumPy results of the
documented shapes and dtypes, the gravity argument, and errors as Python exceptions."""

import numpy as np
import pytest

import korvovyr as kv
from support import connected_robot


@pytest.fixture
def robot(simulator, zenoh_config):
    with connected_robot(simulator, "Olvar-LL") as (robot, _):
        yield robot


def test_face_and_registration_order():
    names = list(vars(kv))
    assert names.index("IKResult") < names.index("Model") < names.index("Robot")
    assert kv.Model.__doc__ == (
        "Interface to obtain certain model data of the robot, including kinematics and dynamics."
    )
    assert kv.Model.__init__.__doc__.startswith(
        "__init__(self: korvovyr.Model, robot: korvo::vyr::Robot, gravity_vector: "
        "numpy.ndarray[numpy.float64[3, 1]] = array([0.0, 0.0, -9.81])) -> None\n\n"
        "[Non-blocking] "
    )
    assert kv.Model.T.__doc__.startswith(
        "T(self: korvovyr.Model, link_name: str) -> numpy.ndarray[numpy.float64[4, 4]]\n\n"
        "[Non-blocking] "
    )


def test_results_are_new_float64_arrays(robot):
    model = kv.Model(robot)
    assert repr(model) == "<korvovyr.Model>"
    n = len(model.joint_names())
    assert n == 14
    flange = next(name for name in model.link_names() if name.endswith(".arm1.flange"))
    q = np.linspace(-0.5, 0.5, n)
    model.Update(list(q), [0.1] * n)
    shapes = {
        "J": (model.J(flange), (6, n)),
        "dJ": (model.dJ(flange), (6, n)),
        "M": (model.M(), (n, n)),
        "C": (model.C(), (n, n)),
        "g": (model.g(), (n,)),
        "c": (model.c(), (n,)),
        "T": (model.T(flange), (4, 4)),
    }
    for name, (value, shape) in shapes.items():
        assert isinstance(value, np.ndarray) and value.dtype == np.float64, name
        assert value.shape == shape, name
    assert np.array_equal(model.T(flange)[3], [0, 0, 0, 1])
    first = model.M()
    first[0, 0] = 1e9  # a copy: the model is not changed
    assert model.M()[0, 0] != 1e9
    assert np.allclose(model.C() @ np.full(n, 0.1), model.c())


def test_gravity_argument_and_errors(robot):
    model = kv.Model(robot)
    half = kv.Model(robot, [0, 0, -9.81 / 2])
    n = len(model.joint_names())
    q = [0.3] * n
    for m in (model, half):
        m.Update(q, [0.0] * n)
    assert np.allclose(half.g(), model.g() / 2)
    with pytest.raises(ValueError, match=r"^\[korvo::vyr::Model::J\] The specified link \[x\]"):
        model.J("x")
    with pytest.raises(ValueError, match=r"\[korvo::vyr::Model::T\] The specified link \[x\]"):
        model.T("x")
    with pytest.raises(ValueError, match=r"Size of input vector \[full_q\] is 13, does not match"):
        model.Update([0.0] * (n - 1), [0.0] * n)
    with pytest.raises(TypeError):
        kv.Model(robot, [0.0, -9.81])
