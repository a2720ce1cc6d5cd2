// A simulated robot with physics on, driven through its own protocol entry points on a clock of
// the test's: streamed zero torque with gravity compensation holds the arm and without it the arm
// falls, a discrete joint target is reached by the physical joints, a softer joint impedance
// setting yields a slower response, and with physics off the joints still move kinematically.
#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "dynamics_fixture.hpp"
#include "sim/dynamics.hpp"
#include "sim/sim_robot.hpp"

namespace korvo::sim {
namespace {

using vyr::Mode;
namespace vyr_msg = zenoh_msgs::vyr_msg;

constexpr std::uint16_t kArm1 = 3;
constexpr unsigned kArmDoF = 7;

vyr_msg::RPCRequest Request(std::uint16_t op_code, std::vector<std::int32_t> ints = {},
                            std::vector<float> floats = {}) {
  vyr_msg::RPCRequest r;
  r.op_code = op_code;
  r.int_container = std::move(ints);
  r.float_container = std::move(floats);
  return r;
}

double MaxDistance(const std::vector<double>& a, const std::vector<double>& b) {
  double d = 0.0;
  for (std::size_t j = 0; j < a.size(); ++j) d = std::max(d, std::abs(a[j] - b[j]));
  return d;
}

std::string FlangeOf(const SimRobot& robot) {
  for (const auto& link : robot.model().tree().links()) {
    if (link.name.ends_with(".arm1.flange")) return link.name;
  }
  return "";
}

class PhysicalTwinTest : public ::testing::Test {
 protected:
  PhysicalTwinTest() : robot_("SN-twin", MakeRobotModel(vyr::ProductModel::Olvar_L, 0)) {
    robot_.MakeReady();
    robot_.EnablePhysics(true);
    // A posture away from the home one, where gravity pulls every joint.
    std::vector<double> q;
    for (const auto& j : robot_.model().joints()) q.push_back(j.q_min + 0.35 * (j.q_max - j.q_min));
    robot_.SetJointPositions(q);
  }
  // The robot at its home posture.
  void GoHome() {
    std::vector<double> home;
    for (const auto& j : robot_.model().joints()) home.push_back(j.home);
    robot_.SetJointPositions(home);
  }
  void SwitchTo(Mode mode) {
    ASSERT_TRUE(robot_.HandleVyr(Request(8, {static_cast<std::int32_t>(mode)})).success);
  }
  // Runs the robot for `seconds` of its clock, heartbeats included; `each` runs every millisecond.
  void Run(double seconds, const std::function<void()>& each = {}) {
    const int steps = static_cast<int>(seconds * 1000.0);
    for (int i = 0; i < steps; ++i) {
      now_ += std::chrono::milliseconds(1);
      robot_.OnHeartbeat(now_);
      if (each) each();
      robot_.Step(now_);
    }
  }
  void StreamTorque(bool gravity_compensation) {
    vyr_msg::MotionCommands commands;
    commands.joint_groups = {kArm1};
    vyr_msg::JointCommand c;
    c.tau_d.assign(kArmDoF, 0.0f);
    c.disable_gravity_comp = !gravity_compensation;
    c.friction_comp_scale = 100.0f;
    commands.joint_commands = {c};
    robot_.OnCommands(commands, now_);
  }

