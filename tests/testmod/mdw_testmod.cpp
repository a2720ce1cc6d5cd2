// korvo_mdw_test: the middleware templates and the message records, bound for pytest only, so that
// interop tests can run them against upstream zenoh for Python in the same process.
//
// Every blocking call (a remote call, closing, undeclaring) releases the GIL, so that upstream
// zenoh's Python callbacks can run meanwhile. Sessions still open when the interpreter exits are
// closed by an atexit hook, before zenoh's runtime goes away.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "middleware/publisher.hpp"
#include "middleware/rpc_client.hpp"
#include "middleware/serialization.hpp"
#include "middleware/subscriber.hpp"
#include "middleware/zenoh.hpp"
#include "msgs/qel_msg.hpp"
#include "msgs/std_msg.hpp"
#include "msgs/vyr_msg.hpp"

namespace korvo::mdw_test {
namespace {

namespace py = pybind11;
namespace vyr = zenoh_msgs::vyr_msg;
namespace qel = zenoh_msgs::qel_msg;
namespace stdm = zenoh_msgs::std_msg;

// ---- message records -------------------------------------------------------------------------

py::bytes ToBytes(const std::vector<std::uint8_t>& b) {
  return py::bytes(reinterpret_cast<const char*>(b.data()), b.size());
}

// A message record: read-write fields, `encode()` to its payload and `decode(bytes)` from one
// (raises ZException with our failure text when the payload does not decode whole). Sequence and
// array fields convert to and from Python lists by value: assign a whole list to change one.
template <typename M>
py::class_<M> Message(py::module_& scope, const char* name) {
  py::class_<M> cls(scope, name);
  cls.def(py::init<>());
  cls.def("encode", [](const M& m) { return ToBytes(zenoh_mdw::Encode(m)); });
  cls.def_static("decode", [](const py::bytes& payload) {
    const std::string_view view = payload;
    return zenoh_mdw::Decode<M>(
        std::span(reinterpret_cast<const std::uint8_t*>(view.data()), view.size()));
  });
  return cls;
}

// A record that travels only inside a message.
template <typename M>
py::class_<M> Record(py::module_& scope, const char* name) {
  py::class_<M> cls(scope, name);
  cls.def(py::init<>());
  return cls;
}

#define KORVO_FIELD(T, f) def_readwrite(#f, &T::f)

void BindVyr(py::module_& m) {
  Record<vyr::ToolInfo>(m, "ToolInfo")
      .KORVO_FIELD(vyr::ToolInfo, name)
      .KORVO_FIELD(vyr::ToolInfo, mass)
      .KORVO_FIELD(vyr::ToolInfo, CoM)
      .KORVO_FIELD(vyr::ToolInfo, inertia)
      .KORVO_FIELD(vyr::ToolInfo, tcp_location);
  Message<vyr::RPCRequest>(m, "RPCRequest")
      .KORVO_FIELD(vyr::RPCRequest, op_code)
      .KORVO_FIELD(vyr::RPCRequest, joint_groups)
      .KORVO_FIELD(vyr::RPCRequest, bool_container)
      .KORVO_FIELD(vyr::RPCRequest, int_container)
      .KORVO_FIELD(vyr::RPCRequest, float_container)
      .KORVO_FIELD(vyr::RPCRequest, string_container)
      .KORVO_FIELD(vyr::RPCRequest, byte_container)
      .KORVO_FIELD(vyr::RPCRequest, float2d_container)
      .KORVO_FIELD(vyr::RPCRequest, tool);
  Message<vyr::RPCReply>(m, "RPCReply")
      .KORVO_FIELD(vyr::RPCReply, op_code)
      .KORVO_FIELD(vyr::RPCReply, success)
      .KORVO_FIELD(vyr::RPCReply, joint_groups)
      .KORVO_FIELD(vyr::RPCReply, bool_container)
      .KORVO_FIELD(vyr::RPCReply, int_container)
      .KORVO_FIELD(vyr::RPCReply, float_container)
      .KORVO_FIELD(vyr::RPCReply, string_container)
      .KORVO_FIELD(vyr::RPCReply, byte_container)
      .KORVO_FIELD(vyr::RPCReply, float2d_container)
      .KORVO_FIELD(vyr::RPCReply, tool);
  Record<vyr::GripperStateEntry>(m, "GripperStateEntry")
      .KORVO_FIELD(vyr::GripperStateEntry, width)
      .KORVO_FIELD(vyr::GripperStateEntry, force)
      .KORVO_FIELD(vyr::GripperStateEntry, is_moving);
  Message<vyr::RealtimeStates>(m, "RealtimeStates")
      .KORVO_FIELD(vyr::RealtimeStates, busy)
      .KORVO_FIELD(vyr::RealtimeStates, timeliness_failure_count)
      .KORVO_FIELD(vyr::RealtimeStates, mode)
      .KORVO_FIELD(vyr::RealtimeStates, gripper_states);
  Record<vyr::JointCommand>(m, "JointCommand")
      .KORVO_FIELD(vyr::JointCommand, tau_d)
      .KORVO_FIELD(vyr::JointCommand, q_d)
      .KORVO_FIELD(vyr::JointCommand, dq_d)
      .KORVO_FIELD(vyr::JointCommand, ddq_d)
      .KORVO_FIELD(vyr::JointCommand, dq_max)
      .KORVO_FIELD(vyr::JointCommand, ddq_max)
      .KORVO_FIELD(vyr::JointCommand, friction_comp_scale)
      .KORVO_FIELD(vyr::JointCommand, disable_gravity_comp)
      .KORVO_FIELD(vyr::JointCommand, disable_soft_limits);
  Record<vyr::CartesianCommand>(m, "CartesianCommand")
      .KORVO_FIELD(vyr::CartesianCommand, pose_d)
      .KORVO_FIELD(vyr::CartesianCommand, wrench_d)
      .KORVO_FIELD(vyr::CartesianCommand, twist_d)
      .KORVO_FIELD(vyr::CartesianCommand, acc_d)
      .KORVO_FIELD(vyr::CartesianCommand, max_linear_vel)
      .KORVO_FIELD(vyr::CartesianCommand, max_angular_vel)
      .KORVO_FIELD(vyr::CartesianCommand, max_linear_acc)
      .KORVO_FIELD(vyr::CartesianCommand, max_angular_acc);
  Message<vyr::MotionCommands>(m, "MotionCommands")
      .KORVO_FIELD(vyr::MotionCommands, stamp)
      .KORVO_FIELD(vyr::MotionCommands, joint_groups)
      .KORVO_FIELD(vyr::MotionCommands, joint_commands)
      .KORVO_FIELD(vyr::MotionCommands, cartesian_commands)
      .KORVO_FIELD(vyr::MotionCommands, waypoint_commands);
}

void BindQel(py::module_& m) {
  Message<qel::RPCRequest>(m, "RPCRequest")
      .KORVO_FIELD(qel::RPCRequest, op_code)
      .KORVO_FIELD(qel::RPCRequest, joint_groups);
  Message<qel::RPCReply>(m, "RPCReply")
      .KORVO_FIELD(qel::RPCReply, op_code)
      .KORVO_FIELD(qel::RPCReply, success)
      .KORVO_FIELD(qel::RPCReply, joint_groups)
      .KORVO_FIELD(qel::RPCReply, int_container)
      .KORVO_FIELD(qel::RPCReply, string_container)
      .KORVO_FIELD(qel::RPCReply, float_container)
      .KORVO_FIELD(qel::RPCReply, float2d_container);
  Record<qel::FtSensorData>(m, "FtSensorData").KORVO_FIELD(qel::FtSensorData, raw);
  Record<qel::CartesianData>(m, "CartesianData")
      .KORVO_FIELD(qel::CartesianData, flange_pose)
      .KORVO_FIELD(qel::CartesianData, tcp_pose)
      .KORVO_FIELD(qel::CartesianData, tcp_twist)
      .KORVO_FIELD(qel::CartesianData, tcp_wrench_local)
      .KORVO_FIELD(qel::CartesianData, reserved_wrench)
      .KORVO_FIELD(qel::CartesianData, raw_tcp_wrench_local)
      .KORVO_FIELD(qel::CartesianData, ft_sensor);
  Message<qel::AllBasicStreamData>(m, "AllBasicStreamData")
      .KORVO_FIELD(qel::AllBasicStreamData, system_state)
      .KORVO_FIELD(qel::AllBasicStreamData, safety_state)
      .KORVO_FIELD(qel::AllBasicStreamData, estop_released)
      .KORVO_FIELD(qel::AllBasicStreamData, enabling_device_on)
      .KORVO_FIELD(qel::AllBasicStreamData, safety_inputs)
      .KORVO_FIELD(qel::AllBasicStreamData, digital_inputs)
      .KORVO_FIELD(qel::AllBasicStreamData, digital_outputs)
      .KORVO_FIELD(qel::AllBasicStreamData, joint_groups)
      .KORVO_FIELD(qel::AllBasicStreamData, q)
      .KORVO_FIELD(qel::AllBasicStreamData, theta)
      .KORVO_FIELD(qel::AllBasicStreamData, dq)
      .KORVO_FIELD(qel::AllBasicStreamData, dtheta)
      .KORVO_FIELD(qel::AllBasicStreamData, tau)
      .KORVO_FIELD(qel::AllBasicStreamData, tau_dot)
      .KORVO_FIELD(qel::AllBasicStreamData, tau_ext)
      .KORVO_FIELD(qel::AllBasicStreamData, tau_interact)
      .KORVO_FIELD(qel::AllBasicStreamData, temperature)
      .KORVO_FIELD(qel::AllBasicStreamData, multi_contact_forces)
      .KORVO_FIELD(qel::AllBasicStreamData, multi_contact_positions)
      .KORVO_FIELD(qel::AllBasicStreamData, cartesian_data)
      .KORVO_FIELD(qel::AllBasicStreamData, timestamp_sec)
      .KORVO_FIELD(qel::AllBasicStreamData, timestamp_nanosec);
  Record<qel::DesiredCartesianData>(m, "DesiredCartesianData")
      .KORVO_FIELD(qel::DesiredCartesianData, tcp_pose_d)
      .KORVO_FIELD(qel::DesiredCartesianData, tcp_twist_d)
      .KORVO_FIELD(qel::DesiredCartesianData, tcp_wrench_d);
  Message<qel::AllExtraStreamData>(m, "AllExtraStreamData")
      .KORVO_FIELD(qel::AllExtraStreamData, joint_groups)
      .KORVO_FIELD(qel::AllExtraStreamData, q_d)
      .KORVO_FIELD(qel::AllExtraStreamData, dq_d)
      .KORVO_FIELD(qel::AllExtraStreamData, tau_d)
      .KORVO_FIELD(qel::AllExtraStreamData, cartesian_data);
  Message<qel::EventLog>(m, "EventLog")
      .KORVO_FIELD(qel::EventLog, level)
      .KORVO_FIELD(qel::EventLog, id)
      .KORVO_FIELD(qel::EventLog, description)
      .KORVO_FIELD(qel::EventLog, consequences)
      .KORVO_FIELD(qel::EventLog, probable_causes)
      .KORVO_FIELD(qel::EventLog, recommended_actions);
}

void BindStd(py::module_& m) { Message<stdm::Bool>(m, "Bool").KORVO_FIELD(stdm::Bool, data); }

#undef KORVO_FIELD

// ---- session and middleware entities ---------------------------------------------------------

// Every session this module opened, for the atexit hook.
std::mutex& OpenedMutex() {
  static std::mutex mutex;
  return mutex;
}
std::vector<std::weak_ptr<zenoh::Session>>& Opened() {
  static std::vector<std::weak_ptr<zenoh::Session>> opened;
  return opened;
}

void CloseAllSessions() {
  std::vector<std::shared_ptr<zenoh::Session>> alive;
  {
    std::lock_guard lock(OpenedMutex());
    for (auto& weak : Opened()) {
      if (auto session = weak.lock()) alive.push_back(std::move(session));
    }
    Opened().clear();
  }
  py::gil_scoped_release release;
  for (auto& session : alive) {
    try {
      session->close();
    } catch (const zenoh::ZException&) {
      // Already closed.
    }
  }
}

std::runtime_error Closed(const char* what) {
  return std::runtime_error(std::string(what) + " is closed");
}

// A session opened from a JSON5 configuration text.
class Session {
 public:
  explicit Session(const std::string& config_json5) {
    auto config = zenoh::Config::from_str(config_json5);
    py::gil_scoped_release release;
    session_ = std::make_shared<zenoh::Session>(std::move(config));
    std::lock_guard lock(OpenedMutex());
    Opened().push_back(session_);
  }

