#include "korvo/vyr/tool.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <thread>

#include "robot/robot_access.hpp"
#include "robot/robot_impl.hpp"

namespace korvo::vyr {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint16_t kOpAddTool = 30;
constexpr std::uint16_t kOpUpdateTool = 31;
constexpr std::uint16_t kOpRemoveTool = 32;
constexpr std::uint16_t kOpSwitchTool = 33;
constexpr std::uint16_t kOpToolList = 36;
constexpr char kFlange[] = "Flange";
constexpr char kPlanWithTool[] = "PLAN-ToolDynCaliWithTool-VYR";
constexpr char kPlanNoTool[] = "PLAN-ToolDynCaliNoTool-VYR";
// The robot applies a tool change within this time after accepting it.
constexpr auto kSettle = 100ms;
constexpr auto kCalibrationPoll = 1s;

std::string Prefix(const char* operation) {
  return std::string("[korvo::vyr::Tool::") + operation + "] ";
}

}  // namespace

class Tool::Impl {
 public:
  explicit Impl(Robot& robot)
      : link(vyr_impl::RobotAccess::Link(robot, "Tool")),
        single_arm_groups(link.Robot().info().single_arm_groups) {}
  virtual ~Impl() = default;

  vyr_impl::OperationsRPC& rpc() const { return link.client->operations_rpc(); }

  void RequireSingleArm(const char* operation, JointGroup group) const {
    vyr_impl::RequireSingleArm(single_arm_groups, group, Prefix(operation));
  }

  void RequireIdle(const char* operation) const { vyr_impl::RequireIdle(link, Prefix(operation)); }

  // The robot's tool names, with the "No reply" error of `operation`.
  std::vector<std::string> Names(const char* operation) const {
    std::vector<std::string> names;
    if (!rpc().GetStringList(kOpToolList, names).ok()) {
      throw std::runtime_error(Prefix(operation) + "No reply from the robot");
    }
    return names;
  }

  // Sends a tool operation, then waits until the robot has applied it.
  void Change(const char* operation, std::uint16_t op_code, const std::string& name,
              const ToolParams& params, JointGroup group = JointGroup::UNKNOWN) {
    if (!rpc().ToolOperation(op_code, name, params, group).ok()) {
      throw std::runtime_error(Prefix(operation) + "Failed to deliver the request");
    }
    std::this_thread::sleep_until(Clock::now() + kSettle);
  }

  vyr_impl::RobotLink link;
  // The robot's information does not change after its construction.
  std::map<JointGroup, std::string> single_arm_groups;
};

Tool::Tool(Robot& robot) : pimpl_(std::make_unique<Impl>(robot)) {}

Tool::~Tool() = default;

std::vector<std::string> Tool::list() const { return pimpl_->Names("list"); }

std::string Tool::name(JointGroup group) const {
  pimpl_->RequireSingleArm("name", group);
  std::string active;
  ToolParams params;
  if (!pimpl_->rpc().GetActiveToolParams(group, active, params).ok()) {
    throw std::runtime_error(Prefix("name") + "No reply from the robot");
  }
  return active;
}

bool Tool::exist(const std::string& name) const {
  const auto names = pimpl_->Names("exist");
  return std::find(names.begin(), names.end(), name) != names.end();
}

ToolParams Tool::params(JointGroup group) const {
  pimpl_->RequireSingleArm("params", group);
  std::string active;
  ToolParams params;
  if (!pimpl_->rpc().GetActiveToolParams(group, active, params).ok()) {
    throw std::runtime_error(Prefix("params") + "No reply from the robot");
  }
  return params;
}

ToolParams Tool::params(const std::string& name) const {
  if (!exist(name)) {
    throw std::invalid_argument(Prefix("params") + "The specified tool [" + name +
                                "] does not exist");
  }
  ToolParams params;
  if (!pimpl_->rpc().GetToolParams(name, params).ok()) {
    throw std::runtime_error(Prefix("params") + "No reply from the robot");
  }
  return params;
}

void Tool::Add(const std::string& name, const ToolParams& params) {
  pimpl_->RequireIdle("Add");
  if (exist(name)) {
    throw std::invalid_argument(Prefix("Add") + "The specified tool [" + name + "] already exists");
  }
  pimpl_->Change("Add", kOpAddTool, name, params);
}

void Tool::Switch(JointGroup group, const std::string& name) {
  pimpl_->RequireSingleArm("Switch", group);
  pimpl_->RequireIdle("Switch");
  if (!exist(name)) {
    throw std::invalid_argument(Prefix("Switch") + "The specified tool [" + name +
                                "] does not exist");
  }
  pimpl_->Change("Switch", kOpSwitchTool, name, ToolParams{}, group);
}

void Tool::Update(const std::string& name, const ToolParams& params) {
  pimpl_->RequireIdle("Update");
  if (!exist(name)) {
    throw std::invalid_argument(Prefix("Update") + "The specified tool [" + name +
                                "] does not exist");
  }
  pimpl_->Change("Update", kOpUpdateTool, name, params);
}

void Tool::Remove(const std::string& name) {
  pimpl_->RequireIdle("Remove");
  if (name == kFlange) {
    throw std::logic_error(Prefix("Remove") + "Removing [" + kFlange + "] is not allowed");
  }
  if (!exist(name)) {
    throw std::invalid_argument(Prefix("Remove") + "The specified tool [" + name +
                                "] does not exist");
  }
  pimpl_->Change("Remove", kOpRemoveTool, name, ToolParams{});
}

ToolParams Tool::CalibratePayloadParams(bool tool_mounted) {
  constexpr char kOperation[] = "CalibratePayloadParams";
  Robot::Impl& robot = pimpl_->link.Robot();
  // A lite instance receives no states: it could not tell when the plan ends or whether it
  // faulted, and would return whatever result the robot held before.
  if (robot.lite()) {
    throw std::logic_error(Prefix(kOperation) +
                           "Payload calibration is not available on a lite instance");
  }
  pimpl_->RequireIdle(kOperation);
  robot.SwitchMode(Mode::NRT_PLAN_EXECUTION);
  robot.ExecutePlan(tool_mounted ? kPlanWithTool : kPlanNoTool, false, true);
  while (robot.busy()) {
    // The last states received say busy for ever once the link is lost.
    if (!robot.connected()) {
      throw std::runtime_error(Prefix(kOperation) +
                               "Lost the connection to the robot during the calibration");
    }
    std::this_thread::sleep_until(Clock::now() + kCalibrationPoll);
  }
  // A plan cut short by a stop or an E-stop is no fault, yet its result is not a calibration.
  if (robot.fault() || !robot.operational() || robot.mode() != Mode::NRT_PLAN_EXECUTION) {
    throw std::runtime_error(Prefix(kOperation) + "Fault occurred during the calibration");
  }
  ToolParams result;
  if (!pimpl_->rpc().GetPayloadParams(result).ok()) {
    throw std::runtime_error(Prefix(kOperation) + "Failed to get the calibration result");
  }
  robot.SwitchMode(Mode::IDLE);
  return result;
}

}  // namespace korvo::vyr