  SimRobot robot_;
  SimRobot::Clock::time_point now_ = SimRobot::Clock::now();
};

TEST_F(PhysicalTwinTest, StreamedZeroTorqueHoldsTheArmOnlyWithGravityCompensation) {
  SwitchTo(Mode::RT_JOINT_TORQUE);
  const auto start = robot_.q();
  Run(5.0, [&] { StreamTorque(true); });
  EXPECT_LT(MaxDistance(robot_.q(), start), 1e-3);
  Run(0.3, [&] { StreamTorque(false); });
  EXPECT_GT(MaxDistance(robot_.q(), start), 1e-2);
}

TEST_F(PhysicalTwinTest, ADiscreteJointTargetIsReachedByThePhysicalJoints) {
  SwitchTo(Mode::NRT_JOINT_POSITION);
  std::vector<double> target = robot_.q();
  for (auto& q : target) q += 0.2;
  vyr_msg::MotionCommands commands;
  commands.joint_groups = {kArm1};
  vyr_msg::JointCommand c;
  c.q_d.assign(target.begin(), target.end());
  commands.joint_commands = {c};
  robot_.OnCommands(commands, now_);
  Run(0.01);
  EXPECT_GT(MaxDistance(robot_.q(), target), 0.15);  // on its way, not there at once
  Run(4.0);
  EXPECT_LT(MaxDistance(robot_.q(), target), 2e-3);
  for (const double v : robot_.dq()) EXPECT_LT(std::abs(v), 1e-2);
}

TEST_F(PhysicalTwinTest, ASofterJointImpedanceRespondsMoreSlowly) {
  // How far each joint has come, after 0.1 s, towards a posture 0.01 rad away: a step small
  // enough that the stiff joints stay within their velocity limits.
  const auto progress = [&](float stiffness) {
    SwitchTo(Mode::IDLE);
    SwitchTo(Mode::RT_JOINT_IMPEDANCE);
    std::vector<float> settings(kArmDoF, stiffness);
    settings.insert(settings.end(), kArmDoF, 0.7f);
    vyr_msg::RPCRequest request = Request(71, {}, settings);
    request.joint_groups = {kArm1};
    EXPECT_TRUE(robot_.HandleVyr(request).success);
    const auto start = robot_.q();
    vyr_msg::MotionCommands commands;
    commands.joint_groups = {kArm1};
    vyr_msg::JointCommand c;
    for (const double q : start) c.q_d.push_back(static_cast<float>(q + 0.01));
    c.dq_d.assign(kArmDoF, 0.0f);
    commands.joint_commands = {c};
    Run(0.1, [&] { robot_.OnCommands(commands, now_); });
    const double moved = robot_.q()[3] - start[3];
    Run(1.0, [&] { robot_.OnCommands(commands, now_); });
    return moved;
  };
  const double stiff = progress(2000.0f);
  const double soft = progress(20.0f);
  EXPECT_GT(stiff, 0.008);
  EXPECT_LT(soft, 0.5 * stiff);
}

// The TCP position the robot streams for ARM_1.
Eigen::Vector3d Tcp(const SimRobot& robot) {
  const auto data = robot.BasicStreamData();
  const auto& p = data.cartesian_data.at(0).tcp_pose;
  return {p[0], p[1], p[2]};
}

// The external wrench on the TCP a stream entry carries, turned from the TCP's axes to the world's
// as the library does.
Vector6d WorldWrench(const zenoh_msgs::qel_msg::CartesianData& data) {
  const auto& p = data.tcp_pose;
  const Eigen::Matrix3d r =
      Eigen::Quaterniond(p[3], p[4], p[5], p[6]).normalized().toRotationMatrix();
  const auto& w = data.tcp_wrench_local;
  Vector6d world;
  world << r * Eigen::Vector3d(w[0], w[1], w[2]), r * Eigen::Vector3d(w[3], w[4], w[5]);
  return world;
}

class CartesianTwinTest : public PhysicalTwinTest {
 protected:
  // Real-time Cartesian control holding the TCP where it is, `wrench` commanded.
  void Hold(const std::array<float, 6>& wrench = {}) {
    SwitchTo(Mode::RT_CARTESIAN_MOTION_FORCE);
    const auto data = robot_.BasicStreamData();
    command_.joint_groups = {kArm1};
    vyr_msg::CartesianCommand c;
    std::copy(data.cartesian_data.at(0).tcp_pose.begin(), data.cartesian_data.at(0).tcp_pose.end(),
              c.pose_d.begin());
    c.wrench_d = wrench;
    command_.cartesian_commands = {c};
    home_ = Tcp(robot_);
  }
  void Stream(double seconds) {
    Run(seconds, [&] { robot_.OnCommands(command_, now_); });
  }
  vyr_msg::MotionCommands command_;
  Eigen::Vector3d home_;
};

TEST_F(CartesianTwinTest, APushDisplacesTheTcpAsItsStiffnessSaysAndItReturns) {
  Hold();
  Stream(0.5);
  EXPECT_LT((Tcp(robot_) - home_).norm(), 1e-4);
  robot_.ApplyWrench(FlangeOf(robot_), {20.0, 0.0, 0.0, 0.0, 0.0, 0.0}, 1.5);
  Stream(1.2);
  // The default stiffness is 2000 N/m: 20 N move the TCP 1 cm along x.
  EXPECT_NEAR((Tcp(robot_) - home_).x(), 0.01, 0.002);
  // The robot's estimate of the external torques is the push through the flange's Jacobian.
  const auto q = robot_.q();
  const auto r = test::MakeDynamicsRobot(vyr::ProductModel::Olvar_L);
  const Dynamics apart(robot_.model().urdf(), r.q_min, r.q_max);
  Vector6d push;
  push << 20.0, 0.0, 0.0, 0.0, 0.0, 0.0;
  const Eigen::VectorXd expected =
      apart.Jacobian(FlangeOf(robot_), Eigen::Map<const Eigen::VectorXd>(q.data(), 7)).transpose() *
      push;
  const auto tau_ext = robot_.BasicStreamData().tau_ext;
  for (int j = 0; j < 7; ++j) {
    EXPECT_NEAR(tau_ext[static_cast<std::size_t>(j)], expected[j],
                1e-3 + 1e-3 * std::abs(expected[j]));
  }
  EXPECT_GT(expected.cwiseAbs().maxCoeff(), 1.0);
  // The stream carries the push as the wrench on the TCP (the flange: no tool), in its axes.
  const auto wrench = WorldWrench(robot_.BasicStreamData().cartesian_data.at(0));
  EXPECT_LT((wrench - push).norm(), 1e-2) << wrench.transpose();
  Stream(3.0);
  for (const float t : robot_.BasicStreamData().tau_ext) EXPECT_EQ(t, 0.0f);
  // Back to within the dead band the joints' static friction leaves a 2000 N/m spring.
  EXPECT_LT((Tcp(robot_) - home_).norm(), 2e-3);
}

TEST_F(CartesianTwinTest, ForceControlPressesOnAPlaneWithTheCommandedForce) {
  SwitchTo(Mode::RT_CARTESIAN_MOTION_FORCE);
  vyr_msg::RPCRequest axes = Request(80, {0, 0, 1, 0, 0, 0}, {1.0f, 1.0f, 1.0f});
  axes.joint_groups = {kArm1};
  ASSERT_TRUE(robot_.HandleVyr(axes).success);
  Hold({0.0f, 0.0f, -20.0f, 0.0f, 0.0f, 0.0f});
  ContactPlane plane;
  plane.point = home_ - Eigen::Vector3d(0.0, 0.0, 0.005);
  plane.stiffness = 2e4;
  plane.damping = 200.0;
  robot_.SetContactPlane(plane);
  double sum = 0.0;
  Stream(2.5);
  for (int i = 0; i < 500; ++i) {
    Stream(0.001);
    sum += robot_.contact_forces().at(kArm1)[2];
  }
  EXPECT_NEAR(sum / 500.0, 20.0, 0.05 * 20.0);
  EXPECT_LT((Tcp(robot_) - home_).head<2>().norm(), 1e-3);
}

TEST_F(CartesianTwinTest, ForceControlPressesOnABoxAndTheStreamCarriesTheContactWrench) {
  SwitchTo(Mode::RT_CARTESIAN_MOTION_FORCE);
  vyr_msg::RPCRequest axes = Request(80, {0, 0, 1, 0, 0, 0}, {1.0f, 1.0f, 1.0f});
  axes.joint_groups = {kArm1};
  ASSERT_TRUE(robot_.HandleVyr(axes).success);
  Hold({0.0f, 0.0f, -15.0f, 0.0f, 0.0f, 0.0f});
  // The TCP hovers 5 mm above the top face of a box well wider than any drift.
  ContactBox box;
  box.center = home_ - Eigen::Vector3d(0.0, 0.0, 0.105);
  box.half_extents = {0.2, 0.2, 0.1};
  box.stiffness = 2e4;
  box.damping = 200.0;
  robot_.SetContactBox(box);
  Stream(2.5);
  Vector6d sum = Vector6d::Zero();
  for (int i = 0; i < 500; ++i) {
    Stream(0.001);
    sum += WorldWrench(robot_.BasicStreamData().cartesian_data.at(0));
  }
  const Vector6d mean = sum / 500.0;
  // The box pushes the TCP up with the commanded force: the force loop on the robot's estimate
  // makes up for what the joints' static friction holds back.
  EXPECT_NEAR(robot_.contact_forces().at(kArm1)[2], 15.0, 0.01 * 15.0);
  EXPECT_NEAR(mean[2], 15.0, 0.01 * 15.0);
  EXPECT_LT(mean.head<2>().norm(), 0.5);
  robot_.SetContactBox(std::nullopt);
  Stream(0.2);
  EXPECT_EQ(robot_.contact_forces().at(kArm1)[2], 0.0);
}

// Whether the robot raised an event with `id` since the last call.
bool Raised(SimRobot& robot, std::int32_t id) {
  const auto events = robot.TakeEvents();
  return std::any_of(events.begin(), events.end(), [&](const auto& e) { return e.id == id; });
}

TEST_F(PhysicalTwinTest, AJointDrivenToItsLimitPutsTheRobotInRecovery) {
  // The wrist just short of its upper limit, pushed slowly on to it.
  auto q = robot_.q();
  const double q_max = robot_.model().joints()[6].q_max;
  q[6] = q_max - 0.01;
  robot_.SetJointPositions(q);
  SwitchTo(Mode::RT_JOINT_TORQUE);
  robot_.TakeEvents();
  vyr_msg::MotionCommands commands;
  commands.joint_groups = {kArm1};
  vyr_msg::JointCommand c;
  c.tau_d = {0, 0, 0, 0, 0, 0, 0.5f};
  c.disable_soft_limits = true;  // the soft limits would keep it inside
  commands.joint_commands = {c};
  Run(1.0, [&] { robot_.OnCommands(commands, now_); });
  EXPECT_EQ(robot_.q()[6], q_max);
  EXPECT_EQ(robot_.mode(), Mode::IDLE);
  EXPECT_EQ(robot_.safety_state(), 9);    // RECOVERY
  EXPECT_EQ(robot_.system_state(), 18u);  // RECOVERY_EXTERNAL_AUTO
  EXPECT_TRUE(Raised(robot_, 3101));
  // Servo-on and the brakes do not leave it; recovery does, with the joint back inside.
  EXPECT_FALSE(robot_.HandleVyr(Request(1)).success);
  Run(0.6);
  EXPECT_EQ(robot_.safety_state(), 9);
  robot_.Recover();
  EXPECT_EQ(robot_.safety_state(), 12);
  EXPECT_LT(robot_.q()[6], q_max - 0.008);
  SwitchTo(Mode::RT_JOINT_POSITION);
}

// A built-in plan visits postures around home that keep clear of the joint limits: paused and
// resumed on its way, the physical joints settle on each without touching a limit.
TEST_F(PhysicalTwinTest, APlanPausedAndResumedFinishesWithoutTouchingALimit) {
  GoHome();
  SwitchTo(Mode::NRT_PLAN_EXECUTION);
  ASSERT_TRUE(robot_.HandleVyr(Request(20, {50})).success);  // velocity scale 50 %
  vyr_msg::RPCRequest plan = Request(22, {0});
  plan.string_container = {"PLAN-Inspection"};
  ASSERT_TRUE(robot_.HandleVyr(plan).success);
  robot_.TakeEvents();
  Run(1.2);  // on the way to the second posture, where the elbow would meet its lower limit
  ASSERT_TRUE(robot_.HandleVyr(Request(24)).success);  // pause
  Run(0.2);
  ASSERT_TRUE(robot_.HandleVyr(Request(25)).success);  // resume
  Run(15.0);
  const auto events = robot_.TakeEvents();
  const auto raised = [&](std::int32_t id) {
    return std::any_of(events.begin(), events.end(), [&](const auto& e) { return e.id == id; });
  };
  EXPECT_FALSE(raised(3101));
  EXPECT_TRUE(raised(1302));  // finished
}

TEST_F(PhysicalTwinTest, AJointDrivenTooFastRaisesAFaultThatClears) {
  SwitchTo(Mode::RT_JOINT_TORQUE);
  robot_.TakeEvents();
  vyr_msg::MotionCommands commands;
  commands.joint_groups = {kArm1};
  vyr_msg::JointCommand c;
  c.tau_d = {0, 0, 0, 0, 0, 0, 20.0f};
  commands.joint_commands = {c};
  Run(0.5, [&] { robot_.OnCommands(commands, now_); });
  EXPECT_EQ(robot_.mode(), Mode::IDLE);
  EXPECT_EQ(robot_.system_state(), 15u);  // FAULT_EXTERNAL_AUTO
  EXPECT_TRUE(Raised(robot_, 3102));
  // The controller stops the joint from where it is.
  Run(0.5);
  EXPECT_LT(std::abs(robot_.dq()[6]), 1e-3);
  EXPECT_TRUE(robot_.HandleVyr(Request(2)).success);
  EXPECT_EQ(robot_.safety_state(), 12);
  SwitchTo(Mode::RT_JOINT_TORQUE);
}

TEST_F(CartesianTwinTest, ANonRealTimeTargetIsReachedWhilePressingWithTheCommandedForce) {
  Hold();  // only to learn where the TCP is
  SwitchTo(Mode::IDLE);
  SwitchTo(Mode::NRT_CARTESIAN_MOTION_FORCE);
  vyr_msg::RPCRequest axes = Request(80, {0, 0, 1, 0, 0, 0}, {1.0f, 1.0f, 1.0f});
  axes.joint_groups = {kArm1};
  ASSERT_TRUE(robot_.HandleVyr(axes).success);
  ContactPlane plane;
  plane.point = home_ - Eigen::Vector3d(0.0, 0.0, 0.005);
  plane.stiffness = 2e4;
  plane.damping = 200.0;
  robot_.SetContactPlane(plane);
  // 3 cm along x, pressing down with 10 N.
  auto target = command_;
  target.cartesian_commands[0].pose_d[0] += 0.03f;
  target.cartesian_commands[0].wrench_d = {0.0f, 0.0f, -10.0f, 0.0f, 0.0f, 0.0f};
  robot_.OnCommands(target, now_);
  Run(4.0);
  EXPECT_NEAR(Tcp(robot_).x(), home_.x() + 0.03, 2e-3);
  EXPECT_NEAR(Tcp(robot_).y(), home_.y(), 2e-3);
  EXPECT_NEAR(robot_.contact_forces().at(kArm1)[2], 10.0, 0.05 * 10.0);
}

TEST_F(CartesianTwinTest, SuperPrimitiveModeTracksCartesianTargetsAndWaypoints) {
  Hold();  // only to learn where the TCP is
  SwitchTo(Mode::IDLE);
  SwitchTo(Mode::NRT_SUPER_PRIMITIVE);
  auto target = command_;
  target.cartesian_commands[0].pose_d[0] += 0.03f;
  robot_.OnCommands(target, now_);
  Run(3.0);
  EXPECT_NEAR(Tcp(robot_).x(), home_.x() + 0.03, 2e-3);
  // Waypoints: the TCP ends at the last one, back where it started.
  vyr_msg::MotionCommands waypoints;
  waypoints.joint_groups = {kArm1};
  auto via = target.cartesian_commands[0];
  via.pose_d[1] += 0.01f;
  waypoints.waypoint_commands = {{via, command_.cartesian_commands[0]}};
  robot_.OnCommands(waypoints, now_);
  Run(3.0);
  EXPECT_NEAR(Tcp(robot_).x(), home_.x(), 2e-3);
  EXPECT_NEAR(Tcp(robot_).y(), home_.y(), 2e-3);
}

TEST_F(CartesianTwinTest, AContactWrenchBeyondTheMaximumStopsTheMotion) {
  struct Case {
    float max_force;
    bool force_axis_x;
    bool stops;
  };
  for (const auto& [max_force, force_axis_x, stops] :
       {Case{30.0f, false, false}, Case{10.0f, false, true}, Case{10.0f, true, false}}) {
    SCOPED_TRACE(std::to_string(max_force) + (force_axis_x ? " with force control along x" : ""));
    robot_.HandleVyr(Request(2));
    robot_.HandleVyr(Request(8, {1}));
    SwitchTo(Mode::RT_CARTESIAN_MOTION_FORCE);
    vyr_msg::RPCRequest axes = Request(80, {force_axis_x ? 1 : 0, 0, 0, 0, 0, 0}, {1, 1, 1});
    axes.joint_groups = {kArm1};
    ASSERT_TRUE(robot_.HandleVyr(axes).success);
    vyr_msg::RPCRequest limit = Request(72, {}, {max_force, max_force, max_force, 5, 5, 5});
    limit.joint_groups = {kArm1};
    ASSERT_TRUE(robot_.HandleVyr(limit).success);
    Hold();
    Stream(0.3);
    robot_.TakeEvents();
    robot_.ApplyWrench(FlangeOf(robot_), {20.0, 0.0, 0.0, 0.0, 0.0, 0.0}, 0.5);
    Stream(0.6);
    EXPECT_EQ(Raised(robot_, 3103), stops);
    EXPECT_EQ(robot_.mode(), stops ? Mode::IDLE : Mode::RT_CARTESIAN_MOTION_FORCE);
  }
}

TEST_F(PhysicalTwinTest, AToolsPayloadWeighsOnTheJoints) {
  // With the brakes on, the joint torque sensors read the links' weight.
  robot_.HandleVyr(Request(10, {1}));
  Run(0.01);
  const auto bare = robot_.BasicStreamData().tau;
  vyr_msg::RPCRequest add = Request(30);
  add.tool = {
      "Gauge", 2.0f, {0.0f, 0.0f, 0.1f}, {0.01f, 0.01f, 0.01f, 0, 0, 0}, {0, 0, 0.1f, 1, 0, 0, 0}};
  ASSERT_TRUE(robot_.HandleVyr(add).success);
  vyr_msg::RPCRequest mount = Request(33);
  mount.joint_groups = {kArm1};
  mount.tool.name = "Gauge";
  ASSERT_TRUE(robot_.HandleVyr(mount).success);
  Run(0.01);
  const auto loaded = robot_.BasicStreamData().tau;
  // The same arm, modelled apart with the tool's mass at its centre of mass.
  std::vector<double> q = robot_.q();
  Eigen::VectorXd lo(7), hi(7);
  for (int j = 0; j < 7; ++j) {
    lo[j] = robot_.model().joints()[static_cast<std::size_t>(j)].q_min;
    hi[j] = robot_.model().joints()[static_cast<std::size_t>(j)].q_max;
  }
  Dynamics apart(robot_.model().urdf(), lo, hi);
  const Eigen::Map<const Eigen::VectorXd> at(q.data(), 7);
  const Eigen::VectorXd g0 = apart.Gravity(at);
  Payload payload;
  payload.mass = 2.0;
  payload.com = {0.0, 0.0, 0.1};
  payload.inertia = Eigen::Matrix3d::Identity() * 0.01;
  apart.SetPayload(FlangeOf(robot_), payload);
  const Eigen::VectorXd g1 = apart.Gravity(at);
  for (int j = 0; j < 7; ++j) {
    EXPECT_NEAR(loaded[static_cast<std::size_t>(j)] - bare[static_cast<std::size_t>(j)],
                g1[j] - g0[j], 1e-3)
        << j;
  }
  EXPECT_GT((g1 - g0).cwiseAbs().maxCoeff(), 0.5);
}

// A loaded machine delays the simulator's loop: the physics integrates the longer periods stably,
// and no fault is made up.
TEST_F(PhysicalTwinTest, AStalledLoopCatchesUpWithoutShakingTheJoints) {
  SwitchTo(Mode::RT_JOINT_POSITION);
  const auto held = robot_.q();
  vyr_msg::MotionCommands hold;
  hold.joint_groups = {kArm1};
  vyr_msg::JointCommand c;
  c.q_d.assign(held.begin(), held.begin() + kArmDoF);
  c.dq_d.assign(kArmDoF, 0.0f);
  hold.joint_commands = {c};
  for (const int gap_ms : {5, 20, 40, 90}) {
    for (int i = 0; i < 10; ++i) {
      now_ += std::chrono::milliseconds(gap_ms);
      robot_.OnHeartbeat(now_);
      robot_.OnCommands(hold, now_);
      robot_.Step(now_);
    }
    EXPECT_EQ(robot_.mode(), Mode::RT_JOINT_POSITION) << gap_ms << " ms";
    EXPECT_LT(MaxDistance(robot_.q(), held), 0.01) << gap_ms << " ms";
    EXPECT_LT(MaxDistance(robot_.dq(), std::vector<double>(held.size(), 0.0)), 0.1)
        << gap_ms << " ms";
  }
}

// A cycle the machine delays, in the middle of a long move at full speed, is caught up without
// throwing the joints past their velocity limits: the move ends where it was going, no fault.
TEST_F(PhysicalTwinTest, AStalledLoopDuringAMoveKeepsTheVelocityLimits) {
  GoHome();
  SwitchTo(Mode::NRT_JOINT_POSITION);
  robot_.TakeEvents();
  vyr_msg::MotionCommands commands;
  commands.joint_groups = {kArm1};
  vyr_msg::JointCommand c;
  c.q_d.assign(kArmDoF, 0.0f);  // the elbow travels 1.8 rad
  commands.joint_commands = {c};
  robot_.OnCommands(commands, now_);
  double fastest = 0.0;  // per unit of each joint's velocity limit
  for (int i = 0; i < 4000; ++i) {
    now_ += std::chrono::milliseconds(i == 400 || i == 800 ? 30 : 1);
    robot_.OnHeartbeat(now_);
    robot_.Step(now_);
    for (std::size_t j = 0; j < kArmDoF; ++j) {
      fastest = std::max(fastest, std::abs(robot_.dq()[j]) / robot_.model().joints()[j].dq_max);
    }
  }
  EXPECT_LT(fastest, 1.1);
  EXPECT_FALSE(Raised(robot_, 3102));
  EXPECT_EQ(robot_.mode(), Mode::NRT_JOINT_POSITION);
  EXPECT_LT(MaxDistance(robot_.q(), std::vector<double>(kArmDoF, 0.0)), 2e-3);
}

// The drives give at most their torque limit, whatever a command asks: a huge finite torque
// moves the arm as the limit does and the state stays finite.
TEST_F(PhysicalTwinTest, AHugeTorqueCommandIsLimitedByTheDrives) {
  SwitchTo(Mode::RT_JOINT_TORQUE);
  vyr_msg::MotionCommands torque;
  torque.joint_groups = {kArm1};
  vyr_msg::JointCommand c;
  c.tau_d.assign(kArmDoF, 3e38f);
  c.friction_comp_scale = 100.0f;
  torque.joint_commands = {c};
  Run(0.05, [&] { robot_.OnCommands(torque, now_); });
  const auto q = robot_.q();
  const auto dq = robot_.dq();
  for (std::size_t j = 0; j < q.size(); ++j) {
    ASSERT_TRUE(std::isfinite(q[j]) && std::isfinite(dq[j])) << "joint " << j;
  }
}

TEST_F(PhysicalTwinTest, CommandsThatAreNotNumbersMoveNothing) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  SwitchTo(Mode::RT_JOINT_TORQUE);
  const auto start = robot_.q();
  vyr_msg::MotionCommands torque;
  torque.joint_groups = {kArm1};
  vyr_msg::JointCommand c;
  c.tau_d.assign(kArmDoF, 0.0f);
  c.tau_d[1] = nan;
  torque.joint_commands = {c};
  Run(0.5, [&] {
    StreamTorque(true);
    robot_.OnCommands(torque, now_);
  });
  for (const double q : robot_.q()) EXPECT_TRUE(std::isfinite(q));
  EXPECT_LT(MaxDistance(robot_.q(), start), 1e-3);

