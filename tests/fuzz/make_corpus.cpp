// Writes the seed corpus of the fuzz targets from our own encoders and from what a simulated robot
// sends: fuzz_make_corpus <folder> writes <folder>/<target>/<name> for every target.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "client/crc32.hpp"
#include "middleware/serialization.hpp"
#include "msgs/qel_msg.hpp"
#include "msgs/std_msg.hpp"
#include "msgs/vyr_msg.hpp"
#include "robot/param_value_text.hpp"
#include "sim/robot_model.hpp"
#include "sim/sim_robot.hpp"
#include "sim_input.hpp"

namespace {

namespace fs = std::filesystem;
namespace vyr_msg = korvo::zenoh_msgs::vyr_msg;
namespace qel_msg = korvo::zenoh_msgs::qel_msg;
namespace std_msg = korvo::zenoh_msgs::std_msg;
namespace in = korvo::fuzz::sim_input;
using Bytes = std::vector<std::uint8_t>;
using korvo::vyr::ProductModel;

constexpr std::uint16_t kArm1 = 3;
constexpr std::uint16_t kArm2 = 4;

class Corpus {
 public:
  explicit Corpus(fs::path root) : root_(std::move(root)) {}

  void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
    const fs::path folder = root_ / target;
    fs::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out.good()) throw std::runtime_error("Cannot write " + (folder / name).string());
  }
  void Write(const std::string& target, const std::string& name, const std::string& text) {
    Write(target, name, Bytes(text.begin(), text.end()));
  }
  // A message of a decoder target: the type selector, then the payload.
  template <typename Message>
  void Message(const std::string& target, const std::string& name, std::uint8_t type,
               const Message& message) {
    Bytes bytes{type};
    const Bytes payload = korvo::zenoh_mdw::Encode(message);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    Write(target, name, bytes);
  }

 private:
  fs::path root_;
};

vyr_msg::RPCRequest Request(std::uint16_t op_code, std::vector<std::uint16_t> groups = {},
                            std::vector<std::int32_t> ints = {}, std::vector<float> floats = {},
                            std::vector<std::string> strings = {}) {
  vyr_msg::RPCRequest r;
  r.op_code = op_code;
  r.joint_groups = std::move(groups);
  r.int_container = std::move(ints);
  r.float_container = std::move(floats);
  r.string_container = std::move(strings);
  return r;
}

vyr_msg::ToolInfo Tool(const std::string& name) {
  vyr_msg::ToolInfo tool;
  tool.name = name;
  tool.mass = 0.8f;
  tool.CoM = {0.0f, 0.0f, 0.05f};
  tool.inertia = {0.001f, 0.001f, 0.001f, 0.0f, 0.0f, 0.0f};
  tool.tcp_location = {0.0f, 0.0f, 0.12f, 1.0f, 0.0f, 0.0f, 0.0f};
  return tool;
}

vyr_msg::JointCommand JointCommand(unsigned n, float q) {
  vyr_msg::JointCommand c;
  c.q_d.assign(n, q);
  c.dq_d.assign(n, 0.0f);
  c.ddq_d.assign(n, 0.0f);
  c.tau_d.assign(n, 0.0f);
  c.dq_max.assign(n, 1.0f);
  c.ddq_max.assign(n, 2.0f);
  c.friction_comp_scale = 1.0f;
  return c;
}

vyr_msg::CartesianCommand CartesianCommand(float z) {
  vyr_msg::CartesianCommand c;
  c.pose_d = {0.4f, 0.0f, z, 0.0f, 1.0f, 0.0f, 0.0f};
  c.max_linear_vel = 0.5f;
  c.max_angular_vel = 1.0f;
  c.max_linear_acc = 2.0f;
  c.max_angular_acc = 4.0f;
  return c;
}

