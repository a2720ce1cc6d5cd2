// Real-time streaming and non-real-time motion commands: checked, narrowed to floats, written
// into the publisher's message and published. Called at up to 1 kHz: no request to the robot, no
// allocation once the scratch lists have grown, locks only for copies.
#include <spdlog/spdlog.h>

#include <limits>
#include <stdexcept>

#include "korvo/vyr/name_tables.hpp"
#include "robot/robot_impl.hpp"

namespace korvo::vyr {
namespace {

using zenoh_msgs::vyr_msg::CartesianCommand;
using zenoh_msgs::vyr_msg::JointCommand;

constexpr double kPositiveLimit = std::numeric_limits<double>::epsilon();

void Narrow(const std::vector<double>& in, std::vector<float>& out) {
  out.resize(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) out[i] = static_cast<float>(in[i]);
}

template <std::size_t N>
void Narrow(const std::array<double, N>& in, std::array<float, N>& out) {
  for (std::size_t i = 0; i < N; ++i) out[i] = static_cast<float>(in[i]);
}

[[noreturn]] void Invalid(const std::string& message) { throw std::invalid_argument(message); }

std::string NotSingleArm(const char* operation, JointGroup g) {
  return std::string("[korvo::vyr::Robot::") + operation + "] The specified joint group [" +
         Robot::Impl::GroupName(g) +
         "] is not an existing single-arm joint group in the connected robot";
}

std::string NotSingleArmOrExtAxis(const char* operation, JointGroup g) {
  return std::string("[korvo::vyr::Robot::") + operation + "] The specified joint group [" +
         Robot::Impl::GroupName(g) +
         "] is not an existing single-arm or external axis joint group in the connected robot";
}

// Empties a reused joint command, keeping its storage: every field not set is empty or zero.
void Clear(JointCommand& c) {
  c.tau_d.clear();
  c.q_d.clear();
  c.dq_d.clear();
  c.ddq_d.clear();
  c.dq_max.clear();
  c.ddq_max.clear();
  c.friction_comp_scale = 0.0f;
  c.disable_gravity_comp = false;
  c.disable_soft_limits = false;
}

// A Cartesian target's four motion limits, all positive.
bool LimitsPositive(const NrtCartesianCmd& cmd) {
  return cmd.max_linear_vel >= kPositiveLimit && cmd.max_angular_vel >= kPositiveLimit &&
         cmd.max_linear_acc >= kPositiveLimit && cmd.max_angular_acc >= kPositiveLimit;
}

void ToCartesian(const NrtCartesianCmd& cmd, CartesianCommand& out) {
  Narrow(cmd.pose_d, out.pose_d);
  Narrow(cmd.wrench_d, out.wrench_d);
  Narrow(cmd.twist_d, out.twist_d);
  out.acc_d.fill(0.0f);
  out.max_linear_vel = static_cast<float>(cmd.max_linear_vel);
  out.max_angular_vel = static_cast<float>(cmd.max_angular_vel);
  out.max_linear_acc = static_cast<float>(cmd.max_linear_acc);
  out.max_angular_acc = static_cast<float>(cmd.max_angular_acc);
}

}  // namespace

std::string Robot::Impl::GroupName(JointGroup group) {
  const auto it = kJointGroupNames.find(group);
  return it == kJointGroupNames.end() ? "UNKNOWN" : it->second;
}

bool Robot::Impl::IsSingleArm(JointGroup group) const {
  return info_.single_arm_groups.count(group) != 0;
}

bool Robot::Impl::IsSingleArmOrExtAxis(JointGroup group) const {
  if (group == JointGroup::EXT_AXIS) return info_.all_groups.count(group) != 0;
  return IsSingleArm(group);
}

void Robot::Impl::CheckCommandPreconditions(const char* prefix,
                                            std::initializer_list<Mode> modes) const {
  if (!operational()) throw std::runtime_error(std::string(prefix) + " " + NotOperationalText());
  RequireMode(prefix, modes);
}

void Robot::Impl::WarnIfLate(const char* prefix) const {
  if (verbose_ && client->timeliness_failed()) {
    spdlog::warn(
        "{} Timeliness failure: the number of commands that failed to arrive the robot in real "
        "time has reached the specified limit. Performance degradation and unexpected behavior "
        "may occur, please use with caution!",
        prefix);
  }
}

void Robot::Impl::PublishCommands() {
  // A failed publication is logged by the publisher and not reported to the caller.
  client->motion_commands_pub().Publish();
}

void Robot::Impl::StreamJointTorque(const std::map<JointGroup, RtJointTorqueCmd>& cmds) {
  constexpr char kPrefix[] = "[korvo::vyr::Robot::StreamJointTorque]";
  CheckCommandPreconditions(kPrefix, {Mode::RT_JOINT_TORQUE});
  WarnIfLate(kPrefix);
  joint_scratch_.resize(cmds.size());
  groups_scratch_.resize(cmds.size());
  std::size_t i = 0;
  for (const auto& [g, cmd] : cmds) {
    if (!IsSingleArmOrExtAxis(g)) Invalid(NotSingleArmOrExtAxis("StreamJointTorque", g));
    if (cmd.tau_d.size() != static_cast<std::size_t>(info_.DoF.at(g))) {
      Invalid(std::string(kPrefix) +
              " Size of input vector [tau_d] does not match joint group DoF");
    }
    if (!(cmd.friction_comp_scale >= 0.0 && cmd.friction_comp_scale <= 100.0)) {
      Invalid(std::string(kPrefix) +
              " Input parameter [friction_comp_scale] is outside the valid range");
    }
    auto& out = joint_scratch_[i];
    Clear(out);
    Narrow(cmd.tau_d, out.tau_d);
    out.friction_comp_scale = static_cast<float>(cmd.friction_comp_scale);
    out.disable_gravity_comp = !cmd.enable_gravity_comp;
    out.disable_soft_limits = !cmd.enable_soft_limits;
    groups_scratch_[i++] = static_cast<std::uint16_t>(g);
  }
  client->motion_commands_pub().SetJointCommands(joint_scratch_, groups_scratch_,
                                                 ++command_counter);
  PublishCommands();
}

void Robot::Impl::StreamJointPosition(const std::map<JointGroup, RtJointPositionCmd>& cmds) {
  constexpr char kPrefix[] = "[korvo::vyr::Robot::StreamJointPosition]";
  CheckCommandPreconditions(kPrefix, {Mode::RT_JOINT_IMPEDANCE, Mode::RT_JOINT_POSITION});
  WarnIfLate(kPrefix);
  joint_scratch_.resize(cmds.size());
  groups_scratch_.resize(cmds.size());
  std::size_t i = 0;
  for (const auto& [g, cmd] : cmds) {
    if (!IsSingleArmOrExtAxis(g)) Invalid(NotSingleArmOrExtAxis("StreamJointPosition", g));
    const auto n = static_cast<std::size_t>(info_.DoF.at(g));
    if (cmd.q_d.size() != n) {
      Invalid(std::string(kPrefix) + " Size of input vector [q_d] does not match joint group DoF");
    }
    if (cmd.dq_d.size() != n) {
      Invalid(std::string(kPrefix) + " Size of input vector [dq_d] does not match joint group DoF");
    }
    if (cmd.ddq_d.size() != n) {
      Invalid(std::string(kPrefix) +
              " Size of input vector [ddq_d] does not match joint group DoF");
    }
    auto& out = joint_scratch_[i];
    Clear(out);
    out.tau_d.assign(n, 0.0f);
    Narrow(cmd.q_d, out.q_d);
    Narrow(cmd.dq_d, out.dq_d);
    Narrow(cmd.ddq_d, out.ddq_d);
    groups_scratch_[i++] = static_cast<std::uint16_t>(g);
  }
  client->motion_commands_pub().SetJointCommands(joint_scratch_, groups_scratch_,
                                                 ++command_counter);
  PublishCommands();
}

void Robot::Impl::StreamCartesianMotionForce(const std::map<JointGroup, RtCartesianCmd>& cmds) {
  constexpr char kPrefix[] = "[korvo::vyr::Robot::StreamCartesianMotionForce]";
  CheckCommandPreconditions(kPrefix, {Mode::RT_CARTESIAN_MOTION_FORCE});
  WarnIfLate(kPrefix);
  cartesian_scratch_.resize(cmds.size());
  groups_scratch_.resize(cmds.size());
  std::size_t i = 0;
  for (const auto& [g, cmd] : cmds) {
    if (!IsSingleArm(g)) Invalid(NotSingleArm("StreamCartesianMotionForce", g));
    auto& out = cartesian_scratch_[i];
    Narrow(cmd.pose_d, out.pose_d);
    Narrow(cmd.wrench_d, out.wrench_d);
    Narrow(cmd.twist_d, out.twist_d);
    Narrow(cmd.acc_d, out.acc_d);
    out.max_linear_vel = out.max_angular_vel = out.max_linear_acc = out.max_angular_acc = 0.0f;
    groups_scratch_[i++] = static_cast<std::uint16_t>(g);
  }
  if (cmds.empty()) {
    spdlog::warn("{} No valid Cartesian-controllable joint group in input, command ignored",
                 kPrefix);
    return;
  }
  client->motion_commands_pub().SetCartesianCommands(cartesian_scratch_, groups_scratch_,
                                                     ++command_counter);
  PublishCommands();
}

void Robot::Impl::SetTimelinessFailureLimit(double percentage) {
  if (!(percentage >= 0.0 && percentage <= 100.0)) {
    throw std::invalid_argument(
        "[korvo::vyr::Robot::SetTimelinessFailureLimit] Input parameter [percentage] is outside "
        "the valid range");
  }
  client->set_timeliness_limit(percentage);
}

void Robot::Impl::SendJointPosition(const std::map<JointGroup, NrtJointPositionCmd>& cmds) {
  constexpr char kPrefix[] = "[korvo::vyr::Robot::SendJointPosition]";
  CheckCommandPreconditions(kPrefix, {Mode::NRT_JOINT_IMPEDANCE, Mode::NRT_JOINT_POSITION});
  joint_scratch_.resize(cmds.size());
  groups_scratch_.resize(cmds.size());
  std::size_t i = 0;
  for (const auto& [g, cmd] : cmds) {
    if (!IsSingleArmOrExtAxis(g)) Invalid(NotSingleArmOrExtAxis("SendJointPosition", g));
    const auto n = static_cast<std::size_t>(info_.DoF.at(g));
    const std::pair<const std::vector<double>*, const char*> sizes[] = {
        {&cmd.q_d, "q_d"}, {&cmd.dq_d, "dq_d"}, {&cmd.dq_max, "dq_max"}, {&cmd.ddq_max, "ddq_max"}};
    for (const auto& [v, name] : sizes) {
      if (v->size() != n) {
        Invalid(std::string(kPrefix) + " Size of input vector [" + name +
                "] does not match joint group DoF");
      }
    }
    for (const auto* limits : {&cmd.dq_max, &cmd.ddq_max}) {
      for (const double v : *limits) {
        // Written as a negation so that NaN fails too.
        if (!(v >= kPositiveLimit)) {
          Invalid(std::string(kPrefix) +
                  " Input parameters [dq_max] and [ddq_max] must be greater than 0");
        }
      }
    }
    auto& out = joint_scratch_[i];
    Clear(out);
    Narrow(cmd.q_d, out.q_d);
    Narrow(cmd.dq_d, out.dq_d);
    Narrow(cmd.dq_max, out.dq_max);
    Narrow(cmd.ddq_max, out.ddq_max);
    groups_scratch_[i++] = static_cast<std::uint16_t>(g);
  }
  client->motion_commands_pub().SetJointCommands(joint_scratch_, groups_scratch_,
                                                 ++command_counter);
  PublishCommands();
}

void Robot::Impl::SendCartesianMotionForce(const std::map<JointGroup, NrtCartesianCmd>& cmds) {
  constexpr char kPrefix[] = "[korvo::vyr::Robot::SendCartesianMotionForce]";
  CheckCommandPreconditions(kPrefix, {Mode::NRT_CARTESIAN_MOTION_FORCE, Mode::NRT_SUPER_PRIMITIVE});
  cartesian_scratch_.resize(cmds.size());
  groups_scratch_.resize(cmds.size());
  std::size_t i = 0;
  for (const auto& [g, cmd] : cmds) {
    if (!IsSingleArm(g)) Invalid(NotSingleArm("SendCartesianMotionForce", g));
    if (!LimitsPositive(cmd)) {
      Invalid(std::string(kPrefix) +
              " Input parameters [max_linear_vel, max_angular_vel, max_linear_acc, "
              "max_angular_acc] must be greater than 0");
    }
    ToCartesian(cmd, cartesian_scratch_[i]);
    groups_scratch_[i++] = static_cast<std::uint16_t>(g);
  }
  if (cmds.empty()) {
    spdlog::warn("{} No valid Cartesian-controllable joint group in input, command ignored",
                 kPrefix);
    return;
  }
  client->motion_commands_pub().SetCartesianCommands(cartesian_scratch_, groups_scratch_,
                                                     ++command_counter);
  PublishCommands();
}

void Robot::Impl::SendCartesianMotionForceMultiWaypoint(
    const std::map<JointGroup, NrtCartesianMultiWaypointCmd>& cmds) {
  constexpr char kPrefix[] = "[korvo::vyr::Robot::SendCartesianMotionForceMultiWaypoint]";
  CheckCommandPreconditions(kPrefix, {Mode::NRT_SUPER_PRIMITIVE});
  waypoint_scratch_.resize(cmds.size());
  groups_scratch_.resize(cmds.size());
  std::size_t i = 0;
  for (const auto& [g, cmd] : cmds) {
    if (!IsSingleArm(g)) Invalid(NotSingleArm("SendCartesianMotionForceMultiWaypoint", g));
    if (cmd.waypoints.empty()) {
      Invalid(std::string(kPrefix) + " Input parameter [waypoints] cannot be empty");
    }
    auto& list = waypoint_scratch_[i];
    list.resize(cmd.waypoints.size());
    for (std::size_t w = 0; w < cmd.waypoints.size(); ++w) {
      if (!LimitsPositive(cmd.waypoints[w])) {
        Invalid(std::string(kPrefix) +
                " Input parameters [max_linear_vel, max_angular_vel, max_linear_acc, "
                "max_angular_acc] must be greater than 0");
      }
      ToCartesian(cmd.waypoints[w], list[w]);
    }
    groups_scratch_[i++] = static_cast<std::uint16_t>(g);
  }
  if (cmds.empty()) {
    spdlog::warn("{} No valid Cartesian-controllable joint group in input, command ignored",
                 kPrefix);
    return;
  }
  client->motion_commands_pub().SetWaypointCommands(waypoint_scratch_, groups_scratch_,
                                                    ++command_counter);
  PublishCommands();
}

}  // namespace korvo::vyr
