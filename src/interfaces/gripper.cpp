#include "korvo/vyr/gripper.hpp"

#include <spdlog/spdlog.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "interfaces/gripper_ranges.hpp"
#include "korvo/vyr/device.hpp"
#include "korvo/vyr/name_tables.hpp"
#include "robot/robot_access.hpp"
#include "robot/robot_impl.hpp"

namespace korvo::vyr {
namespace {

constexpr std::uint16_t kOpSyncGripperMap = 46;

std::string Prefix(const char* operation) {
  return std::string("[korvo::vyr::Gripper::") + operation + "] ";
}

}  // namespace

class Gripper::Impl {
 public:
  // The Device is built first, so a Robot without implementation or client is reported with the
  // Device's texts.
  explicit Impl(Robot& robot)
      : device(robot),
        link(vyr_impl::RobotAccess::Link(robot, "Gripper")),
        single_arm_groups(robot.info().single_arm_groups) {}
  virtual ~Impl() = default;

  // The entry of `group`; throws std::logic_error "No gripper enabled" for `operation` otherwise.
  const GripperParams& Enabled(const char* operation, JointGroup group) const {
    const auto it = enabled.find(group);
    if (it == enabled.end()) {
      throw std::logic_error(Prefix(operation) + "No gripper enabled for joint group [" +
                             Robot::Impl::GroupName(group) + "]");
    }
    return it->second;
  }

  // Sends commands to the gripper of `entry`, with the errors of `operation`.
  void Send(const char* operation, const GripperParams& entry,
            const std::map<std::string, DeviceCommandValue>& commands) {
    try {
      device.Command(entry.name, commands);
    } catch (const std::invalid_argument&) {
      throw std::invalid_argument(Prefix(operation) + "Gripper [" + entry.name +
                                  "] does not exist");
    } catch (const std::runtime_error&) {
      throw std::runtime_error(Prefix(operation) + "Failed to deliver the request");
    }
  }

  // Tells the robot which gripper each joint group uses.
  void SyncMap() {
    vyr_impl::OperationArgs args;
    for (const auto& [group, entry] : enabled) {
      args.joint_groups.push_back(group);
      args.strings.push_back(entry.name);
    }
    if (!link.client->operations_rpc().CallOperation(kOpSyncGripperMap, args).ok()) {
      throw std::runtime_error("[korvo::vyr::Gripper] Failed to sync enabled gripper map");
    }
  }