  const std::shared_ptr<zenoh::Session>& get() const {
    if (!session_) throw Closed("Session");
    return session_;
  }

  // Closes the session even while RPC clients still hold it; their calls then fail.
  void close() {
    if (!session_) return;
    auto session = std::move(session_);
    py::gil_scoped_release release;
    session->close();
  }

 private:
  std::shared_ptr<zenoh::Session> session_;
};

template <typename M>
class Publisher {
 public:
  Publisher(const Session& session, const std::string& topic, int congestion_control, int priority,
            int reliability) {
    zenoh::PublisherOptions options;
    options.congestion_control = static_cast<zenoh::CongestionControl>(congestion_control);
    options.priority = static_cast<zenoh::Priority>(priority);
    options.reliability = static_cast<zenoh::Reliability>(reliability);
    options.is_express = false;
    publisher_.emplace(session.get(), topic, std::move(options));
  }

  bool publish(const M& message) const {
    if (!publisher_) throw Closed("Publisher");
    py::gil_scoped_release release;
    return publisher_->Publish(message);
  }

  void close() {
    py::gil_scoped_release release;
    publisher_.reset();
  }

 private:
  std::optional<zenoh_mdw::Publisher<M>> publisher_;
};

template <typename Request, typename Reply>
class RpcClient {
 public:
  RpcClient(const Session& session, const std::string& topic)
      : client_(std::make_shared<zenoh_mdw::RpcClient<Request, Reply>>(session.get(), topic)) {}

