// korvosim: the simulator for Python. A `Simulator` owns one zenoh session and hosts robots; a
// `Robot` is a handle on one of them by serial number, with every test control and read-back of
// the simulated robot and its host.
//
// Locking: every handle shares one state with its simulator. Its mutex is taken either with the
// GIL held (short calls) or after the GIL was released (closing, adding and removing robots,
// which wait for zenoh and the loop thread); nothing ever takes the GIL while holding it.
// Simulators still open when the interpreter exits are closed by an atexit hook, before zenoh's
// runtime goes away.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "middleware/zenoh.hpp"
#include "msgs/qel_msg.hpp"
#include "msgs/vyr_msg.hpp"
#include "sim/device_records.hpp"
#include "sim/file_store.hpp"
#include "sim/loopback.hpp"
#include "sim/robot_host.hpp"
#include "sim/robot_model.hpp"
#include "sim/sim_robot.hpp"
#include "sim/sim_types.hpp"
#include "sim/simulator.hpp"
#include "sim/tools.hpp"

namespace korvo::sim::python {
namespace {

namespace py = pybind11;
namespace vyr_msg = zenoh_msgs::vyr_msg;
namespace qel_msg = zenoh_msgs::qel_msg;

// ---- records as dicts ---------------------------------------------------------------------------

double Seconds(std::chrono::system_clock::time_point time) {
  return std::chrono::duration<double>(time.time_since_epoch()).count();
}

py::dict ToolDict(const vyr_msg::ToolInfo& tool) {
  py::dict d;
  d["name"] = tool.name;
  d["mass"] = tool.mass;
  d["CoM"] = tool.CoM;
  d["inertia"] = tool.inertia;
  d["tcp_location"] = tool.tcp_location;
  return d;
}

py::dict RequestDict(const vyr_msg::RPCRequest& r) {
  py::dict d;
  d["op_code"] = r.op_code;
  d["joint_groups"] = r.joint_groups;
  d["bool_container"] = r.bool_container;
  d["int_container"] = r.int_container;
  d["float_container"] = r.float_container;
  d["string_container"] = r.string_container;
  d["byte_container"] =
      py::bytes(reinterpret_cast<const char*>(r.byte_container.data()), r.byte_container.size());
  d["float2d_container"] = r.float2d_container;
  d["tool"] = ToolDict(r.tool);
  return d;
}

py::dict RequestDict(const qel_msg::RPCRequest& r) {
  py::dict d;
  d["op_code"] = r.op_code;
  d["joint_groups"] = r.joint_groups;
  return d;
}

py::dict JointCommandDict(const vyr_msg::JointCommand& c) {
  py::dict d;
  d["tau_d"] = c.tau_d;
  d["q_d"] = c.q_d;
  d["dq_d"] = c.dq_d;
  d["ddq_d"] = c.ddq_d;
  d["dq_max"] = c.dq_max;
  d["ddq_max"] = c.ddq_max;
  d["friction_comp_scale"] = c.friction_comp_scale;
  d["disable_gravity_comp"] = c.disable_gravity_comp;
  d["disable_soft_limits"] = c.disable_soft_limits;
  return d;
}

py::dict CartesianCommandDict(const vyr_msg::CartesianCommand& c) {
  py::dict d;
  d["pose_d"] = c.pose_d;
  d["wrench_d"] = c.wrench_d;
  d["twist_d"] = c.twist_d;
  d["acc_d"] = c.acc_d;
  d["max_linear_vel"] = c.max_linear_vel;
  d["max_angular_vel"] = c.max_angular_vel;
  d["max_linear_acc"] = c.max_linear_acc;
  d["max_angular_acc"] = c.max_angular_acc;
  return d;
}

py::list CartesianCommandList(const std::vector<vyr_msg::CartesianCommand>& commands) {
  py::list list;
  for (const auto& c : commands) list.append(CartesianCommandDict(c));
  return list;
}

py::dict CommandsDict(const vyr_msg::MotionCommands& m) {
  py::dict d;
  d["stamp"] = m.stamp;
  d["joint_groups"] = m.joint_groups;
  py::list joint;
  for (const auto& c : m.joint_commands) joint.append(JointCommandDict(c));
  d["joint_commands"] = joint;
  d["cartesian_commands"] = CartesianCommandList(m.cartesian_commands);
  py::list waypoints;
  for (const auto& group : m.waypoint_commands) waypoints.append(CartesianCommandList(group));
  d["waypoint_commands"] = waypoints;
  return d;
}

// One dict per record, oldest first, each with the time it arrived ('time', seconds since the
// epoch).
template <typename Message>
py::list Records(const std::vector<Received<Message>>& records,
                 py::dict (*to_dict)(const Message&)) {
  py::list list;
  for (const auto& record : records) {
    py::dict d = to_dict(record.request);
    d["time"] = Seconds(record.time);
    list.append(d);
  }
  return list;
}

// ---- names of the test controls -----------------------------------------------------------------

template <typename T>
T FromName(const std::vector<std::pair<const char*, T>>& names, const std::string& name,
           const char* what) {
  std::string known;
  for (const auto& [text, value] : names) {
    if (name == text) return value;
    known += known.empty() ? "" : ", ";
    known += std::string("'") + text + "'";
  }
  throw py::value_error(std::string("Unknown ") + what + " '" + name + "'; expected one of " +
                        known);
}

Server ServerFromName(const std::string& name) {
  return FromName<Server>({{"vyr", Server::kVyr}, {"qel", Server::kQel}}, name, "server");
}

ReplyAction ActionFromName(const std::string& name) {
  return FromName<ReplyAction>({{"normal", ReplyAction::kNormal},
                                {"refuse", ReplyAction::kRefuse},
                                {"drop", ReplyAction::kDrop},
                                {"delay", ReplyAction::kDelay},
                                {"corrupt", ReplyAction::kCorrupt},
                                {"wrong_op_code", ReplyAction::kWrongOpCode}},
                               name, "reply action");
}

Stream StreamFromName(const std::string& name) {
  return FromName<Stream>(
      {{"states", Stream::kStates}, {"basic", Stream::kBasic}, {"extra", Stream::kExtra}}, name,
      "stream");
}

vyr::ProductModel ModelFromName(const std::string& name) {
  if (const auto product = ProductModelFromName(name)) return *product;
  throw py::value_error("Unknown product model '" + name +
                        "'; expected one of 'Olvar-L', 'Olvar-LL', 'TAVU-Core', 'TAVU-Plus', "
                        "'TAVU-Ultra'");
}

template <typename T>
T InRange(long long value, long long low, long long high, const char* what) {
  if (value < low || value > high) {
    throw py::value_error(std::string(what) + " must be in [" + std::to_string(low) + ", " +
                          std::to_string(high) + "], not " + std::to_string(value));
  }
  return static_cast<T>(value);
}

// ---- device parameters and commands
// --------------------------------------------------------------

// What the robot reports for a parameter given as a Python value: int or bool one int, float one
// float, str one string, a list of ints several ints, of numbers (one a float at least) floats, of
// strs strings, an empty list nothing at all, None a refusal (a type the robot cannot report).
DeviceParam ParamFromPython(const std::string& name, const py::handle& value) {
  const auto to_int = [&](const py::handle& v) {
    return InRange<std::int32_t>(v.cast<long long>(), INT32_MIN, INT32_MAX,
                                 ("parameter '" + name + "'").c_str());
  };
  if (value.is_none()) return DeviceParam::Refused();
  if (py::isinstance<py::int_>(value)) return DeviceParam::Int(to_int(value));
  if (py::isinstance<py::float_>(value)) {
    return DeviceParam::Float(static_cast<float>(value.cast<double>()));
  }
  if (py::isinstance<py::str>(value)) return DeviceParam::Text(value.cast<std::string>());
  if (py::isinstance<py::list>(value) || py::isinstance<py::tuple>(value)) {
    if (py::len(value) == 0) return DeviceParam::Nothing();
    bool strings = true, ints = true, numbers = true;
    for (const py::handle item : value) {
      const bool is_int = py::isinstance<py::int_>(item);
      strings = strings && py::isinstance<py::str>(item);
      ints = ints && is_int;
      numbers = numbers && (is_int || py::isinstance<py::float_>(item));
    }
    DeviceParam param;
    for (const py::handle item : value) {
      if (strings) {
        param.strings.push_back(item.cast<std::string>());
      } else if (ints) {
        param.ints.push_back(to_int(item));
      } else if (numbers) {
        param.floats.push_back(static_cast<float>(item.cast<double>()));
      }
    }
    if (strings || ints || numbers) return param;
  }
  throw py::type_error("Parameter '" + name +
                       "' must be an int, float, str, a list of one of them, or None");
}

DeviceParams ParamsFromPython(const py::dict& params) {
  DeviceParams out;
  for (const auto& [key, value] : params) {
    if (!py::isinstance<py::str>(key)) throw py::type_error("Parameter names are strs");
    const auto name = key.cast<std::string>();
    out[name] = ParamFromPython(name, value);
  }
  return out;
}

py::dict DeviceCommandsDict(const std::vector<DeviceCommand>& commands) {
  py::dict d;
  for (const auto& c : commands) {
    switch (c.type) {
      case CommandType::kBool:
        d[py::str(c.name)] = py::bool_(c.value != 0.0);
        break;
      case CommandType::kInt:
        d[py::str(c.name)] = py::int_(static_cast<long long>(c.value));
        break;
      case CommandType::kDouble:
        d[py::str(c.name)] = py::float_(c.value);
        break;
    }
  }
  return d;
}

// ---- simulator and robot handles ----------------------------------------------------------------

// What a simulator and the handles of its robots share; `simulator` is empty once closed.
struct SimulatorState {
  std::mutex mutex;
  std::unique_ptr<Simulator> simulator;
};

// Every simulator opened here, for the atexit hook.
std::mutex& OpenedMutex() {
  static std::mutex mutex;
  return mutex;
}
std::vector<std::weak_ptr<SimulatorState>>& Opened() {
  static std::vector<std::weak_ptr<SimulatorState>> opened;
  return opened;
}

Simulator& OpenSimulator(SimulatorState& state) {
  if (!state.simulator) throw std::runtime_error("Simulator is closed");
  return *state.simulator;
}

// Stops the loop, removes every robot and closes the session. Called with the GIL held; waits
// without it.
void Close(SimulatorState& state) {
  py::gil_scoped_release release;
  std::unique_ptr<Simulator> simulator;
  {
    std::lock_guard lock(state.mutex);
    simulator = std::move(state.simulator);
  }
  simulator.reset();
}

void CloseAll() {
  std::vector<std::shared_ptr<SimulatorState>> alive;
  {
    std::lock_guard lock(OpenedMutex());
    for (auto& weak : Opened()) {
      if (auto state = weak.lock()) alive.push_back(std::move(state));
    }
    Opened().clear();
  }
  for (auto& state : alive) Close(*state);
}

class PyRobot {
 public:
  PyRobot(std::shared_ptr<SimulatorState> state, std::string serial)
      : state_(std::move(state)), serial_(std::move(serial)) {}