  Device device;
  vyr_impl::RobotLink link;
  // The robot's information does not change after its construction; a copy keeps this object
  // usable after the Robot handle is gone.
  std::map<JointGroup, std::string> single_arm_groups;
  std::map<JointGroup, GripperParams> enabled;
};

Gripper::Gripper(Robot& robot) : pimpl_(std::make_unique<Impl>(robot)) {}

Gripper::~Gripper() = default;

void Gripper::Enable(JointGroup group, const std::string& name) {
  vyr_impl::RequireSingleArm(pimpl_->single_arm_groups, group, Prefix("Enable"));
  if (const auto it = pimpl_->enabled.find(group); it != pimpl_->enabled.end()) {
    spdlog::warn(
        "[korvo::vyr::Gripper::Enable] Joint group [{}] already has an enabled gripper [{}], "
        "skipping",
        Robot::Impl::GroupName(group), it->second.name);
    return;
  }
  try {
    pimpl_->device.Enable(name);
  } catch (const std::invalid_argument&) {
    throw std::invalid_argument(Prefix("Enable") + "The specified gripper [" + name +
                                "] does not exist");
  } catch (const std::runtime_error&) {
    throw std::runtime_error(Prefix("Enable") + "Failed to deliver the request");
  }
  std::map<std::string, DeviceParamValue> params;
  try {
    params = pimpl_->device.params(name);
  } catch (const std::runtime_error&) {
    throw std::runtime_error(Prefix("Enable") + "Failed to fetch gripper parameters");
  }
  std::optional<GripperParams> entry;
  try {
    entry = vyr_impl::ParseGripperParams(name, params);
  } catch (const std::exception&) {
    // An allocation failure is a failed parse too.
  }
  if (!entry) throw std::runtime_error(Prefix("Enable") + "Failed to parse gripper parameters");
  pimpl_->enabled.emplace(group, std::move(*entry));
  try {
    pimpl_->SyncMap();
  } catch (...) {
    // Without the sync the robot does not use this gripper: a retried Enable must sync again
    // instead of skipping. The device stays enabled on the robot.
    pimpl_->enabled.erase(group);
    throw;
  }
}

void Gripper::Disable(JointGroup group) {
  const std::string name = pimpl_->Enabled("Disable", group).name;
  try {
    pimpl_->device.Disable(name);
  } catch (const std::invalid_argument&) {
    throw std::invalid_argument(Prefix("Disable") + "Gripper [" + name + "] does not exist");
  } catch (const std::runtime_error&) {
    throw std::runtime_error(Prefix("Disable") + "Failed to deliver the request");
  }
  pimpl_->enabled.erase(group);
  pimpl_->SyncMap();
}

void Gripper::Init(JointGroup group) {
  const auto& entry = pimpl_->Enabled("Init", group);
  pimpl_->Send("Init", entry, {{"isInit", true}});
}

void Gripper::Grasp(JointGroup group, double force) {
  const auto& entry = pimpl_->Enabled("Grasp", group);
  if (!vyr_impl::WithinRange(force, entry.min_force, entry.max_force)) {
    throw std::invalid_argument(Prefix("Grasp") +
                                "Input parameter [force] is outside the valid range");
  }
  pimpl_->Send(
      "Grasp", entry,
      {{"targetForce", vyr_impl::ClampIntoMargin(force, entry.min_force, entry.max_force)}});
}

void Gripper::Move(JointGroup group, double width, double velocity, double force_limit) {
  const auto& entry = pimpl_->Enabled("Move", group);
  if (!vyr_impl::WithinRange(width, entry.min_width, entry.max_width)) {
    throw std::invalid_argument(Prefix("Move") +
                                "Input parameter [width] is outside the valid range");
  }
  if (!vyr_impl::WithinRange(velocity, entry.min_vel, entry.max_vel)) {
    throw std::invalid_argument(Prefix("Move") +
                                "Input parameter [velocity] is outside the valid range");
  }
  if (!vyr_impl::WithinRange(force_limit, entry.min_force, entry.max_force)) {
    throw std::invalid_argument(Prefix("Move") +
                                "Input parameter [force_limit] is outside the valid range");
  }
  pimpl_->Send(
      "Move", entry,
      {{"targetWidth", vyr_impl::ClampIntoMargin(width, entry.min_width, entry.max_width)},
       {"targetVel", vyr_impl::ClampIntoMargin(velocity, entry.min_vel, entry.max_vel)},
       {"targetForce", vyr_impl::ClampIntoMargin(force_limit, entry.min_force, entry.max_force)}});
}

void Gripper::Stop(JointGroup group) {
  const auto& entry = pimpl_->Enabled("Stop", group);
  const auto current = states();
  const auto it = current.find(group);
  // A width that is not a number is no place to hold the fingers at.
  if (it == current.end() || !std::isfinite(it->second.width)) {
    throw std::runtime_error(Prefix("Stop") +
                             "Failed to fetch current gripper state for joint group [" +
                             Robot::Impl::GroupName(group) + "]");
  }
  // Go where the fingers already are, at the slowest velocity.
  pimpl_->Send(
      "Stop", entry,
      {{"targetWidth", it->second.width}, {"targetVel", entry.min_vel + vyr_impl::kGripperMargin}});
}

std::map<JointGroup, GripperParams> Gripper::params() const { return pimpl_->enabled; }

std::map<JointGroup, GripperStates> Gripper::states() const {
  const auto list = pimpl_->link.client->realtime_states_sub().gripper_states();
  const auto& enabled = pimpl_->enabled;
  if (list.size() != enabled.size()) {
    throw std::runtime_error("[korvo::vyr::Gripper::states] Size of gripper states container [" +
                             std::to_string(list.size()) +
                             "] does not match number of enabled grippers [" +
                             std::to_string(enabled.size()) + "]");
  }
  std::map<JointGroup, GripperStates> out;
  auto state = list.begin();
  for (const auto& [group, entry] : enabled) out.emplace_hint(out.end(), group, *state++);
  return out;
}

}  // namespace korvo::vyr