void MessageSeeds(Corpus& corpus, korvo::sim::SimRobot& robot) {
  // VYR: requests, replies, states, commands (type bytes as fuzz_vyr_msg.cpp picks them).
  corpus.Message("vyr_msg", "request_mode", 0, Request(8, {}, {8}));
  corpus.Message("vyr_msg", "request_primitive", 0,
                 Request(21, {kArm1}, {0}, {}, {"MoveJ(target = 0 10 0 -90 0 80 0 0 0 0 0 0 0 )"}));
  auto with_tool = Request(31);
  with_tool.tool = Tool("gripper_tool");
  with_tool.bool_container = {true, false};
  with_tool.byte_container = {1, 2, 3};
  with_tool.float2d_container = {{1.0f, 2.0f}, {}};
  corpus.Message("vyr_msg", "request_tool", 0, with_tool);
  corpus.Message("vyr_msg", "reply_limits", 1, robot.HandleVyr(Request(6, {0})));
  corpus.Message("vyr_msg", "reply_globals", 1, robot.HandleVyr(Request(12)));
  corpus.Message("vyr_msg", "reply_tool", 1, robot.HandleVyr([] {
    auto r = Request(35);
    r.tool.name = "Flange";
    return r;
  }()));
  corpus.Message("vyr_msg", "states", 2, robot.RealtimeStates());
  vyr_msg::RealtimeStates states;
  states.busy = true;
  states.timeliness_failure_count = 3;
  states.mode = 5;
  states.gripper_states = {{0.04f, 10.0f, true}, {0.0f, 0.0f, false}};
  corpus.Message("vyr_msg", "states_grippers", 2, states);
  vyr_msg::MotionCommands joints;
  joints.stamp = 1234567;
  joints.joint_groups = {kArm1, kArm2};
  joints.joint_commands = {JointCommand(7, 0.1f), JointCommand(7, -0.1f)};
  corpus.Message("vyr_msg", "commands_joints", 3, joints);
  vyr_msg::MotionCommands cartesian;
  cartesian.joint_groups = {kArm1};
  cartesian.cartesian_commands = {CartesianCommand(0.3f)};
  cartesian.waypoint_commands = {{CartesianCommand(0.3f), CartesianCommand(0.35f)}};
  corpus.Message("vyr_msg", "commands_cartesian", 3, cartesian);

  // QEL (type bytes as fuzz_qel_msg.cpp picks them).
  corpus.Message("qel_msg", "request_groups", 0, qel_msg::RPCRequest{10, {0, 2, 3, 4}});
  corpus.Message("qel_msg", "reply_version", 1, robot.HandleQel({1, {}}));
  corpus.Message("qel_msg", "reply_primitives", 1, robot.HandleQel({3, {}}));
  corpus.Message("qel_msg", "reply_manipulability", 1, robot.HandleQel({9, {}}));
  corpus.Message("qel_msg", "reply_groups", 1, robot.HandleQel({10, {0, 2, 3, 4, 5}}));
  corpus.Message("qel_msg", "basic", 2, robot.BasicStreamData());
  corpus.Message("qel_msg", "extra", 3, robot.ExtraStreamData());
  qel_msg::EventLog event{3,
                          2001,
                          "E-stop pressed",
                          "Robot stopped and brakes engaged",
                          "An emergency stop button was pressed",
                          "Release the E-stop"};
  corpus.Message("qel_msg", "event", 4, event);
  corpus.Message("qel_msg", "event_utf8", 4,
                 qel_msg::EventLog{1, -5, "Gelenk \u00fcberlastet \u2713", "", "", ""});

  // std: the heartbeat alone, no type byte.
  corpus.Write("std_msg", "heartbeat_true", korvo::zenoh_mdw::Encode(std_msg::Bool{true}));
  corpus.Write("std_msg", "heartbeat_false", korvo::zenoh_mdw::Encode(std_msg::Bool{false}));
}