  const std::string& serial() const { return serial_; }

  // Runs `f` on the hosted robot under the state's lock; the GIL stays held (the calls are short).
  template <typename F>
  auto Host(F&& f) const {
    std::lock_guard lock(state_->mutex);
    RobotHost* host = nullptr;
    try {
      host = &OpenSimulator(*state_).robot(serial_);
    } catch (const std::out_of_range& e) {
      throw py::key_error(e.what());
    }
    return f(*host);
  }

  template <typename F>
  auto Sim(F&& f) const {
    return Host([&](RobotHost& host) { return f(host.robot()); });
  }

  // The model never changes once the robot is hosted; the robot is kept for it.
  const RobotModel& model() const {
    if (!robot_) robot_ = Host([](RobotHost& h) { return h.shared_robot(); });
    return robot_->model();
  }

  void CheckFullDof(const std::vector<double>& values, const char* what) const {
    if (values.size() != model().full_dof()) {
      throw py::value_error(std::string(what) + " needs " + std::to_string(model().full_dof()) +
                            " values (the robot's full DoF), not " + std::to_string(values.size()));
    }
  }

 private:
  std::shared_ptr<SimulatorState> state_;
  std::string serial_;
  mutable std::shared_ptr<const SimRobot> robot_;  // for the model only
};

class PySimulator {
 public:
  explicit PySimulator(const std::string& config_json5)
      : state_(std::make_shared<SimulatorState>()) {
    auto config = zenoh::Config::from_str(config_json5);
    {
      py::gil_scoped_release release;
      state_->simulator = std::make_unique<Simulator>(std::move(config));
    }
    std::lock_guard lock(OpenedMutex());
    std::erase_if(Opened(), [](const auto& weak) { return weak.expired(); });
    Opened().push_back(state_);
  }
  PySimulator(const PySimulator&) = delete;
  PySimulator& operator=(const PySimulator&) = delete;
  // A simulator that goes away closes, even while handles of its robots remain.
  ~PySimulator() {
    if (!closed()) Close(*state_);
  }