  // The decoded reply, or None when no good reply came.
  std::optional<Reply> call(const Request& request, double timeout) const {
    if (!client_) throw Closed("RpcClient");
    const Request copy = request;
    Reply reply;
    bool received = false;
    {
      py::gil_scoped_release release;
      received = client_->SendRequestAndGetReply(copy, reply, timeout);
    }
    if (!received) return std::nullopt;
    return reply;
  }

  // Releases the client's hold on the session (closing it when it is the last holder).
  void close() {
    py::gil_scoped_release release;
    client_.reset();
  }

 private:
  std::shared_ptr<zenoh_mdw::RpcClient<Request, Reply>> client_;
};

// Keeps every record that the subscriber hands on, in order of arrival.
template <typename M>
class Subscriber {
 public:
  Subscriber(const Session& session, const std::string& topic) {
    subscriber_.emplace(
        session.get(),
        [this] {
          std::lock_guard lock(mutex_);
          received_.push_back(buffer_);
          cv_.notify_all();
        },
        buffer_, topic);
  }
  Subscriber(const Subscriber&) = delete;
  Subscriber& operator=(const Subscriber&) = delete;
  ~Subscriber() { subscriber_.reset(); }

  std::vector<M> received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }

  // The newest record, or None before the first.
  std::optional<M> latest() const {
    std::lock_guard lock(mutex_);
    if (received_.empty()) return std::nullopt;
    return received_.back();
  }