  SwitchTo(Mode::IDLE);
  SwitchTo(Mode::RT_CARTESIAN_MOTION_FORCE);
  vyr_msg::MotionCommands pose;
  pose.joint_groups = {kArm1};
  vyr_msg::CartesianCommand p;
  p.pose_d = {nan, 0.0f, 0.5f, 1.0f, 0.0f, 0.0f, 0.0f};
  pose.cartesian_commands = {p};
  Run(0.5, [&] { robot_.OnCommands(pose, now_); });
  for (const double q : robot_.q()) EXPECT_TRUE(std::isfinite(q));
  EXPECT_LT(MaxDistance(robot_.q(), start), 1e-2);
}

TEST_F(PhysicalTwinTest, WithPhysicsOffStreamedPositionsAreTakenAsTheyCome) {
  robot_.EnablePhysics(false);
  SwitchTo(Mode::RT_JOINT_POSITION);
  std::vector<double> target = robot_.q();
  target[2] += 0.05;
  vyr_msg::MotionCommands commands;
  commands.joint_groups = {kArm1};
  vyr_msg::JointCommand c;
  c.q_d.assign(target.begin(), target.end());
  commands.joint_commands = {c};
  Run(0.002, [&] { robot_.OnCommands(commands, now_); });
  EXPECT_LT(MaxDistance(robot_.q(), target), 1e-6);
}

}  // namespace
}  // namespace korvo::sim