  void close() { Close(*state_); }

  bool closed() {
    std::lock_guard lock(state_->mutex);
    return !state_->simulator;
  }

  PyRobot AddRobot(const std::string& model, const std::string& serial, int ext_axes) {
    const auto product = ModelFromName(model);
    if (ext_axes < 0) throw py::value_error("ext_axes must not be negative");
    {
      py::gil_scoped_release release;
      std::lock_guard lock(state_->mutex);
      OpenSimulator(*state_).AddRobot(product, serial, static_cast<unsigned>(ext_axes));
    }
    return PyRobot(state_, serial);
  }

  PyRobot robot(const std::string& serial) {
    PyRobot handle(state_, serial);
    handle.Host([](RobotHost&) { return 0; });  // KeyError when there is none
    return handle;
  }

  void RemoveRobot(const std::string& serial) {
    py::gil_scoped_release release;
    std::lock_guard lock(state_->mutex);
    OpenSimulator(*state_).RemoveRobot(serial);
  }

  std::uint64_t cycles() {
    std::lock_guard lock(state_->mutex);
    return OpenSimulator(*state_).cycles();
  }

 private:
  std::shared_ptr<SimulatorState> state_;
};

// ---- module -------------------------------------------------------------------------------------

std::string WriteConfig(const std::string& text, const std::string& path) {
  const auto dot = path.rfind('.');
  const std::string suffix = dot == std::string::npos ? "" : path.substr(dot);
  if (suffix != ".json5" && suffix != ".json" && suffix != ".yaml") {
    throw py::value_error("A zenoh configuration file name ends in .json5, .json or .yaml: " +
                          path);
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    PyErr_SetString(PyExc_OSError, ("Cannot write the configuration file " + path).c_str());
    throw py::error_already_set();
  }
  return path;
}

void BindLoopback(py::module_& m) {
  m.def("free_port", &FreeTcpPort,
        "A TCP port on 127.0.0.1 that was free when asked (the kernel picks it).");
  m.def("loopback_endpoint", &LoopbackEndpoint, py::arg("port"), "'tcp/127.0.0.1:PORT'.");
  m.def("listener_config", &ListenerConfig, py::arg("port"),
        "JSON5 zenoh configuration listening on tcp/127.0.0.1:PORT only, multicast scouting and "
        "gossip off: the simulator's side of a loopback pair.");
  m.def("connector_config", &ConnectorConfig, py::arg("port"),
        "JSON5 zenoh configuration connecting to tcp/127.0.0.1:PORT and listening nowhere, "
        "multicast scouting and gossip off: a client's side of a loopback pair.");
  m.def("write_config", &WriteConfig, py::arg("text"), py::arg("path"),
        "Writes a configuration text to `path` (ending in .json5, .json or .yaml, as zenoh "
        "requires) and returns the path, for ZENOH_CONFIG.");
}

void BindSimulator(py::module_& m) {
  py::class_<PySimulator>(m, "Simulator",
                          "One zenoh session hosting simulated robots, one per serial number, "
                          "stepped and published at 1 kHz.")
      .def(py::init<const std::string&>(), py::arg("config_json5"),
           "Opens the simulator's session with a JSON5 zenoh configuration; raises ZException "
           "when it cannot.")
      .def(
          "__enter__", [](PySimulator& self) -> PySimulator& { return self; },
          py::return_value_policy::reference)
      .def("__exit__", [](PySimulator& self, const py::object&, const py::object&,
                          const py::object&) { self.close(); })
      .def("close", &PySimulator::close,
           "Stops the simulator, removes its robots and closes its session. Idempotent.")
      .def_property_readonly("closed", &PySimulator::closed)
      .def("add_robot", &PySimulator::AddRobot, py::arg("model"), py::arg("serial"),
           py::arg("ext_axes") = 0,
           "Hosts a robot of product `model` ('Olvar-L', 'Olvar-LL', 'TAVU-Core', 'TAVU-Plus', "
           "'TAVU-Ultra') under `serial`. ValueError for an unknown model, a serial number "
           "already hosted or too many external axes.")
      .def("robot", &PySimulator::robot, py::arg("serial"),
           "The robot hosted under `serial`; KeyError when there is none.")
      .def("remove_robot", &PySimulator::RemoveRobot, py::arg("serial"),
           "Removes the robot hosted under `serial`; nothing when there is none.")
      .def_property_readonly("cycles", &PySimulator::cycles, "Control cycles run so far.");
}

void BindRobotControls(py::class_<PyRobot>& cls) {
  cls.def(
         "set_safety_state",
         [](const PyRobot& self, int state) {
           const auto s = InRange<std::int16_t>(state, INT16_MIN, INT16_MAX, "safety state");
           self.Sim([&](SimRobot& r) { r.SetSafetyState(s); });
         },
         py::arg("state"))
      .def(
          "set_system_state",
          [](const PyRobot& self, int state) {
            const auto s = InRange<std::uint16_t>(state, 0, UINT16_MAX, "system state");
            self.Sim([&](SimRobot& r) { r.SetSystemState(s); });
          },
          py::arg("state"))
      .def(
          "press_estop",
          [](const PyRobot& self, bool pressed) {
            self.Sim([&](SimRobot& r) { r.PressEstop(pressed); });
          },
          py::arg("pressed") = true, "Presses (True) or releases (False) the E-stop.")
      .def(
          "raise_fault",
          [](const PyRobot& self, bool critical, bool clearable) {
            self.Sim([&](SimRobot& r) { r.RaiseFault(critical, clearable); });
          },
          py::arg("critical") = false, py::arg("clearable") = true,
          "A minor (CAT 2) or critical (CAT 0) fault; `clearable` False keeps it active.")
      .def(
          "make_ready", [](const PyRobot& self) { self.Sim([](SimRobot& r) { r.MakeReady(); }); },
          "Skips servo-on: brakes released, safety NORMAL, no fault.")
      .def(
          "set_server_versions",
          [](const PyRobot& self, const std::string& vyr, const std::string& qel) {
            self.Sim([&](SimRobot& r) { r.SetServerVersions(vyr, qel); });
          },
          py::arg("vyr"), py::arg("qel"))
      .def(
          "set_joint_limits",
          [](const PyRobot& self, const std::vector<double>& q_min,
             const std::vector<double>& q_max, const std::vector<double>& dq_max,
             const std::vector<double>& tau_max) {
            self.CheckFullDof(q_min, "q_min");
            self.CheckFullDof(q_max, "q_max");
            self.CheckFullDof(dq_max, "dq_max");
            self.CheckFullDof(tau_max, "tau_max");
            self.Sim([&](SimRobot& r) { r.SetJointLimits(q_min, q_max, dq_max, tau_max); });
          },
          py::arg("q_min"), py::arg("q_max"), py::arg("dq_max"), py::arg("tau_max"),
          "Full-DoF limits that joint-limit requests report from now on.")
      .def(
          "set_joint_positions",
          [](const PyRobot& self, const std::vector<double>& q) {
            self.CheckFullDof(q, "q");
            self.Sim([&](SimRobot& r) { r.SetJointPositions(q); });
          },
          py::arg("q"), "Places the joints at rest at the full-DoF positions `q`.")
      .def(
          "set_multi_contact",
          [](const PyRobot& self, std::vector<std::array<double, 3>> forces,
             std::vector<std::array<double, 3>> positions) {
            self.Sim(
                [&](SimRobot& r) { r.SetMultiContact(std::move(forces), std::move(positions)); });
          },
          py::arg("forces"), py::arg("positions"),
          "Multi-contact forces [N] and positions [m] the basic stream data carry from now on, "
          "each a list of 3-sequences published as given (narrowed to float), of any length: "
          "fewer than the full DoF make the client find no values per joint group.")
      .def(
          "reset_multi_contact",
          [](const PyRobot& self) { self.Sim([](SimRobot& r) { r.ResetMultiContact(); }); },
          "Restores the default multi-contact values: zeros, one 3-vector per joint of the full "
          "DoF.")
      .def(
          "add_timeliness_failures",
          [](const PyRobot& self, long long count) {
            const auto n = InRange<std::uint64_t>(count, 0, INT64_MAX, "count");
            self.Sim([&](SimRobot& r) { r.AddTimelinessFailures(n); });
          },
          py::arg("count"))
      .def(
          "corrupt_primitive_states",
          [](const PyRobot& self, int count) {
            self.Sim([&](SimRobot& r) { r.CorruptPrimitiveStates(count); });
          },
          py::arg("count"), "The next `count` primitive-state replies carry an empty entry first.")
      .def(
          "emit_event",
          [](const PyRobot& self, int level, int id, const std::string& description,
             const std::string& consequences, const std::string& probable_causes,
             const std::string& recommended_actions) {
            const qel_msg::EventLog event{InRange<std::uint16_t>(level, 0, UINT16_MAX, "level"),
                                          id,
                                          description,
                                          consequences,
                                          probable_causes,
                                          recommended_actions};
            self.Sim([&](SimRobot& r) { r.EmitEvent(event); });
          },
          py::arg("level"), py::arg("id"), py::arg("description"), py::arg("consequences") = "",
          py::arg("probable_causes") = "", py::arg("recommended_actions") = "",
          "Publishes one event on the event log in the next cycle.")
      .def(
          "set_plans",
          [](const PyRobot& self, const std::vector<std::string>& plans) {
            self.Sim([&](SimRobot& r) { r.SetPlans(plans); });
          },
          py::arg("plans"))
      .def(
          "set_digital_inputs",
          [](const PyRobot& self, const std::array<bool, 20>& inputs) {
            self.Sim([&](SimRobot& r) { r.SetDigitalInputs(inputs); });
          },
          py::arg("inputs"), "Sets what the 20 digital input ports read.")
      .def(
          "set_enabling_device",
          [](const PyRobot& self, bool on) {
            self.Sim([&](SimRobot& r) { r.SetEnablingDevice(on); });
          },
          py::arg("on"), "Holds (True) or lets go of (False) the 3-position enabling device.")
      .def(
          "set_reply_rule",
          [](const PyRobot& self, const std::string& server, int op_code, const std::string& action,
             int delay_ms, int count) {
            const Server s = ServerFromName(server);
            const auto code = InRange<std::uint16_t>(op_code, 0, UINT16_MAX, "op_code");
            const ReplyRule rule{
                ActionFromName(action),
                std::chrono::milliseconds(InRange<int>(delay_ms, 0, INT32_MAX, "delay_ms")), count};
            self.Host([&](RobotHost& h) { h.SetReplyRule(s, code, rule); });
          },
          py::arg("server"), py::arg("op_code"), py::arg("action"), py::arg("delay_ms") = 0,
          py::arg("count") = -1,
          "What `server` ('vyr' or 'qel') does with the replies to `op_code`: 'normal', "
          "'refuse', 'drop' (carried out, never answered), 'delay' (by delay_ms), 'corrupt' or "
          "'wrong_op_code', for the next `count` requests (negative: until cleared).")
      .def("clear_reply_rules",
           [](const PyRobot& self) { self.Host([](RobotHost& h) { h.ClearReplyRules(); }); })
      .def(
          "pause_stream",
          [](const PyRobot& self, const std::string& stream, bool paused) {
            const Stream s = StreamFromName(stream);
            self.Host([&](RobotHost& h) { h.PauseStream(s, paused); });
          },
          py::arg("stream"), py::arg("paused") = true,
          "Pauses (or resumes) the 'states', 'basic' or 'extra' stream.");
}

void BindRobotReadBacks(py::class_<PyRobot>& cls) {
  cls.def_property_readonly(
         "mode",
         [](const PyRobot& self) {
           return static_cast<int>(self.Sim([](SimRobot& r) { return r.mode(); }));
         })
      .def_property_readonly(
          "q", [](const PyRobot& self) { return self.Sim([](SimRobot& r) { return r.q(); }); })
      .def_property_readonly(
          "dq", [](const PyRobot& self) { return self.Sim([](SimRobot& r) { return r.dq(); }); })
      .def_property_readonly("safety_state",
                             [](const PyRobot& self) {
                               return self.Sim([](SimRobot& r) { return r.safety_state(); });
                             })
      .def_property_readonly("system_state",
                             [](const PyRobot& self) {
                               return self.Sim([](SimRobot& r) { return r.system_state(); });
                             })
      .def_property_readonly(
          "busy",
          [](const PyRobot& self) { return self.Sim([](SimRobot& r) { return r.busy(); }); })
      .def_property_readonly("digital_outputs",
                             [](const PyRobot& self) {
                               return self.Sim([](SimRobot& r) { return r.digital_outputs(); });
                             })
      .def_property_readonly(
          "timeliness_failure_count",
          [](const PyRobot& self) {
            return self.Sim([](SimRobot& r) { return r.timeliness_failure_count(); });
          })
      .def_property_readonly("heartbeat_count",
                             [](const PyRobot& self) {
                               return self.Sim([](SimRobot& r) { return r.heartbeat_count(); });
                             })
      .def_property_readonly(
          "ignored_commands",
          [](const PyRobot& self) {
            return self.Sim([](SimRobot& r) { return r.ignored_commands(); });
          },
          "Motion commands ignored for a value that is not finite or sizes beyond the robot's "
          "limits.")
      .def_property_readonly(
          "refused_requests",
          [](const PyRobot& self) {
            return self.Sim([](SimRobot& r) { return r.refused_requests(); });
          },
          "Requests refused unserved for sizes beyond the robot's limits.")
      .def_property_readonly(
          "settings",
          [](const PyRobot& self) {
            py::dict d;
            for (const auto& [key, request] : self.Sim([](SimRobot& r) { return r.settings(); })) {
              d[py::make_tuple(key.first, key.second)] = RequestDict(request);
            }
            return d;
          },
          "The last accepted request of every setting operation, keyed by (op_code, group).")
      .def(
          "global_variable",
          [](const PyRobot& self, const std::string& name) {
            return self.Sim([&](SimRobot& r) { return r.global_variable(name); });
          },
          py::arg("name"), "The value text of a global variable, or None.")
      .def(
          "vyr_requests",
          [](const PyRobot& self) {
            return Records(self.Host([](RobotHost& h) { return h.vyr_requests(); }), &RequestDict);
          },
          "The VYR requests received (the newest, within 64 MiB), oldest first, as dicts with the "
          "arrival 'time'.")
      .def(
          "qel_requests",
          [](const PyRobot& self) {
            return Records(self.Host([](RobotHost& h) { return h.qel_requests(); }), &RequestDict);
          },
          "The QEL requests received (the newest, within 4 MiB), oldest first, as dicts with the "
          "arrival 'time'.")
      .def(
          "commands",
          [](const PyRobot& self) {
            return Records(self.Host([](RobotHost& h) { return h.commands(); }), &CommandsDict);
          },
          "The motion commands received (the newest, within 32 MiB: about two minutes at 1 kHz), "
          "oldest first, as dicts with the arrival 'time'.")
      .def(
          "records_dropped",
          [](const PyRobot& self) {
            const auto dropped = self.Host([](RobotHost& h) { return h.records_dropped(); });
            py::dict d;
            d["vyr_requests"] = dropped.vyr_requests;
            d["qel_requests"] = dropped.qel_requests;
            d["commands"] = dropped.commands;
            return d;
          },
          "How many of the oldest records went to keep the newest within their budgets, per "
          "kind, since the last clear.")
      .def(
          "clear_records",
          [](const PyRobot& self) { self.Host([](RobotHost& h) { h.ClearRecords(); }); },
          "Forgets the requests and commands received so far.");
}

void BindRobotDevices(py::class_<PyRobot>& cls) {
  cls.def(
         "set_device_params",
         [](const PyRobot& self, const std::string& name, const py::dict& params) {
           auto converted = ParamsFromPython(params);
           self.Sim([&](SimRobot& r) { r.SetDeviceParams(name, std::move(converted)); });
         },
         py::arg("name"), py::arg("params"),
         "Replaces what device `name` reports as its parameters: {name: value} with an int or "
         "bool (one int), float (one float), str (one string), list of ints (several ints), list "
         "of numbers (floats), list of strs (strings), [] (a reply with every container empty) or "
         "None (the request is refused). A gripper's physical ranges stay as they are. ValueError "
         "for an unknown device, TypeError for another value.")
      .def(
          "set_object_width",
          [](const PyRobot& self, const std::string& name, std::optional<double> width) {
            self.Sim([&](SimRobot& r) { r.SetObjectWidth(name, width); });
          },
          py::arg("name"), py::arg("width") = py::none(),
          "Places an object `width` metres wide between the fingers of gripper `name`, or takes "
          "it away (None). ValueError for an unknown gripper or a negative width.")
      .def(
          "set_device_connected",
          [](const PyRobot& self, const std::string& name, bool connected) {
            self.Sim([&](SimRobot& r) { r.SetDeviceConnected(name, connected); });
          },
          py::arg("name"), py::arg("connected") = true,
          "Connects or disconnects device `name`; a disconnected device refuses commands.")
      .def(
          "add_device",
          [](const PyRobot& self, const std::string& name, const py::dict& params) {
            auto converted = ParamsFromPython(params);
            self.Sim([&](SimRobot& r) { r.AddDevice(name, std::move(converted)); });
          },
          py::arg("name"), py::arg("params") = py::dict(),
          "Adds a device that accepts every well-formed command, reporting `params` (as for "
          "set_device_params). ValueError for a name that is taken, empty or too long.")
      .def_property_readonly(
          "devices",
          [](const PyRobot& self) { return self.Sim([](SimRobot& r) { return r.devices(); }); },
          "The device names in the order the robot lists them.")
      .def(
          "device_enabled",
          [](const PyRobot& self, const std::string& name) {
            return self.Sim([&](SimRobot& r) { return r.device_enabled(name); });
          },
          py::arg("name"))
      .def(
          "device_connected",
          [](const PyRobot& self, const std::string& name) {
            return self.Sim([&](SimRobot& r) { return r.device_connected(name); });
          },
          py::arg("name"))
      .def_property_readonly(
          "gripper_map",
          [](const PyRobot& self) {
            py::dict d;
            for (const auto& [group, name] :
                 self.Sim([](SimRobot& r) { return r.gripper_map(); })) {
              d[py::int_(group)] = name;
            }
            return d;
          },
          "{group: gripper name} of the enabled-gripper map the robot was last sent.")
      .def(
          "gripper_state",
          [](const PyRobot& self, const std::string& name) {
            const auto s = self.Sim([&](SimRobot& r) { return r.gripper_state(name); });
            py::dict d;
            d["width"] = s.width;
            d["force"] = s.force;
            d["is_moving"] = s.is_moving;
            d["initialized"] = s.initialized;
            return d;
          },
          py::arg("name"),
          "{'width', 'force', 'is_moving', 'initialized'} of gripper `name`'s fingers.")
      .def(
          "device_commands",
          [](const PyRobot& self, const std::string& name) {
            py::list list;
            for (const auto& commands :
                 self.Sim([&](SimRobot& r) { return r.device_commands(name); })) {
              list.append(DeviceCommandsDict(commands));
            }
            return list;
          },
          py::arg("name"),
          "The command lists device `name` accepted, oldest first, each as {command: value} "
          "with a bool, int or float value by the command's type.");
}

py::dict ToolParamsDict(const ToolParams& p) {
  py::dict d;
  d["mass"] = p.mass;
  d["CoM"] = p.CoM;
  d["inertia"] = p.inertia;
  d["tcp_location"] = p.tcp_location;
  return d;
}

void BindRobotTools(py::class_<PyRobot>& cls) {
  cls.def(
         "set_payload",
         [](const PyRobot& self, double mass, const std::array<double, 3>& CoM,
            const std::array<double, 6>& inertia) {
           self.Sim([&](SimRobot& r) { r.SetPayload(mass, CoM, inertia); });
         },
         py::arg("mass"), py::arg("CoM"), py::arg("inertia"),
         "What a payload calibration with the tool mounted identifies: mass [kg], CoM (3 values) "
         "and inertia (6 values). ValueError for a non-finite value or a negative mass.")
      .def(
          "set_calibration_duration",
          [](const PyRobot& self, double seconds) {
            self.Sim([&](SimRobot& r) { r.SetCalibrationDuration(seconds); });
          },
          py::arg("seconds"),
          "How long a payload calibration plan keeps the robot busy (3 s at start). ValueError for "
          "a negative or non-finite time.")
      .def(
          "set_work_coord_values",
          [](const PyRobot& self, const std::string& name, const std::vector<double>& values) {
            self.Sim([&](SimRobot& r) { r.SetWorkCoordValues(name, values); });
          },
          py::arg("name"), py::arg("values"),
          "Stores `values` (any length, narrowed to 32-bit floats) under work coordinate `name`, "
          "adding or replacing it without the checks a request passes.")
      .def_property_readonly(
          "tools",
          [](const PyRobot& self) {
            py::dict d;
            for (const auto& [name, params] : self.Sim([](SimRobot& r) { return r.tools(); })) {
              d[py::str(name)] = ToolParamsDict(params);
            }
            return d;
          },
          "{name: {'mass', 'CoM', 'inertia', 'tcp_location'}} of the tool table, in the order the "
          "robot lists it ('Flange' first).")
      .def_property_readonly(
          "active_tools",
          [](const PyRobot& self) {
            py::dict d;
            for (const auto& [group, name] :
                 self.Sim([](SimRobot& r) { return r.active_tools(); })) {
              d[py::int_(group)] = name;
            }
            return d;
          },
          "{single-arm group: name of its active tool}.")
      .def_property_readonly(
          "work_coords",
          [](const PyRobot& self) {
            py::dict d;
            for (const auto& [name, values] :
                 self.Sim([](SimRobot& r) { return r.work_coords(); })) {
              d[py::str(name)] = std::vector<double>(values.begin(), values.end());
            }
            return d;
          },
          "{name: stored values} of the work coordinates, in the order they were added.")
      .def_property_readonly(
          "payload_result",
          [](const PyRobot& self) -> py::object {
            const auto result = self.Sim([](SimRobot& r) { return r.payload_result(); });
            if (!result) return py::none();
            py::dict d;
            d["mass"] = result->mass;
            d["CoM"] = result->CoM;
            d["inertia"] = result->inertia;
            return d;
          },
          "{'mass', 'CoM', 'inertia'} of the last completed payload calibration, or None.");
}

// ---- safety settings and torque-sensor calibration ----------------------------------------------

Interruption InterruptionFromName(const std::string& name) {
  return FromName<Interruption>({{"fault", Interruption::kFault}, {"estop", Interruption::kEstop}},
                                name, "interruption");
}

py::dict GroupMap(const std::map<vyr::JointGroup, std::vector<double>>& limits) {
  py::dict d;
  for (const auto& [group, values] : limits) d[py::int_(static_cast<int>(group))] = values;
  return d;
}

void BindRobotSafety(py::class_<PyRobot>& cls) {
  cls.def(
         "set_safety_inputs",
         [](const PyRobot& self, const std::array<bool, 8>& inputs) {
           self.Sim([&](SimRobot& r) { r.SetSafetyInputs(inputs); });
         },
         py::arg("inputs"), "Sets what the 8 safety input ports read (all high at start).")
      .def(
          "reboot", [](const PyRobot& self) { self.Sim([](SimRobot& r) { r.Reboot(); }); },
          "Applies every pending safety limit (joint limits report them from now on), forgets "
          "them and returns to IDLE. The robot stays hosted and connected; a client reconnects to "
          "read the new limits.")
      .def(
          "enable_physics",
          [](const PyRobot& self, bool on) { self.Sim([&](SimRobot& r) { r.EnablePhysics(on); }); },
          py::arg("on") = true,
          "With physics on, the joints move as the robot's dynamics under each control mode's "
          "controller make them: streamed torques drive the links (with gravity and friction "
          "compensation as the command asks), impedance modes track with the joint impedance "
          "set, and the other modes track the motion generator's trajectory. Off (the default), "
          "the joints follow their commands kinematically.")
      .def(
          "apply_wrench",
          [](const PyRobot& self, const std::string& link, const std::array<double, 6>& wrench,
             double seconds) {
            self.Sim([&](SimRobot& r) { r.ApplyWrench(link, wrench, seconds); });
          },
          py::arg("link"), py::arg("wrench"), py::arg("seconds"),
          "With physics on: a wrench (force [N] then torque [Nm], world axes) on the origin of "
          "link `link` for `seconds`, added to any other. ValueError for an unknown link, a "
          "value that is not finite or a time that is negative or beyond a day.")
      .def(
          "set_contact_plane",
          [](const PyRobot& self, std::optional<std::array<double, 3>> point,
             const std::array<double, 3>& normal, double stiffness, double damping) {
            std::optional<ContactPlane> plane;
            if (point) {
              plane = ContactPlane{{(*point)[0], (*point)[1], (*point)[2]},
                                   {normal[0], normal[1], normal[2]},
                                   stiffness,
                                   damping};
            }
            self.Sim([&](SimRobot& r) { r.SetContactPlane(plane); });
          },
          py::arg("point"), py::arg("normal") = std::array<double, 3>{0.0, 0.0, 1.0},
          py::arg("stiffness") = 1e4, py::arg("damping") = 100.0,
          "With physics on: a plane through `point` with outward `normal` that the TCPs touch, "
          "a spring of `stiffness` [N/m] and damper of `damping` [N s/m] along the normal; "
          "`point` None removes it.")
      .def(
          "set_contact_box",
          [](const PyRobot& self, std::optional<std::array<double, 3>> center,
             const std::array<double, 3>& half_extents, double stiffness, double damping) {
            std::optional<ContactBox> box;
            if (center) {
              box = ContactBox{{(*center)[0], (*center)[1], (*center)[2]},
                               {half_extents[0], half_extents[1], half_extents[2]},
                               stiffness,
                               damping};
            }
            self.Sim([&](SimRobot& r) { r.SetContactBox(box); });
          },
          py::arg("center"), py::arg("half_extents") = std::array<double, 3>{0.1, 0.1, 0.1},
          py::arg("stiffness") = 1e4, py::arg("damping") = 100.0,
          "With physics on: a solid box with faces along the world axes, centred at `center` "
          "with half sizes `half_extents` [m], that the TCPs touch with a spring of `stiffness` "
          "[N/m] and a damper of `damping` [N s/m] along the face's normal; `center` None "
          "removes it.")
      .def_property_readonly(
          "contact_forces",
          [](const PyRobot& self) {
            return self.Sim([](SimRobot& r) { return r.contact_forces(); });
          },
          "The force the contact plane and box exert on each arm's TCP, by group, world axes.")
      .def(
          "recover", [](const PyRobot& self) { self.Sim([](SimRobot& r) { r.Recover(); }); },
          "Leaves the recovery state a joint position limit put the robot in, as the robot's "
          "programming environment does: joints at or beyond a limit move half a degree back "
          "inside, safety NORMAL. Nothing happens outside the recovery state.")
      .def(
          "stall_motion",
          [](const PyRobot& self, bool stalled) {
            self.Sim([&](SimRobot& r) { r.StallMotion(stalled); });
          },
          py::arg("stalled") = true,
          "While stalled, discrete targets (primitives such as MoveJ and Home, plans, "
          "non-real-time joint commands) are not approached: the joints hold still.")
      .def(
          "set_torque_calibration_time_scale",
          [](const PyRobot& self, double scale) {
            self.Sim([&](SimRobot& r) { r.SetTorqueCalibrationTimeScale(scale); });
          },
          py::arg("scale"),
          "How many times its waitTime a torque-sensor calibration primitive runs (1.0 at start; "
          "0 ends it at the next cycle). ValueError for a negative or non-finite scale or one "
          "above 1000.")
      .def(
          "interrupt_next_primitive",
          [](const PyRobot& self, const std::string& name, double after_s,
             const std::string& kind) {
            const Interruption k = InterruptionFromName(kind);
            self.Sim([&](SimRobot& r) { r.InterruptNextPrimitive(name, after_s, k); });
          },
          py::arg("name"), py::arg("after_s"), py::arg("kind"),
          "Armed once: `after_s` seconds after the next primitive `name` starts, the simulator "
          "raises a minor, clearable fault (kind 'fault') or presses the E-stop ('estop'), even "
          "while a client call blocks. Replaces an interruption armed before. ValueError for "
          "another kind or a negative or non-finite time.")
      .def_property_readonly(
          "pending_safety_limits",
          [](const PyRobot& self) {
            const auto limits = self.Sim([](SimRobot& r) { return r.pending_safety_limits(); });
            py::dict d;
            d["q_min"] = GroupMap(limits.q_min);
            d["q_max"] = GroupMap(limits.q_max);
            d["dq_max_normal"] = GroupMap(limits.dq_max_normal);
            d["dq_max_reduced"] = GroupMap(limits.dq_max_reduced);
            return d;
          },
          "Safety limits accepted and waiting for a reboot: {'q_min', 'q_max', 'dq_max_normal', "
          "'dq_max_reduced'}, each {group: [values]} with the groups that have some pending.")
      .def_property_readonly(
          "torque_regulator",
          [](const PyRobot& self) {
            const auto regulator = self.Sim([](SimRobot& r) { return r.torque_regulator(); });
            return py::make_tuple(regulator.limiting_factor, regulator.error_threshold);
          },
          "(limiting_factor, error_threshold) of the joint output torque regulator; (1.3, 50) at "
          "start.")
      .def_property_readonly(
          "torque_calibrations_saved",
          [](const PyRobot& self) {
            return self.Sim([](SimRobot& r) { return r.torque_calibrations_saved(); });
          },
          "How many torque-sensor calibrations the robot saved.")
      .def_property_readonly(
          "reduced_velocity_limits",
          [](const PyRobot& self) {
            return self.Sim([](SimRobot& r) { return r.reduced_velocity_limits(); });
          },
          "The full-DoF joint velocity limits of the reduced safety state.");
}

// ---- files
// ---------------------------------------------------------------------------------------

std::vector<std::uint8_t> BytesOf(const py::bytes& content) {
  const std::string_view view(content);
  return {view.begin(), view.end()};
}

py::dict FilesDict(const std::map<std::string, std::vector<std::uint8_t>>& files) {
  py::dict d;
  for (const auto& [name, bytes] : files) {
    d[py::str(name)] = py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  return d;
}

FileKind KindFromName(const std::string& kind) {
  if (kind == "traj") return FileKind::kTraj;
  if (kind == "project") return FileKind::kProject;
  if (kind == "mesh") return FileKind::kMesh;
  throw py::value_error("A file kind is 'traj', 'project' or 'mesh', not '" + kind + "'");
}

void BindRobotFiles(py::class_<PyRobot>& cls) {
  cls.def(
         "set_traj_file",
         [](const PyRobot& self, const std::string& name, const py::bytes& content) {
           auto bytes = BytesOf(content);
           self.Sim([&](SimRobot& r) { r.SetTrajFile(name, std::move(bytes)); });
         },
         py::arg("name"), py::arg("content"),
         "Stores or replaces trajectory file `name` as given, without the checks an upload passes.")
      .def(
          "set_project_file",
          [](const PyRobot& self, const std::string& name, const py::bytes& content) {
            auto bytes = BytesOf(content);
            self.Sim([&](SimRobot& r) { r.SetProjectFile(name, std::move(bytes)); });
          },
          py::arg("name"), py::arg("content"),
          "Stores or replaces project file `name` (with its extension, e.g. 'P.proj') as given; a "
          "project is listed once its '.proj' and '.plan' files are both stored.")
      .def(
          "set_mesh_file",
          [](const PyRobot& self, const std::string& path, const py::bytes& content) {
            auto bytes = BytesOf(content);
            self.Sim([&](SimRobot& r) { r.SetMeshFile(path, std::move(bytes)); });
          },
          py::arg("path"), py::arg("content"),
          "Stores or replaces the collision mesh under `path` (without 'package://').")
      .def(
          "remove_file",
          [](const PyRobot& self, const std::string& kind, const std::string& name) {
            const FileKind k = KindFromName(kind);
            self.Sim([&](SimRobot& r) { r.RemoveFile(k, name); });
          },
          py::arg("kind"), py::arg("name"),
          "Removes a file of `kind` ('traj', 'project' or 'mesh'); ValueError for another kind or "
          "a file the robot does not hold.")
      .def(
          "serve_urdf",
          [](const PyRobot& self, std::optional<std::string> text) {
            self.Sim([&](SimRobot& r) { r.ServeUrdf(std::move(text)); });
          },
          py::arg("text"),
          "The URDF text operation 5 hands out from now on (any text); None restores the model's.")
      .def(
          "corrupt_next_reply",
          [](const PyRobot& self, const std::string& what) {
            DownloadFault fault;
            if (what == "crc") {
              fault = DownloadFault::kCrc;
            } else if (what == "name") {
              fault = DownloadFault::kName;
            } else {
              throw py::value_error("corrupt_next_reply takes 'crc' or 'name', not '" + what + "'");
            }
            self.Sim([&](SimRobot& r) { r.CorruptNextDownload(fault); });
          },
          py::arg("what"),
          "The next download reply the robot grants (operations 62, 65, 66, 5) carries a wrong "
          "CRC ('crc') or echoes another file name ('name').")
      .def_property_readonly(
          "traj_files",
          [](const PyRobot& self) {
            return FilesDict(self.Sim([](SimRobot& r) { return r.traj_files(); }));
          },
          "{name: bytes} of the trajectory files.")
      .def_property_readonly(
          "project_files",
          [](const PyRobot& self) {
            return FilesDict(self.Sim([](SimRobot& r) { return r.project_files(); }));
          },
          "{name with extension: bytes} of the project files.")
      .def_property_readonly(
          "mesh_files",
          [](const PyRobot& self) {
            return FilesDict(self.Sim([](SimRobot& r) { return r.mesh_files(); }));
          },
          "{path without 'package://': bytes} of the collision meshes.");
}

void BindRobotModel(py::class_<PyRobot>& cls) {
  cls.def_property_readonly("serial", &PyRobot::serial)
      .def_property_readonly("product_name",
                             [](const PyRobot& self) { return self.model().product_name(); })
      .def_property_readonly("ext_axes",
                             [](const PyRobot& self) { return self.model().ext_axes(); })
      .def_property_readonly("full_dof",
                             [](const PyRobot& self) { return self.model().full_dof(); })
      .def_property_readonly(
          "groups",
          [](const PyRobot& self) {
            py::dict d;
            for (const auto& [group, layout] : self.model().groups()) {
              d[py::int_(static_cast<int>(group))] = py::make_tuple(layout.first, layout.second);
            }
            return d;
          },
          "{group: (start ID, DoF)} of every joint group the robot has.")
      .def_property_readonly(
          "joints",
          [](const PyRobot& self) {
            py::list list;
            for (const auto& j : self.model().joints()) {
              py::dict d;
              d["name"] = j.name;
              d["q_min"] = j.q_min;
              d["q_max"] = j.q_max;
              d["dq_max"] = j.dq_max;
              d["ddq_max"] = j.ddq_max;
              d["tau_max"] = j.tau_max;
              d["home"] = j.home;
              d["prismatic"] = j.prismatic;
              list.append(d);
            }
            return list;
          },
          "The movable joints in full-DoF order with their model limits and home position.")
      .def_property_readonly("urdf", [](const PyRobot& self) { return self.model().urdf(); })
      .def("__repr__", [](const PyRobot& self) {
        return "<korvosim.Robot " + self.model().product_name() + " [" + self.serial() + "]>";
      });
}

void RegisterModule(py::module_& m) {
  m.doc() = "korvo-sim: simulated Korvo robots over zenoh, with test controls and read-backs";
  py::register_local_exception<zenoh::ZException>(m, "ZException", PyExc_RuntimeError);

  BindLoopback(m);
  // Robot is registered before Simulator so that Simulator's signatures name it korvosim.Robot.
  py::class_<PyRobot> robot(m, "Robot",
                            "A robot hosted by a Simulator, by serial number. Its calls raise "
                            "KeyError once it is removed and RuntimeError once the simulator "
                            "is closed.");
  BindSimulator(m);
  BindRobotModel(robot);
  BindRobotControls(robot);
  BindRobotReadBacks(robot);
  BindRobotDevices(robot);
  BindRobotTools(robot);
  BindRobotSafety(robot);
  BindRobotFiles(robot);

  m.def("close_all", &CloseAll, "Closes every simulator of this module that is still open.");
  py::module_::import("atexit").attr("register")(m.attr("close_all"));
}

}  // namespace
}  // namespace korvo::sim::python

PYBIND11_MODULE(korvosim, m) { korvo::sim::python::RegisterModule(m); }