void ValueSeeds(Corpus& corpus, korvo::sim::SimRobot& robot) {
  using korvo::vyr::Coord;
  using korvo::vyr::JPos;
  using korvo::vyr_impl::EncodeValue;
  JPos jpos;
  jpos.q_m = {0, 10, 0, -90, 0, 80, 0};
  Coord coord;
  coord.position = {0.4, 0.0, 0.3};
  coord.orientation = {180.0, 0.0, 90.0};
  coord.ref_frame = {"WORLD", "WORLD_ORIGIN"};
  Coord referenced = coord;
  referenced.ref_q_m = {0, 10, 0, -90, 0, 80, 0};
  referenced.ref_q_e = {0.5, 0, 0, 0, 0, 0};
  const std::vector<std::pair<std::string, korvo::vyr::ParamValue>> values = {
      {"int", 42},
      {"double", -0.125},
      {"string", std::string("cell_a")},
      {"jpos", jpos},
      {"coord", coord},
      {"coord_referenced", referenced},
      {"ints", std::vector<int>{1, -2, 3}},
      {"doubles", std::vector<double>{0.5, 1e-7, 3e8}},
      {"strings", std::vector<std::string>{"a", "b", "c"}},
      {"jpos_list", std::vector<JPos>{jpos, jpos}},
      {"coord_list", std::vector<Coord>{coord, referenced}},
  };
  for (const auto& [name, value] : values) corpus.Write("param_value", name, EncodeValue(value));
  // What the robot reports: "name = value" texts of its global variables, the values alone.
  const auto globals = robot.HandleVyr(Request(12)).string_container;
  for (std::size_t i = 0; i < globals.size(); ++i) {
    const auto eq = globals[i].find(" = ");
    if (eq == std::string::npos) continue;
    corpus.Write("param_value", "reported_" + std::to_string(i), globals[i].substr(eq + 3));
  }
  corpus.Write("param_value", "int_beyond_range", std::string("99999999999 1"));
  corpus.Write("param_value", "lone_dash", std::string(" - "));
}

