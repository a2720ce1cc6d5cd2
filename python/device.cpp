// The class Device.
#include <map>
#include <memory>
#include <string>

#include "bind_data.hpp"
#include "korvo/vyr/device.hpp"
#include "korvo/vyr/robot.hpp"
#include "live_objects.hpp"

namespace korvo::vyr_py {

using vyr::Device;

namespace {

template <typename Op>
auto Method(Op op) {
  return LiveMethod("Device", op);
}

}  // namespace

void BindDevice(py::module_& m) {
  py::class_<Device, std::shared_ptr<Device>> cls(
      m, "Device", "Interface to control the peripheral device(s) connected to the robot.");
  cls.def(py::init(&MakeFromRobot<Device>),
          "[Non-blocking] Instantiate the device control interface.\n\n"
          "Args:\n"
          "    robot: Reference to the instance of korvo::vyr::Robot.\n\n"
          "Raises:\n"
          "    RuntimeError: if the initialization sequence failed.\n\n"
          "Note:\n"
          "    The list of devices is fetched from the robot once, here: devices configured on "
          "the robot afterwards do not exist for this instance.",
          py::arg("robot"));
  cls.def("list", Method(&Device::list),
          "[Non-blocking] Get a list of all existing devices.\n\n"
          "Returns:\n"
          "    Names of all existing devices.");
  cls.def("exist", Method(&Device::exist),
          "[Non-blocking] Check if the specified device exists.\n\n"
          "Args:\n"
          "    name: Name of the device to check.\n\n"
          "Returns:\n"
          "    True if the device exists, False otherwise.",
          py::arg("name"));
  cls.def("enabled", Method(&Device::enabled),
          "[Blocking] Check if the specified device is enabled.\n\n"
          "Args:\n"
          "    name: Name of the device to check.\n\n"
          "Returns:\n"
          "    True if the device is enabled, False otherwise.\n\n"
          "Raises:\n"
          "    ValueError: if the specified device does not exist.\n"
          "    RuntimeError: if the robot does not reply.",
          py::arg("name"));
  cls.def("connected", Method(&Device::connected),
          "[Blocking] Check if the specified device is connected.\n\n"
          "Args:\n"
          "    name: Name of the device to check.\n\n"
          "Returns:\n"
          "    True if the device is connected, False otherwise.\n\n"
          "Raises:\n"
          "    ValueError: if the specified device does not exist.\n"
          "    RuntimeError: if the robot does not reply.",
          py::arg("name"));
  cls.def("params", Method(&Device::params),
          "[Blocking] Get the configuration parameters of the specified device.\n\n"
          "Args:\n"
          "    name: Name of the device to get parameters for.\n\n"
          "Returns:\n"
          "    Parameters as {name, value}, booleans as the int 1 and 0, e.g. {\"maxVel\", 0.5}, "
          "{\"absolutePosition\", {0.7, -0.4, 0.05}}, {\"conveyorName\", \"conveyor0\"}.\n\n"
          "Raises:\n"
          "    ValueError: if the specified device does not exist.\n"
          "    RuntimeError: if the request fails.\n\n"
          "Note:\n"
          "    Parameters of a data type the robot cannot report are left out.",
          py::arg("name"));
  cls.def("Enable", Method(&Device::Enable),
          "[Blocking] Enable the specified device.\n\n"
          "Args:\n"
          "    name: Name of the device to enable.\n\n"
          "Raises:\n"
          "    ValueError: if the specified device does not exist.\n"
          "    RuntimeError: if the request fails.",
          py::arg("name"));
  cls.def("Disable", Method(&Device::Disable),
          "[Blocking] Disable the specified device.\n\n"
          "Args:\n"
          "    name: Name of the device to disable.\n\n"
          "Raises:\n"
          "    ValueError: if the specified device does not exist.\n"
          "    RuntimeError: if the request fails.",
          py::arg("name"));
  cls.def("Command", Method(&Device::Command),
          "[Blocking] Send all commands in the map to the specified device at once.\n\n"
          "Args:\n"
          "    name: Name of the device to send commands to.\n"
          "    commands: Commands as {name, value} with a bool, int or float value, e.g. "
          "{\"setSpeed\", 6000}, {\"openLaser\", true}. Floats are sent with 32-bit "
          "precision.\n\n"
          "Raises:\n"
          "    ValueError: if the specified device does not exist.\n"
          "    RuntimeError: if the device is not enabled, or the robot refuses the commands or "
          "does not reply.",
          py::arg("name"), py::arg("commands"));
  cls.def("__repr__", [](const Device*) { return "<korvovyr.Device>"; });
  ReleaseAtExit<Device>();
}

}  // namespace korvo::vyr_py