  std::size_t count() const {
    std::lock_guard lock(mutex_);
    return received_.size();
  }

  // Forgets the records kept so far (a stream at 1 kHz adds up).
  void clear() {
    std::lock_guard lock(mutex_);
    received_.clear();
  }

  // Waits until `count` records have arrived or `timeout` seconds have passed.
  bool wait_for(std::size_t count, double timeout) const {
    py::gil_scoped_release release;
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::duration<double>(timeout),
                        [&] { return received_.size() >= count; });
  }

  void close() {
    py::gil_scoped_release release;
    subscriber_.reset();
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  std::vector<M> received_;
  M buffer_;  // written by the subscriber only, on zenoh's threads
  std::optional<zenoh_mdw::Subscriber<M>> subscriber_;
};

template <typename M>
void BindPublisher(py::module_& m, const char* name, int congestion_control, int priority,
                   int reliability) {
  py::class_<Publisher<M>>(m, name)
      .def(py::init<const Session&, const std::string&, int, int, int>(), py::arg("session"),
           py::arg("topic"), py::arg("congestion_control") = congestion_control,
           py::arg("priority") = priority, py::arg("reliability") = reliability)
      .def("publish", &Publisher<M>::publish, py::arg("message"))
      .def("close", &Publisher<M>::close);
}

template <typename Request, typename Reply>
void BindRpcClient(py::module_& m, const char* name) {
  py::class_<RpcClient<Request, Reply>>(m, name)
      .def(py::init<const Session&, const std::string&>(), py::arg("session"), py::arg("topic"))
      .def("call", &RpcClient<Request, Reply>::call, py::arg("request"), py::arg("timeout"))
      .def("close", &RpcClient<Request, Reply>::close);
}

template <typename M>
void BindSubscriber(py::module_& m, const char* name) {
  py::class_<Subscriber<M>>(m, name)
      .def(py::init<const Session&, const std::string&>(), py::arg("session"), py::arg("topic"))
      .def("received", &Subscriber<M>::received)
      .def("latest", &Subscriber<M>::latest)
      .def("count", &Subscriber<M>::count)
      .def("clear", &Subscriber<M>::clear)
      .def("wait_for", &Subscriber<M>::wait_for, py::arg("count"), py::arg("timeout"))
      .def("close", &Subscriber<M>::close);
}

void RegisterModule(py::module_& m) {
  m.doc() = "Test-only bindings of the korvo middleware and message records";
  py::register_exception<zenoh::ZException>(m, "ZException", PyExc_RuntimeError);

  auto vyr_module = m.def_submodule("vyr_msg");
  BindVyr(vyr_module);
  auto qel_module = m.def_submodule("qel_msg");
  BindQel(qel_module);
  auto std_module = m.def_submodule("std_msg");
  BindStd(std_module);

  py::class_<Session>(m, "Session")
      .def(py::init<const std::string&>(), py::arg("config_json5"))
      .def("close", &Session::close);

  // Defaults are the options the client declares these publishers with.
  BindPublisher<vyr::MotionCommands>(m, "MotionCommandsPublisher", KORVO_CONGESTION_CONTROL_DROP,
                                     KORVO_PRIORITY_REAL_TIME, KORVO_RELIABILITY_BEST_EFFORT);
  BindPublisher<stdm::Bool>(m, "BoolPublisher", KORVO_CONGESTION_CONTROL_BLOCK, KORVO_PRIORITY_DATA,
                            KORVO_RELIABILITY_RELIABLE);
  BindRpcClient<vyr::RPCRequest, vyr::RPCReply>(m, "VyrRpcClient");
  BindRpcClient<qel::RPCRequest, qel::RPCReply>(m, "QelRpcClient");
  BindSubscriber<vyr::RealtimeStates>(m, "RealtimeStatesSubscriber");
  BindSubscriber<qel::AllBasicStreamData>(m, "BasicStreamSubscriber");
  BindSubscriber<qel::AllExtraStreamData>(m, "ExtraStreamSubscriber");
  BindSubscriber<qel::EventLog>(m, "EventLogSubscriber");

  m.def("close_all_sessions", &CloseAllSessions,
        "Closes every session of this module that is still open.");
  py::module_::import("atexit").attr("register")(m.attr("close_all_sessions"));
}

}  // namespace
}  // namespace korvo::mdw_test

PYBIND11_MODULE(korvo_mdw_test, m) { korvo::mdw_test::RegisterModule(m); }