void UrdfSeeds(Corpus& corpus) {
  corpus.Write("urdf", "olvar_l", korvo::sim::MakeRobotModel(ProductModel::Olvar_L, 0).urdf());
  corpus.Write("urdf", "small", std::string(R"(<?xml version="1.0"?>
<robot name="small">
  <link name="base"/>
  <link name="upper">
    <inertial>
      <origin xyz="0 0 0.1" rpy="0 0 0"/>
      <mass value="1.5"/>
      <inertia ixx="0.01" ixy="0" ixz="0" iyy="0.01" iyz="0" izz="0.002"/>
    </inertial>
  </link>
  <link name="slide"/>
  <link name="wheel"/>
  <link name="tool"/>
  <joint name="j1" type="revolute">
    <parent link="base"/><child link="upper"/>
    <origin xyz="0 0 0.2" rpy="0 0 1.5708"/>
    <axis xyz="0 0 1"/>
    <limit lower="-2.9" upper="2.9" effort="80" velocity="2.1"/>
  </joint>
  <joint name="j2" type="prismatic">
    <parent link="upper"/><child link="slide"/>
    <axis xyz="1 0 0"/>
    <limit lower="0" upper="0.3" effort="200" velocity="0.5"/>
  </joint>
  <joint name="j3" type="continuous">
    <parent link="slide"/><child link="wheel"/>
    <axis xyz="0 1 0"/>
  </joint>
  <joint name="j4" type="fixed">
    <parent link="wheel"/><child link="tool"/>
    <origin xyz="0 0 0.05"/>
  </joint>
</robot>
)"));
}

// Sequences for the simulator target.
class Sequence {
 public:
  explicit Sequence(std::uint8_t config) : bytes_{config} {}
  Sequence& Vyr(const vyr_msg::RPCRequest& r) {
    in::AppendRecord(bytes_, in::kVyr, korvo::zenoh_mdw::Encode(r));
    return *this;
  }
  Sequence& Qel(const qel_msg::RPCRequest& r) {
    in::AppendRecord(bytes_, in::kQel, korvo::zenoh_mdw::Encode(r));
    return *this;
  }
  Sequence& Commands(const vyr_msg::MotionCommands& c) {
    in::AppendRecord(bytes_, in::kCommands, korvo::zenoh_mdw::Encode(c));
    return *this;
  }
  Sequence& Step(std::uint8_t ms) {
    in::AppendStep(bytes_, ms);
    return *this;
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

void SimSeeds(Corpus& corpus) {
  const std::string target = "sim_requests";
  const std::uint8_t olvar_l = 0, olvar_ll = 1, ultra = 4;
  const std::uint8_t ready = in::kReady, physics = in::kPhysics, ext = in::kExtAxes;
  const auto write = [&](const std::string& name, const Sequence& s) {
    corpus.Write(target, name, s.bytes());
  };
  const auto mode = [](std::int32_t m) { return Request(8, {}, {m}); };

  write("servo_on", Sequence(olvar_l).Vyr(Request(1)).Step(64).Vyr(Request(7)).Step(64));
  write("versions_and_limits", Sequence(ultra | ext)
                                   .Vyr(Request(3))
                                   .Vyr(Request(6, {0}))
                                   .Vyr(Request(6, {5}))
                                   .Qel({1, {}})
                                   .Qel({10, {0, 3, 5}}));
  write("primitive_movej",
        Sequence(olvar_l | ready)
            .Vyr(mode(8))
            .Vyr(Request(21, {kArm1}, {0}, {}, {"MoveJ(target = 0 10 0 -90 0 80 0 0 0 0 0 0 0 )"}))
            .Vyr([] {
              auto r = Request(21, {kArm1}, {0}, {}, {"Home()"});
              r.bool_container = {false};
              return r;
            }())
            .Step(64)
            .Qel({3, {}}));
  auto movel =
      Request(21, {kArm1}, {0}, {}, {"MoveL(target = 0.4 0 0.3 180 0 90 WORLD WORLD_ORIGIN )"});
  movel.bool_container = {false};
  write("primitive_movel",
        Sequence(olvar_ll | ready).Vyr(mode(8)).Vyr(movel).Step(32).Qel({3, {}}));
  write("plan", Sequence(olvar_l | ready)
                    .Vyr(mode(7))
                    .Vyr(Request(23))
                    .Vyr(Request(22, {}, {0}, {}, {"PLAN-PickAndPlace"}))
                    .Step(64)
                    .Vyr(Request(24))
                    .Vyr(Request(25))
                    .Vyr(Request(20, {}, {50}))
                    .Qel({4, {}})
                    .Vyr(Request(26)));
  write("globals",
        Sequence(olvar_l)
            .Vyr(Request(12))
            .Vyr(Request(13, {}, {}, {}, {"cycle_count = 7"}))
            .Vyr(Request(13, {}, {}, {}, {"pick_point = 0.5 0 0.2 180 0 0 WORLD WORLD_ORIGIN"}))
            .Vyr(Request(12)));
  vyr_msg::MotionCommands joints;
  joints.joint_groups = {kArm1};
  joints.joint_commands = {JointCommand(7, 0.2f)};
  write("rt_joint_position",
        Sequence(olvar_l | ready).Vyr(mode(5)).Commands(joints).Step(8).Commands(joints).Step(8));
  auto torque = joints;
  torque.joint_commands[0].tau_d.assign(7, 0.5f);
  write("rt_torque_physics",
        Sequence(olvar_l | ready | physics).Vyr(mode(2)).Commands(torque).Step(16));
  write("nrt_joint_impedance_physics",
        Sequence(olvar_l | ready | physics)
            .Vyr(mode(4))
            .Vyr(Request(71, {kArm1}, {}, std::vector<float>(14, 50.0f)))
            .Commands(joints)
            .Step(32));
  vyr_msg::MotionCommands cartesian;
  cartesian.joint_groups = {kArm1};
  cartesian.cartesian_commands = {CartesianCommand(0.3f)};
  write("cartesian", Sequence(olvar_l | ready)
                         .Vyr(mode(10))
                         .Vyr(Request(70, {kArm1}, {}, std::vector<float>(12, 500.0f)))
                         .Vyr(Request(81, {kArm1}, {}, {0, 0, 0, 1, 0, 0, 0}, {"TCP"}))
                         .Commands(cartesian)
                         .Step(32));
  vyr_msg::MotionCommands waypoints;
  waypoints.joint_groups = {kArm1};
  waypoints.waypoint_commands = {{CartesianCommand(0.3f), CartesianCommand(0.32f)}};
  write("cartesian_waypoints_physics",
        Sequence(olvar_l | ready | physics).Vyr(mode(10)).Commands(waypoints).Step(32));
  auto add_tool = Request(30);
  add_tool.tool = Tool("gripper_tool");
  auto select_tool = Request(32, {kArm1}, {}, {}, {"gripper_tool"});
  select_tool.tool.name = "gripper_tool";
  write("tools", Sequence(olvar_ll)
                     .Vyr(add_tool)
                     .Vyr(Request(36))
                     .Vyr(select_tool)
                     .Vyr([] {
                       auto r = Request(34, {kArm1});
                       return r;
                     }())
                     .Vyr(Request(33, {}, {}, {}, {"gripper_tool"})));
  write("devices", Sequence(olvar_ll)
                       .Vyr(Request(40))
                       .Vyr(Request(43, {}, {}, {}, {"Gripper1"}))
                       .Vyr(Request(41, {}, {1}, {}, {"Gripper1"}))
                       .Vyr(Request(45, {}, {}, {}, {"Gripper1"}))
                       .Vyr(Request(46, {kArm1}, {}, {}, {"Gripper1"})));
  write("work_coords",
        Sequence(olvar_l)
            .Vyr(Request(50, {}, {}, {0.1f, 0.2f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f}, {"table"}))
            .Vyr(Request(52))
            .Vyr(Request(53, {}, {}, {}, {"table"}))
            .Vyr(Request(54, {}, {}, {}, {"table"})));
  const Bytes content = {'t', 'r', 'a', 'j', '\n'};
  auto upload = Request(61, {}, {static_cast<std::int32_t>(korvo::vyr_impl::Crc32(content))}, {},
                        {"pick.traj"});
  upload.byte_container = content;
  write("files", Sequence(olvar_l)
                     .Vyr(upload)
                     .Vyr(Request(60))
                     .Vyr(Request(62, {}, {}, {}, {"pick.traj"}))
                     .Vyr(Request(63))
                     .Vyr(Request(5, {}, {}, {}, {"robot.urdf"})));
  write("safety", Sequence(olvar_l)
                      .Vyr(Request(100, {kArm1}, {}, std::vector<float>(14, 1.0f)))
                      .Vyr(Request(101, {kArm1}, {}, std::vector<float>(7, 1.0f)))
                      .Vyr(Request(103, {kArm1}, {1}))
                      .Vyr(Request(6, {kArm1})));
  write("brakes_and_faults",
        Sequence(olvar_l | ready)
            .Vyr(Request(10, {}, {1}))
            .Vyr(Request(2))
            .Vyr(Request(10, {}, {0}))
            .Step(64)
            .Vyr(Request(9, {}, {0, 1}, {}, {}))
            .Vyr(Request(11, {kArm1}, {}, {0.4f, 0.0f, 0.3f, 180.0f, 0.0f, 0.0f})));
  write("manipulability", Sequence(olvar_ll).Qel({9, {}}).Vyr(Request(37, {kArm1})));
  write("torque_calibration", Sequence(olvar_l | ready)
                                  .Vyr(mode(8))
                                  .Vyr([] {
                                    auto r = Request(
                                        21, {kArm1}, {0}, {},
                                        {"caliJointStaticTorqueChannelOffset(waitTime = 0.1)"});
                                    r.bool_container = {false};
                                    return r;
                                  }())
                                  .Step(64)
                                  .Vyr(Request(110, {kArm1}))
                                  .Step(64));
  auto oversized = Request(13, {}, {}, {}, {std::string(70000, 'x')});
  write("oversized", Sequence(olvar_l).Vyr(oversized));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_make_corpus <corpus folder>\n");
    return 2;
  }
  Corpus corpus{fs::path(argv[1])};
  korvo::sim::SimRobot robot("SN-corpus", korvo::sim::MakeRobotModel(ProductModel::Olvar_LL, 2));
  robot.MakeReady();
  robot.Step(korvo::sim::SimRobot::Clock::now());
  MessageSeeds(corpus, robot);
  ValueSeeds(corpus, robot);
  UrdfSeeds(corpus);
  SimSeeds(corpus);
  return 0;
}
